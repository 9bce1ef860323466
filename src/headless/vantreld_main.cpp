// SPDX-License-Identifier: MIT
// vantreld: the client without a window, for servers, scripts and tests. It
// logs in, shares, serves its file server and keeps its session until SIGINT
// or SIGTERM, then shuts down (forced) and ends with 0. A failed login prints
// one line with the code and its title and ends with 2; a start-up step that
// failed (the page archive, the file server's port, the shared-file list)
// prints its own message and ends with 1. A wrong command line ends with 64.
// --search prints what the catalogue finds and ends; --download queues files
// of the catalogue in the download manager and reports on them, and with
// --exit-when-done ends once every download has ended (0 only when all are
// complete, 5 otherwise).

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/client_app.h"
#include "app/personal_share.h"
#include "core/error_table.h"
#include "headless/download_reporter.h"
#include "headless/firewall_command.h"
#include "headless/terminal_ui.h"
#include "platform/app_paths.h"
#include "platform/stop_signals.h"
#include "protocol/catalogue_listing.h"
#include "protocol/catalogue_requests.h"
#include "transfers/download_folder.h"
#include "transfers/download_links.h"
#include "transfers/download_manager.h"

using namespace vantrel;

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitLoginFailed = 2;
constexpr int kExitStartFailed = 1;
constexpr int kExitDownloadsFailed = 5;
constexpr int kExitSearchFailed = 6;
constexpr int kExitFirewallBlocked = 7;

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vantreld [--home DIR] [--user NAME] [--password-file FILE] [--server HOST:PORT]\n"
               "                [--port N] [--udp-port N] [--reg NAME] [--share PATH]... [-v] [--help]\n"
               "                [--search TEXT] [--download FILEID]... [--to DIR] [--exit-when-done]\n"
               "                [--no-port-mapping] [--check-firewall]\n"
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
               "  --search TEXT         print the catalogue's files matching TEXT, one a line: file ID, size in\n"
               "                        bytes, name and group ID, separated by tabs; then log out and end\n"
               "  --download FILEID     download that file of the catalogue (repeatable); prints progress, then\n"
               "                        \"done PATH\" or \"failed NAME: REASON\" for each file\n"
               "  --to DIR              where downloads go (default: the download folder setting, else the\n"
               "                        XDG download folder)\n"
               "  --exit-when-done      log out and end once every download has ended (those taken up from\n"
               "                        the last run too): exit status 0 when all completed, 5 otherwise\n"
               "  --no-port-mapping     do not open the ports on the home router (UPnP / NAT-PMP) in this run;\n"
               "                        by default the client asks the router to forward them to it\n"
               "  --check-firewall      after the login, let the server try to reach this client's ports,\n"
               "                        print the report, then log out and end: exit status 0 when both\n"
               "                        ports were reached, 7 otherwise\n"
               "  -v, --verbose         log detail too: connections, logins and pings\n"
               "  -h, --help            show this text\n"
               "\n"
               "Credentials not given come from the stored settings. Settings live in\n"
               "$VANTREL_CONFIG_DIR (else $XDG_CONFIG_HOME/vantrel/), data in --home. Downloads are\n"
               "written as NAME.part until complete; the list of downloads (NAMEdownloads.dat in --home)\n"
               "is taken up again at the next start.\n");
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
  std::string search, to;
  bool searchGiven = false;
  std::vector<int32_t> downloads;
  bool exitWhenDone = false;
  bool noPortMapping = false;
  bool checkFirewall = false;
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
    if (arg == "--exit-when-done") {
      o.exitWhenDone = true;
      continue;
    }
    if (arg == "--no-port-mapping") {
      o.noPortMapping = true;
      continue;
    }
    if (arg == "--check-firewall") {
      o.checkFirewall = true;
      continue;
    }
    static constexpr std::string_view kWithValue[] = {"--home",     "--user",     "--password-file", "--reg",
                                                      "--server",   "--share",    "--port",          "--udp-port",
                                                      "--search",   "--download", "--to"};
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
    } else if (arg == "--search") {
      if (value.empty()) return bad("--search wants a text");
      o.search = value;
      o.searchGiven = true;
    } else if (arg == "--download") {
      char* end = nullptr;
      const long id = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || id <= 0 || id > INT32_MAX) return bad("--download wants a file ID");
      o.downloads.push_back(static_cast<int32_t>(id));
    } else if (arg == "--to") {
      if (value.empty()) return bad("--to wants a folder");
      o.to = value;
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

// --search: one line per file; 0, or the code of the failed search.
int printSearch(ClientApp& app, const std::string& text) {
  SearchCriteria criteria;
  criteria.text = text;
  criteria.fetch = 500;
  std::string reply;
  const int code = Search(app.protocol(), criteria, nullptr, reply);
  if (code != 0) {
    std::printf("vantreld: search failed: %d %s\n", code, errorTitle(code).c_str());
    return code;
  }
  // The group is not part of a file entry's record; it is read from the reply's pieces.
  std::size_t start = 0;
  int count = 0;
  while (start <= reply.size()) {
    std::size_t end = reply.find("&&", start);
    if (end == std::string::npos) end = reply.size();
    const QueryFields fields = parseQueryFields(std::string_view(reply).substr(start, end - start));
    const auto field = [&](const char* name) {
      const auto it = fields.find(name);
      return it == fields.end() || it->second.empty() ? std::string() : it->second.front();
    };
    if (field("type") == "4") {
      std::printf("%s\t%s\t%s\t%s\n", field("id").c_str(), field("size").c_str(), field("name").c_str(),
                  field("groupid").c_str());
      ++count;
    }
    start = end + 2;
  }
  std::fprintf(stderr, "vantreld: %d files found\n", count);
  std::fflush(stdout);
  return 0;
}

// --download: each file ID through the catalogue into the download manager;
// the number that could not be queued.
int queueDownloads(ClientApp& app, TerminalUi& ui, const std::vector<int32_t>& ids, std::string to) {
  if (to.empty()) to = downloadFolder(app.settings());
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(to, ec);
  if (!ec) to = absolute.lexically_normal().string();
  if (to.back() != '/') to += '/';
  int failed = 0;
  for (const int32_t id : ids) {
    const FileLink link = fetchFileLink(app.protocol(), id);
    if (link.code != 0) {
      const std::string why = link.code == FileLink::kNotFound ? "no such file in the catalogue" : errorTitle(link.code);
      ui.print("failed " + std::to_string(id) + ": " + why);
      ++failed;
      continue;
    }
    FileEntry file;
    file.id = id;
    file.name = link.name;
    file.url = link.url;
    file.size = link.size;
    file.ownerId = link.ownerId;
    file.online = link.online ? 1 : 0;
    if (app.downloads().downloadFile(file, to) < 0) {
      ui.print("failed " + std::to_string(id) + ": the name cannot name a file");
      ++failed;
    }
  }
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int status = parse(argc, argv, o); status != 0) return status < 0 ? 0 : status;

  StopSignals::blockInThisProcess();

  TerminalUi ui;
  std::string password;
  if (!o.passwordFile.empty() && !readPasswordFile(o.passwordFile, password)) {
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
  app.core().allowPortMapping(!o.noPortMapping);

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

  if (o.checkFirewall) {
    const int result = runFirewallCheckCommand(app, ui);
    app.ForcedExit();
    return result == 0 ? 0 : kExitFirewallBlocked;
  }
  if (o.searchGiven) {
    const int code = printSearch(app, o.search);
    app.ForcedExit();
    return code == 0 ? 0 : kExitSearchFailed;
  }
  // Reports on the downloads (the ones taken up from the last run too) until
  // a signal, or with --exit-when-done until every one has ended.
  DownloadReporter reporter;
  reporter.noteExisting(app.downloads().downloads());
  const int notQueued = o.downloads.empty() ? 0 : queueDownloads(app, ui, o.downloads, o.to);
  while (signalWaiter.received() == 0) {
    const std::vector<DownloadInfo> all = app.downloads().downloads();
    for (const std::string& line : reporter.update(all, steadyNowMs())) ui.print(line);
    if (o.exitWhenDone && reporter.allEnded(all)) {
      const bool complete = notQueued == 0 && reporter.allCompleted(all);
      ui.print(complete ? "vantreld: every download completed, logging out"
                        : "vantreld: every download has ended, not all complete; logging out");
      app.ForcedExit();
      return complete ? 0 : kExitDownloadsFailed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  const int received = signalWaiter.wait();
  ui.print(received == StopSignals::kInterrupt ? "vantreld: interrupted, shutting down" : "vantreld: terminated, shutting down");
  app.ForcedExit();
  return 0;
}
