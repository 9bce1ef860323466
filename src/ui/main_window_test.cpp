// SPDX-License-Identifier: MIT
// The main window: its title, size, menus, the outlook bar switching and
// refreshing the views, the status panes, the tray states with the flashing
// notice, the window without a tray, and what Close, Minimize, Connect and
// Exit do.

#include <gtest/gtest.h>

#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>

#include "state/client_state.h"
#include "ui/main_window.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_test_fakes.h"
#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;
using Calls = std::vector<std::string>;

QStringList menuTexts(QMenu* menu) {
  QStringList texts;
  for (QAction* action : menu->actions()) texts.append(action->text());
  return texts;
}

TEST(MainWindowTest, FrameMenusAndTheBarSwitchingViews) {
  FakeActions actions;
  MainWindow window(actions, true);
  EXPECT_EQ(window.windowTitle(), "Vantrel File Manager");
  EXPECT_EQ(window.size(), QSize(600, 500));
  QList<QAction*> menus = window.menuBar()->actions();
  // Every menu and item has its accelerator; Ctrl+Q exits.
  ASSERT_EQ(menus.size(), 3);
  EXPECT_EQ(menus[0]->text(), "&File");
  EXPECT_EQ(menuTexts(menus[0]->menu()), (QStringList{"&Connect", "&Minimize", "E&xit"}));
  EXPECT_EQ(window.action("Exit")->shortcut(), QKeySequence("Ctrl+Q"));
  EXPECT_EQ(menus[1]->text(), "&Settings");
  EXPECT_EQ(menuTexts(menus[1]->menu()), (QStringList{"&View Settings", "View &Log", "Check &Firewall"}));
  EXPECT_EQ(menus[2]->text(), "&Help");
  EXPECT_EQ(menuTexts(menus[2]->menu()), (QStringList{"Getting &Started", "&About Vantrel File Manager"}));
  EXPECT_EQ(menuTexts(window.tray().menu()), (QStringList{"Show Window", "Exit"}));
  EXPECT_EQ(menuTexts(window.bar()->contextMenu()), (QStringList{"S&mall Icons", "Lar&ge Icons"}));
  EXPECT_EQ(window.connectionPane()->text(), "Connection Status");
  EXPECT_EQ(window.transfersPane()->minimumWidth(), 230);

  QListWidget* items = window.bar()->items();
  ASSERT_EQ(items->count(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(items->item(i)->text(), MainWindow::kItems[i]);
    EXPECT_FALSE(items->item(i)->icon().isNull()) << i;
  }
  const int before = window.view(3)->refreshes();
  items->setCurrentRow(3);
  EXPECT_EQ(window.stack()->currentIndex(), 3);
  EXPECT_EQ(window.view(3)->refreshes(), before + 1);
  items->setCurrentRow(0);
  EXPECT_EQ(window.view(0)->refreshes(), 2);  // once at start, once now

  window.bar()->contextMenu()->actions()[0]->trigger();
  EXPECT_EQ(items->iconSize(), QSize(16, 16));
  window.bar()->contextMenu()->actions()[1]->trigger();
  EXPECT_EQ(items->iconSize(), QSize(32, 32));

  window.action("Connect")->trigger();
  EXPECT_EQ(actions.log.calls(), Calls{"connect"});

  window.action("View Settings")->trigger();
  window.action("View Log")->trigger();
  window.action("Check Firewall")->trigger();
  window.action("Getting Started")->trigger();
  window.action("About Vantrel File Manager")->trigger();
  EXPECT_EQ(actions.log.calls(), (Calls{"connect", "settings", "log", "firewall", "help", "about"}));
}

// The bar's section of the splitter is exactly as wide as the bar, at any
// window width: a wider section shows as an empty band beside the bar.
TEST(MainWindowTest, TheBarFillsItsSectionAtEveryWidth) {
  FakeActions actions;
  for (int first : {600, 1400}) {  // the first size the window is shown at, then the others
    MainWindow window(actions, true);
    auto* splitter = window.findChild<QSplitter*>();
    ASSERT_NE(splitter, nullptr);
    window.resize(first, 500);
    window.show();
    for (int width : {first, 900, 600, 1400}) {
      window.resize(width, 500);
      QApplication::processEvents();
      EXPECT_EQ(splitter->sizes()[0], window.bar()->width()) << first << " " << width;
      EXPECT_EQ(window.bar()->width(), window.bar()->maximumWidth()) << first << " " << width;
    }
  }
}

TEST(MainWindowTest, StatusAndTrayComeFromAnyThread) {
  QtUserInterface ui;
  FakeActions actions;
  MainWindow window(actions, true);
  ui.attachWindow(&window);
  window.show();
  std::thread([&] {
    ui.setStatusText("Connected", "Receiving: 1 files 12 k/s Sending: 2 files 30 k/s");
    ui.setTrayState(ClientState::kIconConnected, "Vantrel - 0 connected users, 0 k/s bandwidth used", 0);
  }).join();
  EXPECT_TRUE(waitUntil([&] { return window.connectionPane()->text() == "Connected"; }));
  EXPECT_EQ(window.transfersPane()->text(), "Receiving: 1 files 12 k/s Sending: 2 files 30 k/s");
  EXPECT_EQ(window.tray().icon(), ClientState::kIconConnected);
  EXPECT_EQ(window.tray().tooltip(), "Vantrel - 0 connected users, 0 k/s bandwidth used");
  screenshot(&window, "main-window");

  // The notice flashes between its two frames; a click on it opens "Missing Files..".
  std::thread([&] {
    ui.setTrayState(ClientState::kIconNotice, "Some shared files have been moved or deleted, click here",
                    ClientState::kIconNoticeFlash);
  }).join();
  EXPECT_TRUE(waitUntil([&] { return window.tray().shownIcon() == ClientState::kIconNoticeFlash; }, 2s));
  EXPECT_TRUE(waitUntil([&] { return window.tray().shownIcon() == ClientState::kIconNotice; }, 2s));
  window.tray().activate(QSystemTrayIcon::Trigger);
  EXPECT_EQ(actions.log.calls(), Calls{"missingFiles"});
  // Without the notice a click shows the window.
  window.hide();
  window.setTrayState(ClientState::kIconDisconnected, "", 0);
  EXPECT_EQ(window.tray().tooltip(), "Some shared files have been moved or deleted, click here");
  window.tray().activate(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.tray().shownIcon(), ClientState::kIconDisconnected);
}

TEST(MainWindowTest, CloseAndMinimizeHideTheWindowOnlyExitEnds) {
  FakeActions actions;
  MainWindow window(actions, true);
  window.show();
  window.close();
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(window.exiting());
  window.bringToFront();
  window.action("Minimize")->trigger();
  EXPECT_FALSE(window.isVisible());

  // Minimised by the window manager: to the tray as well, and back as it was.
  window.bringToFront();
  window.setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }));
  window.bringToFront();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_EQ(window.minimumSize(), MainWindow::kMinimumSize);

  // Exit refused (someone is downloading and the person said No): the window comes back.
  window.show();
  actions.exitConfirmed = false;
  window.action("E&xit")->trigger();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.exiting());

  bool closing = false;
  window.setOnClosing([&] { closing = true; });
  actions.exitConfirmed = true;
  window.tray().menu()->actions()[1]->trigger();  // the tray's "Exit"
  EXPECT_TRUE(closing);
  EXPECT_TRUE(window.exiting());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(actions.log.calls(), (Calls{"confirmExit", "confirmExit"}));
  clearQuit();
}

