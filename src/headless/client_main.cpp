// SPDX-License-Identifier: MIT
// vantrel-client as the launcher starts it ("/start", "/installed",
// "/uninstall", "/reg 'Name'"), running the start-up sequence with the
// terminal front end until the windowed one replaces it. Ends on SIGINT or
// SIGTERM through "Exit", forced.

#include "app/client_app.h"
#include "headless/terminal_ui.h"
#include "platform/stop_signals.h"

using namespace vantrel;

int main(int argc, char** argv) {
  const CommandLine commandLine = parseCommandLine(joinArguments(argc, argv));
  StopSignals::blockInThisProcess();

  TerminalUi ui;
  AppOptions options;
  if (!commandLine.rootName.empty()) options.rootName = commandLine.rootName;
  options.sharedDataDir = VANTREL_SHARED_DATA_DIR;
  ClientApp app(ui, options);
  if (!app.Initialise(commandLine)) return 0;
  // Log lines show on the terminal as well as in log.txt.
  app.log()->setMirror([&ui](std::string_view line) { ui.print(line); });
  ui.setLog(app.log());
  StopSignals().wait();
  app.ForcedExit();
  return 0;
}
