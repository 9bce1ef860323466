// SPDX-License-Identifier: MIT
// vantrel-server: the reference central server. Runs until SIGINT or SIGTERM.

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/admin/admin_command.h"
#include "server/central_server.h"
#include "server/http/form_fields.h"
#include "server/http/proxy_header.h"
#include "server/storage/backend_factory.h"

namespace {

void usage() {
  std::fprintf(stdout,
               "usage: vantrel-server --db FILE|postgresql://... [--key FILE] --listen ADDR:PORT [--udp-port N]\n"
               "                      [--add-user-file FILE|-]...\n"
               "                      [--demo-catalogue] [--client-version N] [--update-dir DIR]\n"
               "                      [--update-comment TEXT] [--log FILE] [--log-requests] [--session-timeout S]\n"
               "                      [--db-replica URL]... [--hosts ADDR:PORT,ADDR:PORT...] [--proxy ADDR]...\n"
               "       vantrel-server admin --db FILE COMMAND...   (vantrel-server admin --help lists them)\n"
               "--client-version N is the newest client version announced at login (default %d);\n"
               "clients older than N are offered the regular files of --update-dir, served under\n"
               "/update/, with --update-comment shown in their update window.\n"
               "--db FILE is the SQLite database (created when missing); --db postgresql://... (or any\n"
               "libpq connection string) a PostgreSQL database that several server processes may share.\n"
               "--key FILE is the server key that seals the passwords (default: FILE.key beside a SQLite\n"
               "database; required with PostgreSQL, the same file for every process). --listen the address and\n"
               "port of the web site and the client requests, --udp-port the port for pings (7110),\n"
               "--add-user-file adds or updates the accounts of its lines, NAME:PASSWORD each (\"-\" reads\n"
               "standard input), --demo-catalogue fills an empty catalogue.\n"
               "--db-replica URL a PostgreSQL hot standby of --db that takes searches, listings and the web\n"
               "site's pages while it keeps up. --hosts the server hosts the discovery page spreads the\n"
               "clients over. --proxy the address of a proxy (haproxy) whose PROXY line or\n"
               "X-Forwarded-For header names the real address of a request.\n",
               vantrel::server::kDefaultClientVersion);
}

// A wrong command line: one line on standard error, the usage exit code.
int badCommandLine(const std::string& what) {
  std::fprintf(stderr, "vantrel-server: %s; see vantrel-server --help\n", what.c_str());
  return 2;
}

bool splitHostPort(std::string_view text, std::string& host, uint16_t& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  const auto p = vantrel::server::parseNumber(text.substr(colon + 1));
  if (!p || *p < 0 || *p > 65535) return false;
  host = std::string(text.substr(0, colon));
  // "[::]:7001" and "[::1]:7001": IPv6 in brackets.
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty() || host == "*") host = "0.0.0.0";
  if (host == "localhost") host = "127.0.0.1";
  port = static_cast<uint16_t>(*p);
  return true;
}

