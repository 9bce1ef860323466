// SPDX-License-Identifier: MIT
// A stand-alone file server for load scripts, built from the client's own
// parts: the limits and counters of a ClientState behind ClientStateHost, and
// the pages of the packed template archive rendered with the client's
// providers. Shares every regular file of a folder (file IDs 1, 2, ... in name
// order) on a loopback port. Prints "port N" once it listens and serves until
// SIGINT or SIGTERM.
//
//   fileserver_serve --dir DIR --pages FILEDATA [--port N] [--maxusrband B]
//                    [--maxband B] [--maxusers N] [--per-address N]
//
// --per-address sets the cap on connections from one address (0: none); by
// default the file server's own cap holds.
#include <signal.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "core/timer_service.h"
#include "crypto/session_key.h"
#include "fileserver/client_state_host.h"
#include "fileserver/file_server.h"
#include "headless/terminal_ui.h"
#include "platform/registry_hive.h"
#include "providers/client_state_facts.h"
#include "providers/page_renderer.h"
#include "settings/settings_store.h"
#include "state/client_state.h"
#include "templates/template_archive.h"

int main(int argc, char** argv) {
  using namespace vantrel;
  std::string dir, pages;
  int port = 0, userBand = 0, band = INT_MAX, users = 1000, perAddress = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--dir") dir = value;
    else if (key == "--pages") pages = value;
    else if (key == "--port") port = std::atoi(value);
    else if (key == "--maxusrband") userBand = std::atoi(value);
    else if (key == "--maxband") band = std::atoi(value);
    else if (key == "--maxusers") users = std::atoi(value);
    else if (key == "--per-address") perAddress = std::atoi(value);
  }
  if (dir.empty() || pages.empty()) {
    std::fprintf(stderr, "usage: %s --dir DIR --pages FILEDATA [--port N] [--maxusrband B] [--maxband B] [--maxusers N] [--per-address N]\n",
                 argv[0]);
    return 2;
  }
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  TerminalUi ui(stderr);
  templates::TemplateArchive archive;
  if (!templates::LoadTemplateArchive(pages, archive, ui)) {
    std::fprintf(stderr, "cannot load the pages from %s\n", pages.c_str());
    return 1;
  }
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("fileserver-serve-" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch);
  int rc = 0;
  {
    RegistryHive hive(scratch.string());
    SettingsStore settings(hive, "VantrelFileServerBench");
    settings.EnsureDefaults();
    settings.SetSettingNumber("contype", 2);  // limits as given, not measured
    settings.SetSettingNumber("maxusers", users);
    settings.SetSettingNumber("maxband", band);
    settings.SetSettingNumber("maxusrband", userBand);
    TimerService timers;
    ClientState state(settings, timers);
    state.Initialise();
    state.SetLimits(users, band, userBand);
    state.SetMaxPerUser(1000);
    state.SetLocalAddress("127.0.0.1");

    SharedFileList files((scratch / "files.dat").string());
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.is_regular_file()) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    int32_t id = 0;
    for (const auto& path : paths) {
      CVantreldFile record(path.string());
      record.fileName = path.filename().string();
      record.fileId = ++id;
      files.Add(record);
    }
    SessionKey key;
    // Downloads without tokens, as with the client's debug switch: the load
    // scripts fetch plain URLs.
    ClientStateHost host(state, settings,
                         FileServerHooks{{}, {}, {}, {}, [] { return false; }, "127.0.0.1", nullptr, {}});
    ClientStateFacts facts(state, settings, key, files, ClientEndpoints{{}, {}, {}, scratch.string()});
    providers::ClientPageRenderer renderer(archive, facts, nullptr);
    FileServer server(host, renderer, files, nullptr, &facts);
    if (perAddress >= 0) server.setConnectionsPerAddress(static_cast<std::size_t>(perAddress));
    if (server.listen(static_cast<uint16_t>(port)) != kListenOk || server.start() != 0) {
      std::fprintf(stderr, "cannot listen on port %d\n", port);
      rc = 1;
    } else {
      std::printf("port %u\n", server.port());
      std::fflush(stdout);
      int signal = 0;
      sigwait(&stopSignals, &signal);
    }
  }
  std::filesystem::remove_all(scratch);
  return rc;
}
