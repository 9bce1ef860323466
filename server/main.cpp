// SPDX-License-Identifier: MIT
// vantrel-server: the reference central server. Runs until SIGINT or SIGTERM.

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "server/central_server.h"
#include "server/form_fields.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: vantrel-server --db FILE --listen ADDR:PORT [--udp-port N] [--add-user NAME:PASSWORD]...\n"
               "                      [--demo-catalogue] [--client-version N] [--update-dir DIR]\n"
               "                      [--update-comment TEXT]\n"
               "--client-version N is the newest client version announced at login (default %d);\n"
               "clients older than N are offered the regular files of --update-dir, served under\n"
               "/update/, with --update-comment shown in their update window.\n",
               vantrel::server::kDefaultClientVersion);
}

bool splitHostPort(std::string_view text, std::string& host, uint16_t& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  const auto p = vantrel::server::parseNumber(text.substr(colon + 1));
  if (!p || *p < 0 || *p > 65535) return false;
  host = std::string(text.substr(0, colon));
  if (host.empty() || host == "*") host = "0.0.0.0";
  if (host == "localhost") host = "127.0.0.1";
  port = static_cast<uint16_t>(*p);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  vantrel::server::ServerOptions options;
  bool haveListen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--db" && hasValue) {
      options.dbPath = argv[++i];
    } else if (arg == "--listen" && hasValue) {
      haveListen = splitHostPort(argv[++i], options.listenAddress, options.port);
      if (!haveListen) {
        std::fprintf(stderr, "vantrel-server: --listen wants ADDR:PORT\n");
        return 2;
      }
    } else if (arg == "--udp-port" && hasValue) {
      const auto p = vantrel::server::parseNumber(argv[++i]);
      if (!p || *p < 0 || *p > 65535) {
        std::fprintf(stderr, "vantrel-server: --udp-port wants a port number\n");
        return 2;
      }
      options.udpPort = static_cast<uint16_t>(*p);
    } else if (arg == "--add-user" && hasValue) {
      const std::string_view spec = argv[++i];
      const size_t colon = spec.find(':');
      if (colon == std::string_view::npos) {
        std::fprintf(stderr, "vantrel-server: --add-user wants NAME:PASSWORD\n");
        return 2;
      }
      options.users.emplace_back(spec.substr(0, colon), spec.substr(colon + 1));
    } else if (arg == "--client-version" && hasValue) {
      const auto v = vantrel::server::parseNumber(argv[++i]);
      if (!v || *v < 1 || *v > INT32_MAX) {
        std::fprintf(stderr, "vantrel-server: --client-version wants a version number above 0\n");
        return 2;
      }
      options.clientVersion = static_cast<int>(*v);
    } else if (arg == "--update-dir" && hasValue) {
      options.updateDir = argv[++i];
    } else if (arg == "--update-comment" && hasValue) {
      options.updateComment = argv[++i];
    } else if (arg == "--demo-catalogue") {
      options.demoCatalogue = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      usage();
      return 2;
    }
  }
  if (options.dbPath.empty() || !haveListen) {
    usage();
    return 2;
  }
  if (!options.updateComment.empty() && options.updateDir.empty()) {
    std::fprintf(stderr, "vantrel-server: --update-comment needs --update-dir\n");
    return 2;
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
    std::fprintf(stderr, "vantrel-server: %s\n", error.c_str());
    return 1;
  }
  std::printf("vantrel-server listening on http://%s:%u/ and UDP port %u\n", options.listenAddress.c_str(),
              server.httpPort(), server.udpPort());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  std::fprintf(stderr, "vantrel-server: %s, stopping\n", received == SIGINT ? "SIGINT" : "SIGTERM");
  server.stop();
  return 0;
}
