// SPDX-License-Identifier: MIT
// vantreld: the client without a window, for servers, scripts and tests. It
// logs in, shares, serves its file server and keeps its session until SIGINT
// or SIGTERM, then shuts down (forced) and ends with 0. A failed login prints
// one line with the code and its title and ends with 2; a start-up step that
// failed (the page archive, the file server's port, the shared-file list)
// prints its own message and ends with 1. A wrong command line ends with 64.

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/client_app.h"
#include "app/personal_share.h"
#include "core/error_table.h"
#include "headless/terminal_ui.h"
#include "platform/app_paths.h"
#include "platform/stop_signals.h"

using namespace vantrel;

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitLoginFailed = 2;
constexpr int kExitStartFailed = 1;

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vantreld [--home DIR] [--user NAME] [--password-file FILE] [--server HOST:PORT]\n"
               "                [--port N] [--udp-port N] [--reg NAME] [--share PATH]... [-v] [--help]\n"
               "Logs in to the Vantrel server and shares until SIGINT or SIGTERM.\n"
               "\n"
               "  --home DIR            the client's data folder: log.txt, NAME.dat and the other lists\n"
               "  --user NAME           the user to log in as\n"
               "  --password-file FILE  read the password from the first line of FILE\n"
               "  --server HOST:PORT    the central server to use (no automatic search for one)\n"
               "  --port N              this client's file server port (0: one the system picks)\n"
               "  --udp-port N          this client's own UDP port for pings (0: one the system picks)\n"
               "  --reg NAME            the settings root to use, so that several clients can run side by side\n"
               "  --share PATH          share a file or a folder tree into your personal group (repeatable)\n"
               "  -v, --verbose         log detail too: connections, logins and pings\n"
               "  -h, --help            show this text\n"
               "\n"
               "Credentials not given come from the stored settings. Settings live in\n"
               "$VANTREL_CONFIG_DIR (else $XDG_CONFIG_HOME/vantrel/), data in --home.\n");
}

bool parsePort(std::string_view text, int& port, int lowest = 1) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < lowest || value > 65535) return false;
  port = value;
  return true;
}

struct Options {
  AppOptions app;
  std::string user, passwordFile, serverHost;
  int serverPort = 0, port = 0, udpPort = 0;
  bool portGiven = false, udpPortGiven = false;
  bool verbose = false;
  std::vector<std::string> shares;
};

// 0 to run, -1 to end with 0, else the exit status. A wrong command line is
// named in one line on standard error.
int parse(int argc, char** argv, Options& o) {
  auto bad = [](const std::string& what) {
    std::fprintf(stderr, "vantreld: %s; see vantreld --help\n", what.c_str());
    return kExitUsage;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return -1;
    }
    if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
      continue;
    }
    static constexpr std::string_view kWithValue[] = {"--home", "--user", "--password-file", "--reg",
                                                      "--server", "--share", "--port", "--udp-port"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) == std::end(kWithValue)) {
      return bad("unknown option " + std::string(arg));
    }
    if (i + 1 >= argc) return bad(std::string(arg) + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--home") {
      o.app.home = value;
    } else if (arg == "--user") {
      o.user = value;
    } else if (arg == "--password-file") {
      o.passwordFile = value;
    } else if (arg == "--reg") {
      o.app.rootName = value;
      if (o.app.rootName.empty() || o.app.rootName.size() > 99 || o.app.rootName.find('\\') != std::string::npos) {
        return bad("--reg wants a name of 1 to 99 characters without \\");
      }
    } else if (arg == "--server") {
      const std::size_t colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0 || !parsePort(std::string_view(value).substr(colon + 1), o.serverPort)) {
        return bad("--server wants HOST:PORT");
      }
      o.serverHost = value.substr(0, colon);
    } else if (arg == "--share") {
      o.shares.push_back(value);
    } else if (arg == "--port") {
      if (!parsePort(value, o.port, 0)) return bad("--port wants a port number (0: one the system picks)");
      o.portGiven = true;
    } else {
      if (!parsePort(value, o.udpPort, 0)) return bad("--udp-port wants a port number");
      o.udpPortGiven = true;
    }
  }
  return 0;
}