// The NAME:PASSWORD lines of a file ("-": standard input) into `users`.
// The password never shows in the process list.
bool readUsersFile(const std::string& path, std::vector<std::pair<std::string, std::string>>& users,
                   std::string& error) {
  std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "r");
  if (in == nullptr) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0 && text.size() < (1u << 20)) text.append(buffer, n);
  if (in != stdin) std::fclose(in);
  std::memset(buffer, 0, sizeof buffer);
  const bool ok = vantrel::server::parseUsersText(text, users, error);
  if (!ok) error = path + " " + error;
  std::fill(text.begin(), text.end(), '\0');
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "admin") {
    return vantrel::server::runAdmin(argc - 2, argv + 2, stdin, stdout, stderr);
  }
  vantrel::server::ServerOptions options;
  bool haveListen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--db" && hasValue) {
      options.dbPath = argv[++i];
    } else if (arg == "--key" && hasValue) {
      options.keyPath = argv[++i];
    } else if (arg == "--listen" && hasValue) {
      haveListen = splitHostPort(argv[++i], options.listenAddress, options.port);
      if (!haveListen) {
        return badCommandLine("--listen wants ADDR:PORT");
      }
    } else if (arg == "--udp-port" && hasValue) {
      const auto p = vantrel::server::parseNumber(argv[++i]);
      if (!p || *p < 0 || *p > 65535) {
        return badCommandLine("--udp-port wants a port number");
      }
      options.udpPort = static_cast<uint16_t>(*p);
    } else if (arg == "--add-user" && hasValue) {
      const std::string_view spec = argv[++i];
      const size_t colon = spec.find(':');
      if (colon == std::string_view::npos) {
        return badCommandLine("--add-user wants NAME:PASSWORD");
      }
      // Kept for demos, but the command line is visible to every user of
      // this computer for as long as the server runs.
      std::fprintf(stderr,
                   "vantrel-server: warning: the password given with --add-user can be read by anyone who lists "
                   "this computer's processes; use it for demonstrations only\n");
      options.users.emplace_back(spec.substr(0, colon), spec.substr(colon + 1));
    } else if (arg == "--add-user-file" && hasValue) {
      std::string error;
      if (!readUsersFile(argv[++i], options.users, error)) return badCommandLine("--add-user-file: " + error);
    } else if (arg == "--client-version" && hasValue) {
      const auto v = vantrel::server::parseNumber(argv[++i]);
      if (!v || *v < 1 || *v > INT32_MAX) {
        return badCommandLine("--client-version wants a version number above 0");
      }
      options.clientVersion = static_cast<int>(*v);
    } else if (arg == "--update-dir" && hasValue) {
      options.updateDir = argv[++i];
    } else if (arg == "--update-comment" && hasValue) {
      options.updateComment = argv[++i];
    } else if (arg == "--log" && hasValue) {
      options.logPath = argv[++i];
    } else if (arg == "--log-requests") {
      options.logRequests = true;
    } else if (arg == "--session-timeout" && hasValue) {
      const auto s = vantrel::server::parseNumber(argv[++i]);
      if (!s || *s < 1) return badCommandLine("--session-timeout wants a number of seconds above 0");
      options.sessionTimeoutSeconds = *s;
    } else if (arg == "--db-replica" && hasValue) {
      options.replicas.emplace_back(argv[++i]);
    } else if (arg == "--hosts" && hasValue) {
      std::string_view list = argv[++i];
      while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        // The page names the address only: a client keeps its own server port.
        if (item.empty()) return badCommandLine("--hosts has an empty entry");
        std::string host(item);
        uint16_t port = 0;
        const bool withPort = item.find(':') == item.rfind(':') || item.front() == '[';
        if (withPort && item.find(':') != std::string_view::npos && !splitHostPort(item, host, port)) host.clear();
        if (host.empty() || host == "0.0.0.0" || host.size() > 29 || host.find_first_of("&< \t") != std::string::npos) {
          return badCommandLine("--hosts wants ADDR[:PORT],ADDR[:PORT]... (not \"" + std::string(item) + "\")");
        }
        options.hosts.push_back(host);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      }
    } else if (arg == "--proxy" && hasValue) {
      const std::string address = argv[++i];
      if (!vantrel::server::isAddressText(address)) return badCommandLine("--proxy wants an IP address");
      options.proxies.push_back(address);
    } else if (arg == "--demo-catalogue") {
      options.demoCatalogue = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else if (!hasValue && (arg == "--db" || arg == "--key" || arg == "--listen" || arg == "--udp-port" || arg == "--add-user" || arg == "--add-user-file" ||
                             arg == "--client-version" || arg == "--update-dir" || arg == "--update-comment" ||
                             arg == "--log" || arg == "--session-timeout" ||
                             arg == "--db-replica" || arg == "--hosts" || arg == "--proxy")) {
      return badCommandLine(std::string(arg) + " needs a value");
    } else {
      return badCommandLine("unknown option " + std::string(arg));
    }
  }
  if (options.dbPath.empty()) return badCommandLine("--db FILE is required");
  if (!haveListen) return badCommandLine("--listen ADDR:PORT is required");
  if (!options.replicas.empty() && !vantrel::server::isPostgresTarget(options.dbPath)) {
    return badCommandLine("--db-replica needs a PostgreSQL --db");
  }
  if (!options.updateComment.empty() && options.updateDir.empty()) {
    return badCommandLine("--update-comment needs --update-dir");
  }

  // Every thread inherits the blocked signals; only sigwait below takes them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  vantrel::server::CentralServer server;
  std::string error;
  if (!server.start(options, error)) {
    server.log().error("cannot start: " + error);
    if (!options.logPath.empty()) std::fprintf(stderr, "vantrel-server: %s\n", error.c_str());
    return 1;
  }
  const bool v6 = options.listenAddress.find(':') != std::string::npos;
  std::printf("vantrel-server listening on http://%s%s%s:%u/ and UDP port %u\n", v6 ? "[" : "",
              options.listenAddress.c_str(), v6 ? "]" : "", server.httpPort(), server.udpPort());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  server.log().info(std::string(received == SIGINT ? "SIGINT" : "SIGTERM") + " received, stopping");
  server.stop();
  return 0;
}
