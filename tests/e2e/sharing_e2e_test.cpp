// SPDX-License-Identifier: MIT
// Two clients and the reference server on loopback: A shares a folder tree
// into a group and serves it with its file server; B browses, searches and
// downloads it through the download manager; A's verification pass and the
// server's removal orders keep both sides' lists in step. B stops a download
// and resumes it, and A's owner disconnects one with "removeUsers": either
// way the file ends byte-exact on B's disk.

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

#include "catalogue/sync/missing_files.h"
#include "catalogue/sync/server_comparison.h"
#include "catalogue/sync/share_run.h"
#include "fileserver/client_state_host.h"
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
#include "tests/e2e/e2e_support.h"
#include "transfers/download_manager.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using e2e::ServerProcess;
using e2e::waitFor;

// Decrypts "@" parameters with A's session key, as the client's own cipher does.
class KeyCipher : public ParameterCipher {
 public:
  explicit KeyCipher(const SessionKey& key) : m_key(key) {}
  std::string decryptText(std::string_view cipher) const override { return m_key.DecryptText(cipher); }

 private:
  const SessionKey& m_key;
};

// Pages name their template and show the result text a command left for them.
class ResultPages : public testing::FakeRenderer {
 public:
  int render(const PageContext& context, std::string& page) override {
    const int rc = FakeRenderer::render(context, page);
    if (rc == 0) page += "\n" + context.session.resultText();
    return rc;
  }
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

using SharedFiles = std::vector<std::pair<fs::path, std::string>>;

// A serves its shares through the client's own host over its ClientState, so
// that the upload sessions the commands see are the transfers' sessions, and
// decrypts "@" parameters with its session key: the download tokens in the
// server's links and the command tokens are checked as in the client.
class SharingE2eTest : public ::testing::Test {
 protected:
  // Limits on A's downloads, in bytes per second: slow enough that a transfer
  // is still running when the test acts on it.
  static constexpr int kSlowRate = 100000;

  void SetUp() override {
    ASSERT_TRUE(server.start((a.dir.path() / "server.db").string(), {"--demo-catalogue"}));
    ASSERT_EQ(fileServer.listen(0), kListenOk);
    ASSERT_EQ(fileServer.start(), 0);
    setUserBand(0);
    // B stands in for another computer: A paces downloads to other computers
    // only, and knows them by their address.
    b.settings.SetSettingText(kSourceAddressSetting, "127.0.0.2");
  }
  void TearDown() override { fileServer.stopAndJoin(); }

  void setUserBand(int bytesPerSecond) { a.state.SetLimits(15, 0, bytesPerSecond); }

  std::string signUpAndLogIn(protocol_testing::ProtocolFixture& c, const std::string& name, uint16_t filePort) {
    c.useServer(server.httpPort);
    ClientRequest request;
    int code = -1;
    request.PostForm(nullptr, "http://127.0.0.1:" + std::to_string(server.httpPort) + "/signup.jsp",
                     "username=" + name + "&password=secret77&password2=secret77", code);
    c.settings.SetSettingNumber("port", filePort);
    EXPECT_EQ(LoginRequest(c.ctx, name, "secret77", nullptr), 0);
    EXPECT_EQ(JoinGroup(c.ctx, 7, "", ""), catalogue::kListingOk);  // the demo group that admits all
    return name;
  }

  // Writes `files` into A's tree, which A shares into the demo group; B logs in
  // and lists the group. Returns B's entry of the tree's folder.
  std::shared_ptr<DirectoryEntry> shareTree(const SharedFiles& files) {
    for (const auto& [path, bytes] : files) {
      fs::create_directories(path.parent_path());
      std::ofstream(path, std::ios::binary) << bytes;
    }
    signUpAndLogIn(a, "alice", fileServer.port());
    ShareRun share(a.ctx, listA);
    EXPECT_EQ(share.ShareLocalPaths({tree.string()}, {7, "Open Music Lounge", 7, ""}), 0);
    EXPECT_EQ(listA.size(), files.size());

    signUpAndLogIn(b, "bob", 1);
    std::string listing;
    EXPECT_EQ(GetListing(b.ctx, ListingKind::Group, 7, listing), catalogue::kListingOk);
    const EntryList groupEntries = ParseListing(listing);
    cache.storeListing(ListingKind::Group, 7, groupEntries);
    for (const auto& child : groupEntries) {
      if (child->type == EntryType::Directory && child->name == "Album") {
        return std::static_pointer_cast<DirectoryEntry>(child);
      }
    }
    return nullptr;
  }

