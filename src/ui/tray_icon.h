// SPDX-License-Identifier: MIT
#pragma once
// The tray icon: tooltip "Vantrel Client" until the client sets its state,
// the connected, disconnected and notice icons (the notice flashing between
// its two frames), the menu "Show Window" / "Exit", and a click on the
// notice that opens "Missing Files..". Where the desktop has no tray,
// available() is false and the window shows the notice instead.
// UI thread only.

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

namespace vantrel::ui {

class TrayIcon : public QObject {
  Q_OBJECT
 public:
  static constexpr const char* kTooltip = "Vantrel Client";
  static constexpr const char* kNotice = "Some shared files have been moved or deleted, click here";
  static constexpr int kFlashMs = 500;

  // With `available` false (no tray on this desktop) nothing is shown.
  explicit TrayIcon(bool available, QObject* parent = nullptr);
  ~TrayIcon() override;

  static QIcon iconFor(int id);
  // The client's state: an icon number (175, 199, 254), a tooltip ("" keeps
  // the tooltip) and the second frame to flash with (0: no flashing).
  void setState(int icon, const QString& tooltip, int flashIcon);
  void hide();
  // A message balloon over the icon; false (nothing shown) without a tray.
  bool showMessage(const QString& title, const QString& text, bool warning);
  QString lastMessage() const { return m_lastMessage; }

  bool available() const { return m_tray != nullptr; }
  int icon() const { return m_icon; }
  int shownIcon() const { return m_shown; }
  QString tooltip() const { return m_tooltip; }
  bool noticeShown() const { return m_flash != 0; }
  QMenu* menu() { return &m_menu; }
  // What a click on the icon does, as the tray would deliver it.
  void activate(QSystemTrayIcon::ActivationReason reason);

 signals:
  void showWindowRequested();
  void exitRequested();
  void noticeClicked();

 private:
  void show(int id);

  std::unique_ptr<QSystemTrayIcon> m_tray;
  QMenu m_menu;
  QTimer m_flashTimer;
  int m_icon = 0;
  int m_flash = 0;
  int m_shown = 0;
  QString m_tooltip = kTooltip;
  QString m_lastMessage;  // "title: text" of the last balloon
};

}  // namespace vantrel::ui
