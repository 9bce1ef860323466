// SPDX-License-Identifier: MIT
// vantrel-client as the launcher starts it ("/start", "/installed",
// "/uninstall", "/reg 'Name'"), running the start-up sequence with the
// terminal front end until the windowed one replaces it. Ends on SIGINT or
// SIGTERM through "Exit", forced. Without a window there is no one to type a
// login: with no stored user name it says what to do and ends.

#include <cstdio>
#include <fstream>
#include <string>

#include "app/client_app.h"
#include "app/personal_share.h"
#include "core/error_table.h"
#include "headless/terminal_ui.h"
#include "platform/app_paths.h"
#include "platform/stop_signals.h"

using namespace vantrel;

namespace {
constexpr int kExitUsage = 2;
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
  StopSignals::blockInThisProcess();

  TerminalUi ui;
  ui.setNoUserHint(ClientApp::kNoStoredLogin);
  AppOptions appOptions;
  if (!commandLine.rootName.empty()) appOptions.rootName = commandLine.rootName;
  appOptions.home = options.home;
  appOptions.sharedDataDir = sharedDataDirectory(programDirectory(), VANTREL_SHARED_DATA_DIR);
  // The same options as the windowed client.
  appOptions.beforeLogin = [&options, &ui, &password](SettingsStore& settings) {
    const StartCredentials login = applyClientOptions(settings, options, password);
    if (!login.user.empty()) ui.setCredentials(login.user, login.password);
  };
  ClientApp app(ui, appOptions);
  if (!app.Initialise(commandLine)) return app.exitStatus();
  if (!app.state().Connected() && !app.hasStoredLogin()) {
    app.ForcedExit();
    return ClientApp::kExitNoStoredLogin;
  }
  // Log lines show on the terminal as well as in log.txt.
  app.log()->setMirror([&ui](std::string_view line) { ui.print(line); });
  ui.setLog(app.log());
  if (app.state().Connected() && !options.shares.empty() && app.core().sharedFiles() != nullptr) {
    const int code = SharePersonal(app.protocol(), *app.core().sharedFiles(), absoluteSharePaths(options.shares));
    if (code != 0) ui.print("vantrel-client: sharing failed: " + std::to_string(code) + " " + errorTitle(code));
  }
  StopSignals().wait();
  app.ForcedExit();
  return 0;
}
