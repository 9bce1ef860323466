// SPDX-License-Identifier: MIT
// vantrel-client with its window, as the launcher starts it ("/start",
// "/installed", "/uninstall", "/reg 'Name'"): the start-up sequence runs with
// the Qt front end; the client then lives in its window and the tray until
// "Exit". SIGINT and SIGTERM end it like "Exit", without asking.

#include <QApplication>
#include <QSplitter>
#include <QSystemTrayIcon>

#include "app/client_app.h"
#include "app/personal_share.h"
#include "core/error_table.h"
#include "platform/app_paths.h"
#include "platform/stop_signals.h"
#include "ui/catalogue_views.h"
#include "ui/client_actions.h"
#include "ui/client_settings_host.h"
#include "ui/main_window.h"
#include "ui/drop_share.h"
#include "ui/qt_user_interface.h"
#include "ui/transfer_views.h"
#include "ui/window_layout.h"

using namespace vantrel;

int main(int argc, char** argv) {
  const CommandLine commandLine = parseCommandLine(joinArguments(argc, argv));
  StopSignals::blockInThisProcess();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(":/icons/vantrel.svg"));

  ui::QtUserInterface ui;
  AppOptions options;
  if (!commandLine.rootName.empty()) options.rootName = commandLine.rootName;
  options.sharedDataDir = sharedDataDirectory(programDirectory(), VANTREL_SHARED_DATA_DIR);
  ClientApp app(ui, options);
  ui::ClientActions actions(app, ui);
  // Before the window: its views read them until it goes.
  ui::WindowLayout layout(app.settings());
  ui::TransferViews transfers(app, layout);
  // Files and folders dropped on the window are offered for the personal group.
  ui::DropShare drops({[&app] { return app.state().Connected() && app.core().sharedFiles() != nullptr; },
                       [&app] { return personalGroupName(app.state().UserName()); },
                       [&app](const std::vector<std::string>& paths) {
                         SharedFileList* list = app.core().sharedFiles();
                         return list == nullptr ? err::kNotLoggedIn : SharePersonal(app.protocol(), *list, paths);
                       },
                       [](int code) { return errorTitle(code); }});
  ui::MainWindow window(actions, QSystemTrayIcon::isSystemTrayAvailable());
  ui.attachWindow(&window);
  ui::ClientSettingsHost setupHost(app);
  ui.setSetupHost(&setupHost);
  transfers.attach(window);
  drops.attach(window);
  ui::CatalogueViews catalogueViews(app, window);
  // Where the person left the window and its panes last time.
  layout.restoreGeometry("main", window);
  auto* splitter = window.findChild<QSplitter*>();
  if (splitter != nullptr) layout.restoreSplitter("main splitter", *splitter);
  StopSignals stopSignals([&window] { QMetaObject::invokeMethod(&window, [&window] { window.endClient(); }); });

  const bool run = app.Initialise(commandLine);
  if (run && !ui.closing()) QApplication::exec();
  if (run) {
    layout.saveGeometry("main", window);
    if (splitter != nullptr) layout.saveSplitter("main splitter", *splitter);
  }
  // Every window is gone and no question waits for one: shut down here.
  transfers.detach();
  ui.beginClosing();
  drops.finish();
  app.ForcedExit();
  // Started other than by the launcher (no "/start"): a failure status.
  return run ? ClientApp::kExitOk : app.exitStatus();
}
