// SPDX-License-Identifier: MIT
#include "ui/client_actions.h"

#include <QMessageBox>
#include <QUrl>

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

namespace {
// Kept once per settings root: the desktop's tray does not come and go.
constexpr const char* kTrayNoteSetting = "tray note shown";
}  // namespace

bool ClientActions::firstTrayProblem() {
  SettingsStore& settings = m_app.settings();
  if (settings.GetSettingNumber(kTrayNoteSetting) == 1) return false;
  settings.SetSettingNumber(kTrayNoteSetting, 1);
  return true;
}

QString ClientActions::aboutText() const {
  const QString help = m_helpFile.empty()
                           ? QString()
                           : QString("<p>Help: <a href=\"%1\">%2</a></p>")
                                 .arg(QUrl::fromLocalFile(qs(m_helpFile)).toString(), qs(m_helpFile).toHtmlEscaped());
  return QString("<p><b>Vantrel File Manager %1</b> (client version %2)</p>"
                 "<p>Licence: MIT</p>"
                 "<p>Log: %3log.txt<br>Settings: %4</p>%5")
      .arg(VANTREL_VERSION)
      .arg(ClientState::kOwnClientVersion)
      .arg(qs(m_app.home()).toHtmlEscaped(), qs(m_app.hive().filePath()).toHtmlEscaped(), help);
}

void ClientActions::openAbout(QWidget* parent) {
  if (m_ui.closing()) return;
  QMessageBox box(QMessageBox::Information, "About Vantrel File Manager", aboutText(), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::RichText);
  box.setTextInteractionFlags(Qt::TextBrowserInteraction);
  box.exec();
}

void ClientActions::openHelp() {
  if (m_ui.closing() || m_helpFile.empty()) return;
  m_ui.openUrl(QUrl::fromLocalFile(qs(m_helpFile)).toString().toStdString());
}

}  // namespace vantrel::ui
