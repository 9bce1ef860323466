// SPDX-License-Identifier: MIT
#include "ui/client_actions.h"

#include "ui/client_settings_host.h"
#include "ui/settings_sheet.h"

namespace vantrel::ui {

void ClientActions::connectAgain() {
  // One login window at a time: the tray's menu stays usable while it is open.
  if (m_ui.loginWindowOpen() || m_ui.closing()) return;
  if (!m_app.LoginPhase() && m_ui.window() != nullptr) {
    // An update went to the launcher, which needs this process gone.
    m_ui.window()->endClient();
    return;
  }
  // A new login: the view on the right shows what the server says now.
  MainWindow* window = m_ui.window();
  if (window != nullptr && m_app.state().Connected()) {
    if (ItemView* shown = window->view(window->stack()->currentIndex())) shown->refresh();
  }
}

void ClientActions::openMissingFiles() {
  if (m_ui.closing() || m_ui.raiseMissingFiles()) return;
  m_app.core().OpenMissingFiles();
}

void ClientActions::openLog(QWidget* parent) {
  if (m_ui.closing()) return;
  // A window of its own (not a child of `parent`): this object owns it.
  (void)parent;
  if (!m_logWindow) m_logWindow = std::make_unique<LogWindow>();
  // The log opens during start-up; a window opened before it is fed from then on.
  if (!m_logFeed && m_app.log() != nullptr) m_logFeed = std::make_unique<LogFeed>(*m_app.log(), *m_logWindow);
  m_logWindow->show();
  m_logWindow->raise();
  m_logWindow->activateWindow();
}

void ClientActions::checkFirewall(QWidget* parent) {
  if (m_ui.closing()) return;
  ClientSettingsHost host(m_app);
  host.checkFirewallDirectly(parent);
}

void ClientActions::openSettings(QWidget* parent) {
  if (m_ui.closing()) return;
  ClientSettingsHost host(m_app);
  SettingsSheet sheet(host, parent);
  sheet.exec();
}

}  // namespace vantrel::ui
