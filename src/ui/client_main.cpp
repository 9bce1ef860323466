// SPDX-License-Identifier: MIT
// vantrel-client with its window, as the launcher starts it ("/start",
// "/installed", "/uninstall", "/reg 'Name'"): the start-up sequence runs with
// the Qt front end; the client then lives in its window and the tray until
// "Exit". SIGINT and SIGTERM end it like "Exit", without asking. --help and a
// wrong command line are answered on the terminal without a display.

#include <QApplication>
#include <QSplitter>
#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

namespace {

constexpr int kExitUsage = 2;
// The window's size at the first start: the Outgoing list's six columns and
// the catalogue's tree and listing fit beside the bar.
constexpr int kFirstWidth = 960;
constexpr int kFirstHeight = 620;
constexpr int kExitNoDisplay = 1;

// Qt would abort in its platform plugin without a display; say what to do instead.
bool haveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const ClientOptions options = parseClientOptions(argc, argv);
  switch (options.action) {
    case ClientOptions::Action::Help:
      std::fputs(clientUsage(), stdout);
      return ClientApp::kExitOk;
    case ClientOptions::Action::Usage:
      std::fprintf(stderr, "vantrel-client: %s\n", options.error.c_str());
      std::fputs(clientUsage(), stdout);
      return kExitUsage;
    case ClientOptions::Action::Run:
      break;
  }
  const CommandLine& commandLine = options.launcher;
  std::string password;
  if (!options.passwordFile.empty() && !readPasswordFile(options.passwordFile, password)) {
    std::fprintf(stderr, "vantrel-client: cannot read the password file %s\n", options.passwordFile.c_str());
    return kExitUsage;
  }
  if (!haveDisplay()) {
    std::fprintf(stderr,
                 "vantrel-client: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Start it on the desktop, or run the client without a window: vantreld --help\n");
    return kExitNoDisplay;
  }
  StopSignals::blockInThisProcess();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(":/icons/vantrel.svg"));

  ui::QtUserInterface ui;
  AppOptions appOptions;
  if (!commandLine.rootName.empty()) appOptions.rootName = commandLine.rootName;
  appOptions.home = options.home;
  appOptions.sharedDataDir = sharedDataDirectory(programDirectory(), VANTREL_SHARED_DATA_DIR);
  appOptions.beforeLogin = [&options, &ui, &password](SettingsStore& settings) {
    const StartCredentials login = applyClientOptions(settings, options, password);
    if (!login.user.empty()) ui.setCredentials(login.user, login.password);
  };
  ClientApp app(ui, appOptions);
  ui::ClientActions actions(app, ui);
  // "Getting Started": the installed README, else the one of the source tree this was built from.
  for (const std::string& readme : {appOptions.sharedDataDir + "../doc/vantrel/README.md",
                                    std::string(VANTREL_SOURCE_README)}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(readme, ec)) {
      actions.setHelpFile(std::filesystem::weakly_canonical(readme, ec).string());
      break;
    }
  }
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
  if (!layout.restoreGeometry("main", window)) {
    // The first start: room for every view's columns beside the bar, within the screen.
    QSize first(kFirstWidth, kFirstHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      first = first.boundedTo(screen->availableGeometry().size() * 9 / 10);
    }
    window.resize(first.expandedTo(window.size()));
  }
  auto* splitter = window.findChild<QSplitter*>();
  if (splitter != nullptr) layout.restoreSplitter("main splitter", *splitter);
  StopSignals stopSignals([&window] { QMetaObject::invokeMethod(&window, [&window] { window.endClient(); }); });

  // Who is logged in, beside the connection state.
  QTimer userNote;
  QObject::connect(&userNote, &QTimer::timeout, &window, [&app, &window] {
    window.setUserText(app.state().Connected() ? ui::qs("Logged in as " + app.state().UserName()) : QString());
  });
  userNote.start(1000);

  const bool run = app.Initialise(commandLine);
  if (run && app.state().Connected()) {
    // For the terminal it was started from, and for scripts that wait for it.
    std::printf("vantrel-client: logged in as %s; file server on http://127.0.0.1:%d/ ; log %slog.txt\n",
                app.state().UserName().c_str(), app.core().fileServerPort(), app.home().c_str());
    std::fflush(stdout);
  }
  if (!run && app.anotherInstanceRuns()) {
    std::printf("vantrel-client: the File Manager already runs for these settings; its window was brought to the "
                "front\n");
    std::fflush(stdout);
  }
  if (run && app.state().Connected() && !options.shares.empty() && app.core().sharedFiles() != nullptr) {
    const int code = SharePersonal(app.protocol(), *app.core().sharedFiles(), absoluteSharePaths(options.shares));
    if (code != 0) std::printf("vantrel-client: sharing failed: %d %s\n", code, errorTitle(code).c_str());
    std::fflush(stdout);
  }
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
