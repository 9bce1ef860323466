// SPDX-License-Identifier: MIT
// Two clients and the reference server on loopback: A shares a folder tree
// into a group and serves it with its file server; B browses, searches and
// downloads it through the download manager; A's verification pass and the
// server's removal orders keep both sides' lists in step.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "catalogue/server_comparison.h"
#include "catalogue/share_run.h"
#include "fileserver/commands/sharing_commands.h"
#include "fileserver/file_server.h"
#include "fileserver/testing_fakes.h"
#include "net/client_request.h"
#include "net/reply_fields.h"
#include "net/socket_io.h"
#include "platform/unique_fd.h"
#include "protocol/catalogue_cache.h"
#include "protocol/catalogue_requests.h"
#include "protocol/server_channel.h"
#include "protocol/server_login.h"
#include "protocol/shared_file_requests.h"
#include "protocol/testing/protocol_fixture.h"
#include "transfers/download_manager.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

// vantrel-server on ports the system picks, stopped by its PID.
class ServerProcess {
 public:
  bool start(const std::string& db) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    std::vector<std::string> args = {VANTREL_SERVER_BIN, "--db", db, "--listen", "127.0.0.1:0", "--udp-port", "0",
                                     "--demo-catalogue"};
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    UniqueFd read(out[0]);
    std::string line;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      if (!waitReadable(read.get(), 100ms)) continue;
      char c[256];
      const ssize_t n = ::read(read.get(), c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<size_t>(n));
    }
    const size_t colon = line.find("127.0.0.1:");
    if (colon == std::string::npos) return false;
    port = static_cast<uint16_t>(std::stoi(line.substr(colon + 10)));
    return true;
  }
  ~ServerProcess() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    if (!waitFor([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; })) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
    }
  }
  uint16_t port = 0;

 private:
  pid_t m_pid = -1;
};

// The file server's view of the rest of client A: the central server is local.
class LocalHost : public testing::FakeHost {
 public:
  std::string centralServerHost() override { return "127.0.0.1"; }
};

class KeepPrompts : public DownloadPrompts {
 public:
  FileExistsChoice fileExists(const FileExistsPrompt&) override { return FileExistsChoice::Resume; }
  std::optional<std::string> chooseFolder() override { return std::nullopt; }
};

std::string content(std::size_t n, char seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + (i * 13) % 50);
  return s;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SharingE2eTest : public ::testing::Test {
 protected:
  std::string signUpAndLogIn(protocol_testing::ProtocolFixture& c, const std::string& name, uint16_t filePort) {
    c.useServer(server.port);
    ClientRequest request;
    int code = -1;
    request.PostForm(nullptr, "http://127.0.0.1:" + std::to_string(server.port) + "/signup.jsp",
                     "username=" + name + "&password=secret77&password2=secret77", code);
    c.settings.SetSettingNumber("port", filePort);
    EXPECT_EQ(LoginRequest(c.ctx, name, "secret77", nullptr), 0);
    EXPECT_EQ(JoinGroup(c.ctx, 7, "", ""), catalogue::kListingOk);  // the demo group that admits all
    return name;
  }

  ServerProcess server;
  protocol_testing::ProtocolFixture a;
  protocol_testing::ProtocolFixture b;
};

