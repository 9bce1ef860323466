// SPDX-License-Identifier: MIT
#pragma once
// The main window "Vantrel File Manager": the outlook-style bar with its five
// items, the stacked area that shows (and refreshes) the selected item's view,
// the menus "&File" and "Settings", the two status panes, and the tray icon.
// Closing and "Minimize" hide the window (or minimise it where no tray
// exists); only "Exit" ends the client. UI thread only.

#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QStackedWidget>

#include <functional>
#include <memory>

#include "ui/tray_icon.h"

namespace vantrel::ui {

// What the window's commands do in the client.
class WindowActions {
 public:
  virtual ~WindowActions() = default;
  // "Connect": the login phase again, with its window.
  virtual void connectAgain() = 0;
  // "Exit": false when the person keeps the client running.
  virtual bool confirmExit() = 0;
  // A click on the notice of moved or deleted files.
  virtual void openMissingFiles() = 0;
  // "View Settings": the settings sheet over `parent`.
  virtual void openSettings(QWidget* parent) { (void)parent; }
  // "View Log": the log window, live.
  virtual void openLog(QWidget* parent) { (void)parent; }
  // "About": the version, the licence and where the log is.
  virtual void openAbout(QWidget* parent) { (void)parent; }
  // "Getting Started": the README's help, in the browser.
  virtual void openHelp() {}
  // Whether to say that the desktop has no tray: true only the first time for
  // these settings (it records that it was said).
  virtual bool firstTrayProblem() { return true; }
  // "Check Firewall": the firewall check on its own, over `parent`.
  virtual void checkFirewall(QWidget* parent) { (void)parent; }
};

// One item's view: empty until its content is built; counts its refreshes.
class ItemView : public QWidget {
  Q_OBJECT
 public:
  explicit ItemView(const QString& name, QWidget* parent = nullptr);
  virtual void refresh() { ++m_refreshes; }
  int refreshes() const { return m_refreshes; }

 private:
  int m_refreshes = 0;
};

// The outlook-style bar: the folder "Vantrel" and its items.
class OutlookBar : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* kFolder = "Vantrel";
  static constexpr const char* kSmallIcons = "S&mall Icons";
  static constexpr const char* kLargeIcons = "Lar&ge Icons";

  explicit OutlookBar(QWidget* parent = nullptr);
  QListWidget* items() const { return m_items; }
  QMenu* contextMenu() const { return m_menu; }
  void setLargeIcons(bool large);
  bool largeIcons() const { return m_large; }

 signals:
  void selected(int index);

 private:
  QListWidget* m_items;
  QMenu* m_menu;
  bool m_large = true;
};

// Indexes of the items of the bar, in the order of MainWindow::kItems.
inline constexpr int kIncomingItem = 3;
inline constexpr int kOutgoingItem = 4;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Vantrel File Manager";
  static constexpr const char* kItems[5] = {"Browse Vantrel", "My Groups", "Search", "Incoming", "Outgoing"};
  static constexpr const char* kTrayProblem = "Could not initialize tray icon";
  static constexpr const char* kCheckFirewall = "Check Firewall";
  static constexpr QSize kMinimumSize{480, 360};

  // `trayAvailable` false: the desktop has no tray (told once, on first show).
  MainWindow(WindowActions& actions, bool trayAvailable, QWidget* parent = nullptr);
  ~MainWindow() override;

  void setStatusText(const QString& connection, const QString& transfers);
  // The status bar's note of who is logged in ("" while nobody is).
  void setUserText(const QString& text);
  void setTrayState(int icon, const QString& tooltip, int flashIcon);
  void bringToFront();
  // "Minimize" and the close box.
  void minimizeToTray();
  // "Exit": asks when needed, then calls `onClosing` and ends the event loops.
  void exitClient();
  // Ends the client without asking (after "Exit" was confirmed, or when the
  // client must end, e.g. an update went to the launcher).
  void endClient();
  void setOnClosing(std::function<void()> onClosing) { m_onClosing = std::move(onClosing); }
  bool exiting() const { return m_exiting; }

  TrayIcon& tray() { return *m_tray; }
  OutlookBar* bar() const { return m_bar; }
  QStackedWidget* stack() const { return m_stack; }
  ItemView* view(int index) const;
  // Puts the built view of item `index` in place of its empty one; the window owns it.
  void setView(int index, ItemView* view);
  QLabel* connectionPane() const { return m_connection; }
  QLabel* transfersPane() const { return m_transfers; }
  QLabel* userPane() const { return m_user; }
  QPushButton* noticeBanner() const { return m_notice; }
  // The menu item with this text; its accelerator marks ("&") do not count.
  QAction* action(const QString& text) const;

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void select(int index);
  void openSettings();

  WindowActions& m_actions;
  std::unique_ptr<TrayIcon> m_tray;
  OutlookBar* m_bar;
  QStackedWidget* m_stack;
  QPushButton* m_notice;
  QLabel* m_connection;
  QLabel* m_transfers;
  QLabel* m_user;
  std::function<void()> m_onClosing;
  bool m_exiting = false;
  bool m_trayProblemShown = false;
};

}  // namespace vantrel::ui