TEST(MainWindowTest, WithoutATrayTheWindowSaysSoOnceAndCarriesTheNotice) {
  FakeActions actions;
  MainWindow window(actions, false);
  int told = 0;
  WhenShown error("Error", [&](QWidget* box) {
    ++told;
    EXPECT_EQ(static_cast<QMessageBox*>(box)->text(), "Could not initialize tray icon");
    box->close();
  });
  window.show();
  EXPECT_TRUE(waitUntil([&] { return error.done(); }));
  window.hide();
  window.show();
  pumpFor(50ms);
  EXPECT_EQ(told, 1);
  // The next start on the same settings says nothing: the tray does not come
  // and go with the client.
  {
    MainWindow next(actions, false);
    next.show();
    pumpFor(400ms);
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(top);
      EXPECT_FALSE(box != nullptr && box->isVisible() && box->text() == MainWindow::kTrayProblem);
    }
  }

  // Closing minimises: a hidden window could not come back.
  window.close();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isMinimized());
  window.bringToFront();

  window.setTrayState(ClientState::kIconNotice, "Some shared files have been moved or deleted, click here",
                      ClientState::kIconNoticeFlash);
  EXPECT_TRUE(window.noticeBanner()->isVisible());
  EXPECT_EQ(window.noticeBanner()->text(), "Some shared files have been moved or deleted, click here");
  screenshot(&window, "main-window-no-tray-notice");
  window.noticeBanner()->click();
  EXPECT_EQ(actions.log.calls(), Calls{"missingFiles"});
  window.setTrayState(ClientState::kIconConnected, "", 0);
  EXPECT_FALSE(window.noticeBanner()->isVisible());
}

}  // namespace
}  // namespace vantrel::ui