bool readPassword(const std::string& file, std::string& password) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::getline(in, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int status = parse(argc, argv, o); status != 0) return status < 0 ? 0 : status;

  StopSignals::blockInThisProcess();

  TerminalUi ui;
  std::string password;
  if (!o.passwordFile.empty() && !readPassword(o.passwordFile, password)) {
    std::fprintf(stderr, "vantreld: cannot read %s\n", o.passwordFile.c_str());
    return kExitUsage;
  }
  o.app.sharedDataDir = sharedDataDirectory(programDirectory(), VANTREL_SHARED_DATA_DIR);
  ClientApp app(ui, o.app);
  if (app.home().empty()) {
    std::fprintf(stderr, "vantreld: cannot create the home directory\n");
    return kExitUsage;
  }
  SettingsStore& settings = app.settings();
  settings.EnsureDefaults();
  if (!o.serverHost.empty()) {
    settings.SetSettingText("serveraddress", o.serverHost);
    settings.SetSettingNumber("serverport", o.serverPort);
    settings.SetSettingNumber("autofind", 0);
  }
  if (o.portGiven) settings.SetSettingNumber("port", o.port);
  if (o.udpPortGiven) settings.SetSettingNumber("udpport", o.udpPort);
  if (!o.user.empty() || !o.passwordFile.empty()) {
    const std::string user = o.user.empty() ? settings.GetSettingText("user") : o.user;
    if (o.passwordFile.empty()) password = user.empty() ? "" : settings.GetUserSecret(user, "password");
    ui.setCredentials(user, password);
  }

  if (!app.InitialiseWithoutLauncher()) {
    ui.print("vantreld: another client runs for these settings; it was asked to come forward");
    app.ForcedExit();
    return 0;
  }
  if (o.verbose) {
    app.log()->setDetailLevel(2);
    app.log()->setErrorLevel(2);
  }
  // Log lines show on the terminal as well as in log.txt.
  app.log()->setMirror([&ui](std::string_view line) { ui.print(line); });
  ui.setLog(app.log());

  // SIGINT and SIGTERM are taken on a thread of their own so that they also
  // end a login that is still waiting for the server.
  StopSignals signalWaiter([&app] { app.protocol().loginAbort = 1; });
  const bool goOn = app.LoginPhase();
  if (signalWaiter.received() != 0) {
    ui.print("vantreld: stopped during the login");
    app.ForcedExit();
    return 0;
  }
  if (!goOn) {
    ui.print("vantreld: the update was handed to the launcher");
    return 0;
  }
  if (!app.state().Connected()) {
    if (const std::string& failure = app.lastStartFailure(); !failure.empty()) {
      std::printf("vantreld: %s\n", failure.c_str());
      std::fflush(stdout);
      return kExitStartFailed;
    }
    const int code = app.lastLoginCode();
    if (code == 0) {
      std::printf("vantreld: not logged in: no user name and password\n");
      return kExitLoginFailed;
    }
    std::printf("vantreld: login failed: %d %s\n", code, errorTitle(code).c_str());
    std::fflush(stdout);
    return kExitLoginFailed;
  }
  const int port = app.core().fileServerPort();
  std::printf("vantreld: logged in as %s; file server on http://127.0.0.1:%d/ ; home %s\n",
              app.state().UserName().c_str(), port, app.home().c_str());
  // Requests from this computer pass the page check with any token that names an address.
  std::printf("vantreld: your pages: http://127.0.0.1:%d/template/client-info_template.html?token=1$127.0.0.1\n", port);
  std::fflush(stdout);

  if (!o.shares.empty() && app.core().sharedFiles() != nullptr) {
    std::vector<std::string> paths;
    for (const std::string& path : o.shares) {
      std::error_code ec;
      const auto absolute = std::filesystem::absolute(path, ec);
      paths.push_back(ec ? path : absolute.lexically_normal().string());
      if (paths.back().size() > 1 && paths.back().back() == '/') paths.back().pop_back();
    }
    const int code = SharePersonal(app.protocol(), *app.core().sharedFiles(), paths);
    if (code == 0) {
      std::printf("vantreld: sharing %zu files in the group %s\n", app.core().sharedFiles()->size(),
                  personalGroupName(app.state().UserName()).c_str());
    } else {
      std::printf("vantreld: sharing failed: %d %s\n", code, errorTitle(code).c_str());
    }
    std::fflush(stdout);
  }

  const int received = signalWaiter.wait();
  ui.print(received == StopSignals::kInterrupt ? "vantreld: interrupted, shutting down" : "vantreld: terminated, shutting down");
  app.ForcedExit();
  return 0;
}