  // A shares one file and serves it at kSlowRate; B's listing entry of it.
  std::shared_ptr<FileEntry> shareSlowFile(const std::string& name, const std::string& bytes) {
    const std::shared_ptr<DirectoryEntry> album = shareTree({{tree / name, bytes}});
    if (album == nullptr) return nullptr;
    setUserBand(kSlowRate);
    std::shared_ptr<DirectoryEntry> listed = cache.directory(album->id);
    if (listed == nullptr || listed->children.empty()) {
      cache.FetchListing(b.ctx, ListingKind::Directory, album->id);
      listed = cache.directory(album->id);
    }
    if (listed == nullptr) return nullptr;
    for (const auto& child : listed->children) {
      if (child->type == EntryType::File && child->name == name) return std::static_pointer_cast<FileEntry>(child);
    }
    return nullptr;
  }

  int32_t fileIdOnA(const std::string& name) {
    int32_t id = 0;
    listA.forEach([&](const CVantreldFile& r) { id = r.fileName == name ? r.fileId : id; });
    return id;
  }

  // What A's recent-uploads list says of its newest transfer ("" while none).
  std::string lastUploadResult() {
    const auto recent = fileServer.recentUploads().entries();
    return recent.empty() ? std::string() : recent[0].result;
  }

  static bool ended(DownloadManager& downloads, int32_t id, DownloadState state) {
    return waitFor([&] { return downloads.find(id)->state == state; }, 10s);
  }

  // B's download `id` of `bytes` ends short in `state`, showing `text`: the
  // part it got is on disk and A counts its transfer unfinished. Started again
  // without a limit, it asks for the rest from there and ends byte-exact.
  void expectPartThenResume(DownloadManager& downloads, int32_t id, DownloadState state, const std::string& text,
                            const std::string& bytes) {
    ASSERT_TRUE(ended(downloads, id, state));
    const DownloadInfo cut = *downloads.find(id);
    EXPECT_EQ(downloadStateText(cut), text);
    EXPECT_LT(cut.received, static_cast<int32_t>(bytes.size()));
    // Every byte counted is on disk, and nothing more.
    // The bytes are a partial file's until the last one came.
    EXPECT_EQ(fs::file_size(DownloadManager::partPath(cut.localPath)), static_cast<uintmax_t>(cut.received));
    EXPECT_FALSE(fs::exists(cut.localPath));
    EXPECT_TRUE(waitFor([&] { return lastUploadResult() == "Did not finish"; }));

    setUserBand(0);  // the rest at full speed keeps the test short
    ASSERT_TRUE(downloads.start(id));
    ASSERT_TRUE(ended(downloads, id, DownloadState::Completed));
    const DownloadInfo done = *downloads.find(id);
    EXPECT_EQ(done.options, download_option::kResume);
    // The range started at the bytes on disk and A answered it with that part:
    // a whole-file answer would have reset the offset and rewritten the file.
    EXPECT_EQ(done.resumeOffset, cut.received);
    EXPECT_EQ(done.received, static_cast<int32_t>(bytes.size()));
    EXPECT_TRUE(readFile(done.localPath) == bytes);
    EXPECT_FALSE(fs::exists(DownloadManager::partPath(done.localPath)));
    EXPECT_TRUE(waitFor([&] { return lastUploadResult() == "Success"; }));
  }

