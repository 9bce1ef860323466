// SPDX-License-Identifier: MIT
// A stand-alone file server for load scripts: shares every regular file of a
// folder (file IDs 1, 2, ... in name order) on a loopback port, with limits from
// the command line and a fixed page for "template" requests. Prints "port N"
// once it listens and serves until SIGINT or SIGTERM.
//
//   fileserver_serve --dir DIR [--port N] [--maxusrband B] [--maxband B]
//                    [--maxusers N] [--page-bytes N]
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "fileserver/file_server.h"
#include "fileserver/testing_fakes.h"

namespace {

class FixedPage : public vantrel::PageRenderer {
 public:
  explicit FixedPage(std::size_t bytes) : m_page(bytes, 'x') {}
  int render(const vantrel::PageContext&, std::string& page) override {
    page = m_page;
    return 0;
  }
  std::span<const uint8_t> image(std::string_view) override { return {}; }

 private:
  std::string m_page;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace vantrel;
  std::string dir;
  int port = 0, userBand = 0, band = 0, users = 1000;
  std::size_t pageBytes = 2048;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--dir") dir = value;
    else if (key == "--port") port = std::atoi(value);
    else if (key == "--maxusrband") userBand = std::atoi(value);
    else if (key == "--maxband") band = std::atoi(value);
    else if (key == "--maxusers") users = std::atoi(value);
    else if (key == "--page-bytes") pageBytes = static_cast<std::size_t>(std::atol(value));
  }
  if (dir.empty()) {
    std::fprintf(stderr, "usage: %s --dir DIR [--port N] [--maxusrband B] [--maxband B] [--maxusers N] [--page-bytes N]\n", argv[0]);
    return 2;
  }
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const std::string archive = std::filesystem::temp_directory_path() / ("fileserver-serve-" + std::to_string(getpid()) + ".dat");
  SharedFileList files(archive);
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
  testing::FakeHost host;
  host.local = "127.0.0.1";
  host.userBand = userBand;
  host.maxBand = band;
  host.users = users;
  host.perUser = 1000;
  FixedPage renderer(pageBytes);
  int rc = 0;
  {
    FileServer server(host, renderer, files, nullptr, nullptr);
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
  std::filesystem::remove(archive);
  return rc;
}
