// SPDX-License-Identifier: MIT
// A file server over a small shared list and a scratch home folder, serving
// the packed pages, for the browser test. Prints "port N" once it listens and
// runs until its standard input closes (or 5 minutes pass).
//
// Tokens are the text reversed and Base64-encoded; the server's parameter
// cipher reverses them back, so the token checks run as they do for real.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "core/base64.h"
#include "core/error_table.h"
#include "fileserver/file_server.h"
#include "fileserver/file_server_connection.h"
#include "fileserver/testing_fakes.h"
#include "providers/fixture_facts.h"
#include "providers/page_renderer.h"
#include "templates/template_archive.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel;

using testing::ReversingCipher;

// The description command, as the client answers it: store and show the file.
class DescriptionCommands : public CommandHandlers {
 public:
  explicit DescriptionCommands(SharedFileList& files) : m_files(files) {}
  void removeFile(FileServerConnection& c) override { c.sendError(err::kUnrecognizedCommand, 200); }
  void sendFile(FileServerConnection& c, const std::vector<HeaderLine>&) override {
    c.sendError(err::kUnrecognizedCommand, 200);
  }
  void addFiles(FileServerConnection& c) override { result(c, "client-successfully_shared_files_template.html"); }
  void removeUsers(FileServerConnection& c) override {
    // Each session ID travels with its own address.
    if (c.params().all("id").size() != 1 || c.params().all("ip").size() != 1) {
      c.sendError(err::kUnrecognizedCommand, 200);
      return;
    }
    result(c, "client-successfully_removed_users_template.html");
  }
  void removeFiles(FileServerConnection& c) override { result(c, "client-successfully_removed_files_template.html"); }
  void fileDescription(FileServerConnection& c) override {
    const std::string* id = c.params().first("fileid");
    const std::string* text = c.params().first("description");
    if (id == nullptr || text == nullptr) {
      c.sendError(err::kDescriptionMissing, 200);
      return;
    }
    const int32_t fileId = static_cast<int32_t>(std::strtol(id->c_str(), nullptr, 10));
    if (!m_files.Update(fileId, [&](CVantreldFile& f) { f.description = *text; })) {
      c.sendError(err::kDescriptionFileNotShared, 200);
      return;
    }
    c.resourceName() = "client-file_info_template.html";
    c.sendTemplate(200);
  }

 private:
  void result(FileServerConnection& c, const char* page) {
    c.session().setResultText("Done.");
    c.session().resultDone = 1;
    c.resourceName() = page;
    c.sendTemplate(200);
  }
  SharedFileList& m_files;
};

// A browser on loopback is always this computer. Like a client without a
// window of its own, the fixture shows it the share page that another computer
// would see; asked with "loading", it opens the (pretend) window instead and
// the browser gets the loading page.
class ShareWindowHost : public testing::FakeHost {
 public:
  bool startShareWindow(RequestParams& params) override { return params.has("loading"); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: pages_e2e_server FILEDATA SCRATCH\n";
    return 2;
  }
  alarm(300);  // never outlives a stuck test
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream packed;
  packed << in.rdbuf();
  const std::string bytes = packed.str();
  templates::TemplateArchive archive;
  if (archive.read({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}) != ArchiveError::None) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 1;
  }

  const fs::path scratch = argv[2];
  fs::remove_all(scratch);
  const fs::path home = scratch / "home";
  fs::create_directories(home / "Holiday photos");
  for (int i = 0; i < 240; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "track %03d.mp3", i);
    std::ofstream(home / name) << std::string(static_cast<size_t>(i * 100), 'x');
  }
  std::ofstream(home / "Holiday photos" / "beach.jpg") << "jpeg";

  providers::FixtureFacts facts((scratch / "alice.dat").string());
  facts.own = "127.0.0.1";  // the browser is the owner
  facts.home = home.string();
  facts.tokenMaker = [](std::string_view address) {
    const std::string plain = "4711$" + std::string(address) + "$7";
    return base64Encode(std::string(plain.rbegin(), plain.rend()));
  };
  providers::fillFixtureList(facts.files, {
                                              providers::fixtureFile(101, "/srv/music/Blue Train.mp3", 4200000, 5, "Jazz", "Coltrane"),
                                              providers::fixtureFile(102, "/srv/music/Giant Steps.mp3", 3100000, 5, "Jazz"),
                                              providers::fixtureFile(103, "/srv/music/Kind of Blue.mp3", 5300000, 5, "Jazz", "Davis"),
                                              providers::fixtureFile(104, "/srv/docs/Field guide.pdf", 900000, 8, "Birds:Guides"),
                                          });
  facts.addSession("10.1.1.7", "bob", 101)->percentage = 42;
  facts.addSession("10.1.1.3", "carol");

  ShareWindowHost host;
  host.local = "127.0.0.1";
  host.security = true;  // downloads and file information need their own token, as in the client
  providers::ClientPageRenderer renderer(archive, facts);
  DescriptionCommands commands(facts.files);
  ReversingCipher cipher;
  FileServer server(host, renderer, facts.files, &commands, &cipher);
  if (server.listen(0) != 0 || server.start() != 0) {
    std::cerr << "cannot listen\n";
    return 1;
  }
  std::cout << "port " << server.port() << std::endl;
  // Until standard input closes.
  char buffer[256];
  while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
  server.stopAndJoin();
  fs::remove_all(scratch);
  return 0;
}
