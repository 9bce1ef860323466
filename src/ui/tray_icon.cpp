// SPDX-License-Identifier: MIT
#include "ui/tray_icon.h"

#include "state/client_state.h"

namespace vantrel::ui {

TrayIcon::TrayIcon(bool available, QObject* parent) : QObject(parent) {
  QAction* showWindow = m_menu.addAction("Show Window");
  QAction* exit = m_menu.addAction("Exit");
  connect(showWindow, &QAction::triggered, this, &TrayIcon::showWindowRequested);
  connect(exit, &QAction::triggered, this, &TrayIcon::exitRequested);
  connect(&m_flashTimer, &QTimer::timeout, this, [this] { show(m_shown == m_icon ? m_flash : m_icon); });
  m_icon = ClientState::kIconDisconnected;
  m_shown = m_icon;
  if (!available) return;
  m_tray = std::make_unique<QSystemTrayIcon>(iconFor(m_icon));
  m_tray->setToolTip(m_tooltip);
  m_tray->setContextMenu(&m_menu);
  connect(m_tray.get(), &QSystemTrayIcon::activated, this, &TrayIcon::activate);
  m_tray->show();
}

TrayIcon::~TrayIcon() = default;

QIcon TrayIcon::iconFor(int id) {
  switch (id) {
    case ClientState::kIconConnected:
      return QIcon(":/icons/tray-connected.svg");
    case ClientState::kIconNotice:
      return QIcon(":/icons/tray-notice-1.svg");
    case ClientState::kIconNoticeFlash:
      return QIcon(":/icons/tray-notice-2.svg");
    default:
      return QIcon(":/icons/tray-disconnected.svg");
  }
}

void TrayIcon::show(int id) {
  m_shown = id;
  if (m_tray) m_tray->setIcon(iconFor(id));
}

void TrayIcon::setState(int icon, const QString& tooltip, int flashIcon) {
  m_icon = icon;
  m_flash = flashIcon;
  if (!tooltip.isEmpty()) {
    m_tooltip = tooltip;
    if (m_tray) m_tray->setToolTip(tooltip);
  }
  show(icon);
  if (flashIcon != 0) {
    m_flashTimer.start(kFlashMs);
  } else {
    m_flashTimer.stop();
  }
}

void TrayIcon::hide() {
  m_flashTimer.stop();
  if (m_tray) m_tray->hide();
}

void TrayIcon::activate(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) return;
  if (m_flash != 0) {
    emit noticeClicked();
  } else {
    emit showWindowRequested();
  }
}

bool TrayIcon::showMessage(const QString& title, const QString& text, bool warning) {
  if (!m_tray) return false;
  m_lastMessage = title + ": " + text;
  m_tray->showMessage(title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 8000);
  return true;
}

}  // namespace vantrel::ui