  ServerProcess server;
  protocol_testing::ProtocolFixture a;
  protocol_testing::ProtocolFixture b;
  const fs::path tree = a.dir.path() / "Album";
  const fs::path into = b.dir.path() / "Downloads";
  SharedFileList listA{(a.dir.path() / "alice.dat").string()};
  ClientStateHost hostA{a.state, a.settings, FileServerHooks{.centralServerHost = "127.0.0.1"}};
  ResultPages pages;
  KeyCipher cipherA{a.key};
  SharingCommands commands{a.ctx, listA, a.state};
  FileServer fileServer{hostA, pages, listA, &commands, &cipherA};
  CatalogueCache cache;
  KeepPrompts prompts;
};

TEST_F(SharingE2eTest, AFolderTreeGoesFromAToBAndBothListsFollow) {
  const SharedFiles files = {
      {tree / "one.mp3", content(300000, 'a')},
      {tree / "two.mp3", content(200000, 'b')},
      {tree / "three.mp3", content(100000, 'c')},
      {tree / "Disc 2" / "four.mp3", content(50000, 'd')},
  };
  const std::shared_ptr<DirectoryEntry> album = shareTree(files);
  ASSERT_NE(album, nullptr);

  // B: search, then download the folder with two at a time.
  SearchCriteria criteria;
  criteria.text = "three";
  std::string found;
  ASSERT_EQ(Search(b.ctx, criteria, nullptr, found), 0);
  EXPECT_NE(found.find("three.mp3"), std::string::npos) << found;

  b.settings.SetSettingNumber("maxsimdl", 2);
  DownloadManager downloads(b.settings, prompts);  // ticked by hand below
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

  // A deleted file is marked missing by A's verification pass and keeps its
  // ID on the server until A's person stops sharing it.
  const int32_t twoId = fileIdOnA("two.mp3");
  ASSERT_GT(twoId, 0);
  fs::remove(tree / "two.mp3");
  EXPECT_EQ(VerificationPass(listA, a.ctx).missing, std::vector<int32_t>{twoId});
  auto serverIds = GetFileIds(a.ctx);
  ASSERT_TRUE(serverIds.has_value());
  EXPECT_EQ(serverIds->size(), 4u);
  MissingFiles missing(listA);
  ASSERT_EQ(missing.stopSharingNames(), std::vector<std::string>{"two.mp3"});
  missing.apply(a.ctx);
  serverIds = GetFileIds(a.ctx);
  ASSERT_TRUE(serverIds.has_value());
  EXPECT_EQ(serverIds->size(), 3u);
  EXPECT_EQ(serverIds->count(twoId), 0u);
  EXPECT_EQ(listA.size(), 3u);

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
}

TEST_F(SharingE2eTest, AStoppedDownloadResumesFromTheBytesOnDisk) {
  const std::string bytes = content(500000, 's');
  const std::shared_ptr<FileEntry> entry = shareSlowFile("slow.bin", bytes);
  ASSERT_NE(entry, nullptr);

  DownloadManager downloads(b.settings, prompts);
  const int32_t id = downloads.downloadFile(*entry, into.string() + "/");
  ASSERT_TRUE(waitFor([&] { return downloads.find(id)->received >= 50000; }));
  downloads.stop(id);
  expectPartThenResume(downloads, id, DownloadState::Stopped, "Stopped", bytes);
}

TEST_F(SharingE2eTest, RemoveUsersCutsADownloadThatResumesLater) {
  const std::string bytes = content(800000, 'r');
  const std::shared_ptr<FileEntry> entry = shareSlowFile("long.bin", bytes);
  ASSERT_NE(entry, nullptr);
  const int32_t fileId = fileIdOnA("long.bin");

  DownloadManager downloads(b.settings, prompts);
  const int32_t id = downloads.downloadFile(*entry, into.string() + "/");
  // B's upload session on A, as the connected-users page lists it.
  std::shared_ptr<UploadSession> upload;
  ASSERT_TRUE(waitFor([&] {
    for (const auto& s : a.state.Sessions()) {
      if (s->fileId == fileId && s->bytesSent > 0) upload = s;
    }
    return upload != nullptr;
  }));
  const std::string form = "id=" + std::to_string(upload->sessionId()) + "&ip=" + upload->peerAddress();
  const std::string command = "http://127.0.0.1:" + std::to_string(fileServer.port()) + "/removeUsers/users";

  // Without a token the file server refuses the command and the download goes on.
  int code = -1;
  std::string page = ClientRequest().PostForm(nullptr, command, form, code);
  EXPECT_NE(page.find("page client-error_template.html code 43"), std::string::npos) << page;
  EXPECT_EQ(downloads.find(id)->state, DownloadState::Downloading);

  // With the token of A's own pages it disconnects B.
  const std::string token = a.key.MakeToken(hostA.localAddress());
  page = ClientRequest().PostForm(nullptr, command + "?@token=" + token, form, code);
  EXPECT_EQ(code, transport::kOk);
  EXPECT_NE(page.find("page client-successfully_removed_users_template.html"), std::string::npos) << page;
  EXPECT_NE(page.find("Removed " + upload->peerAddress() + "\n<BR>"), std::string::npos) << page;

  // A ended the reply before its length: B's record is in error.
  expectPartThenResume(downloads, id, DownloadState::Error, "the connection was lost; retrying in 0:30", bytes);
}

}  // namespace
}  // namespace vantrel
