// SPDX-License-Identifier: MIT
// vantrel-client as the launcher starts it ("/start", "/installed",
// "/uninstall", "/reg 'Name'"), running the start-up sequence with the
// terminal front end until the windowed one replaces it. Ends on SIGINT or
// SIGTERM through "Exit", forced. Without a window there is no one to type a
// login: with no stored user name it says what to do and ends.

#include "app/client_app.h"
#include "headless/terminal_ui.h"
#include "platform/app_paths.h"
#include "platform/stop_signals.h"

using namespace vantrel;

int main(int argc, char** argv) {
  const CommandLine commandLine = parseCommandLine(joinArguments(argc, argv));
  StopSignals::blockInThisProcess();

  TerminalUi ui;
  ui.setNoUserHint(ClientApp::kNoStoredLogin);
  AppOptions options;
  if (!commandLine.rootName.empty()) options.rootName = commandLine.rootName;
  options.sharedDataDir = sharedDataDirectory(programDirectory(), VANTREL_SHARED_DATA_DIR);
  ClientApp app(ui, options);
  if (!app.Initialise(commandLine)) return app.exitStatus();
  if (!app.state().Connected() && !app.hasStoredLogin()) {
    app.ForcedExit();
    return ClientApp::kExitNoStoredLogin;
  }
  // Log lines show on the terminal as well as in log.txt.
  app.log()->setMirror([&ui](std::string_view line) { ui.print(line); });
  ui.setLog(app.log());
  StopSignals().wait();
  app.ForcedExit();
  return 0;
}