TEST_F(SharingE2eTest, AFolderTreeGoesFromAToBAndBothListsFollow) {
  ASSERT_TRUE(server.start((a.dir.path() / "server.db").string()));

  // A: the tree, its file server and its shares.
  const fs::path tree = a.dir.path() / "Album";
  fs::create_directories(tree / "Disc 2");
  const std::vector<std::pair<fs::path, std::string>> files = {
      {tree / "one.mp3", content(300000, 'a')},
      {tree / "two.mp3", content(200000, 'b')},
      {tree / "three.mp3", content(100000, 'c')},
      {tree / "Disc 2" / "four.mp3", content(50000, 'd')},
  };
  for (const auto& [path, bytes] : files) std::ofstream(path, std::ios::binary) << bytes;
  SharedFileList listA((a.dir.path() / "alice.dat").string());
  LocalHost host;
  testing::FakeRenderer renderer;
  SharingCommands commands(a.ctx, listA, a.state);
  FileServer fileServer(host, renderer, listA, &commands, nullptr);
  ASSERT_EQ(fileServer.listen(0), kListenOk);
  ASSERT_EQ(fileServer.start(), 0);
  signUpAndLogIn(a, "alice", fileServer.port());
  ShareRun share(a.ctx, listA);
  ASSERT_EQ(share.ShareLocalPaths({tree.string()}, {7, "Open Music Lounge", 7, ""}), 0);
  EXPECT_EQ(listA.size(), 4u);

  // B: browse, search, download the folder with two at a time.
  signUpAndLogIn(b, "bob", 1);
  CatalogueCache cache;
  std::string listing;
  ASSERT_EQ(GetListing(b.ctx, ListingKind::Group, 7, listing), catalogue::kListingOk);
  const EntryList groupEntries = ParseListing(listing);
  cache.storeListing(ListingKind::Group, 7, groupEntries);
  std::shared_ptr<DirectoryEntry> album;
  for (const auto& child : groupEntries) {
    if (child->type == EntryType::Directory && child->name == "Album") album = std::static_pointer_cast<DirectoryEntry>(child);
  }
  ASSERT_NE(album, nullptr);
  SearchCriteria criteria;
  criteria.text = "three";
  std::string found;
  ASSERT_EQ(Search(b.ctx, criteria, nullptr, found), 0);
  EXPECT_NE(found.find("three.mp3"), std::string::npos) << found;

  b.settings.SetSettingNumber("maxsimdl", 2);
  KeepPrompts prompts;
  DownloadManager downloads(b.settings, prompts);  // ticked by hand below
  const fs::path into = b.dir.path() / "Downloads";
  ASSERT_EQ(downloads.DownloadDirectory(*album, into.string() + "/", true, cache, b.ctx), 0);
  ASSERT_EQ(downloads.downloads().size(), 4u);
  int queued = 0;
  for (const auto& d : downloads.downloads()) queued += d.state == DownloadState::Queued ? 1 : 0;
  EXPECT_EQ(queued, 2);  // only a tick starts the rest
  ASSERT_TRUE(waitFor([&] {
    downloads.tick();
    for (const auto& d : downloads.downloads()) {
      if (d.state != DownloadState::Completed) return false;
    }
    return true;
  }));
  for (const auto& [path, bytes] : files) {
    const fs::path got = into / fs::relative(path, tree);
    EXPECT_TRUE(readFile(got) == bytes) << got;
  }

  // A deleted file leaves the server's catalogue after A's verification pass.
  const auto twoId = [&] {
    int32_t id = 0;
    listA.forEach([&](const CVantreldFile& r) { id = r.fileName == "two.mp3" ? r.fileId : id; });
    return id;
  }();
  ASSERT_GT(twoId, 0);
  fs::remove(tree / "two.mp3");
  EXPECT_EQ(VerificationPass(listA, a.ctx).removed, std::vector<int32_t>{twoId});
  const auto serverIds = GetFileIds(a.ctx);
  ASSERT_TRUE(serverIds.has_value());
  EXPECT_EQ(serverIds->size(), 3u);
  EXPECT_EQ(serverIds->count(twoId), 0u);

  // Removing the subfolder on the server orders A's file server to drop its file.
  const std::shared_ptr<DirectoryEntry> cachedAlbum = cache.directory(album->id);
  ASSERT_NE(cachedAlbum, nullptr);
  std::vector<int32_t> disc2;
  for (const auto& child : cachedAlbum->children) {
    if (child->type == EntryType::Directory) disc2.push_back(child->id);
  }
  ASSERT_EQ(disc2.size(), 1u);
  EXPECT_EQ(RemoveDirectories(a.ctx, disc2, nullptr), catalogue::kListingOk);
  EXPECT_TRUE(waitFor([&] { return listA.size() == 2u; }));
  fileServer.stopAndJoin();
}

}  // namespace
}  // namespace vantrel
