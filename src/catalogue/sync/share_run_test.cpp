// SPDX-License-Identifier: MIT
#include "catalogue/sync/share_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <cstring>

#include "catalogue/sync/sync_test_server.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using sync_testing::FakeCatalogueServer;

class ShareRunTest : public ::testing::Test, public ProtocolFixture {
 protected:
  ShareRunTest() { loggedIn(7); }
  std::string make(const std::string& rel, const std::string& text = "abc") {
    const auto p = dir.path() / "src" / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << text;
    return p.string();
  }
  std::string folder(const std::string& rel) {
    const auto p = dir.path() / "src" / rel;
    std::filesystem::create_directories(p);
    return p.string();
  }
  ShareRun run() {
    return ShareRun(ctx, list, [this](int code, int n, const std::string& text) {
      progress.push_back(std::to_string(code) + " " + std::to_string(n) + " " + text);
    });
  }

  SharedFileList list{(dir.path() / "bob.dat").string()};
  std::vector<std::string> progress;
  ShareDestination into{12, "My:Group", 5, "M"};
};

TEST_F(ShareRunTest, PipesSocketsAndDevicesAreSkippedAndLongNamesSaidShortened) {
  FakeCatalogueServer server(*this);
  const std::string d = folder("D");
  ASSERT_EQ(::mkfifo((d + "/pipe.mp3").c_str(), 0600), 0);
  const std::string longName = std::string(140, 'x') + ".txt";
  make("D/" + longName);
  UniqueFd sock(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // A socket's path must be short: it lives in a short folder, and the shared
  // folder holds a link to it.
  char shortDir[] = "/tmp/vsXXXXXX";
  ASSERT_NE(::mkdtemp(shortDir), nullptr);
  const std::string sockPath = std::string(shortDir) + "/s";
  std::strcpy(addr.sun_path, sockPath.c_str());
  ASSERT_EQ(::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::filesystem::create_symlink(sockPath, folder("E") + "/s.sock");

  ShareRun r = run();
  // A folder of nothing but a socket is no folder to create; a named device
  // or pipe given on its own is skipped like one in a folder.
  ASSERT_EQ(r.ShareLocalPaths({d, folder("E"), "/dev/null", d + "/pipe.mp3"}, into), 0);
  const std::vector<std::string> bodies = server.bodies();
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[0], "action=createdir&dirname=D&parent=5");
  EXPECT_EQ(bodies[1], "action=add_file&dirid=100&cfileid=0&filename=" + std::string(124, 'x') +
                           ".txt&filesize=3&keywords=&filetype=txt");
  EXPECT_EQ(list.size(), 1u);
  ASSERT_EQ(r.shortenedNames().size(), 1u);
  EXPECT_EQ(r.shortenedNames()[0].second, std::string(124, 'x') + ".txt");
  EXPECT_NE(std::find(progress.begin(), progress.end(), "109 128 " + longName), progress.end());
  EXPECT_EQ(shortenedNamesText(r.shortenedNames()),
            "One file name is longer than the 128 characters the server keeps, and others see them shortened, their "
            "extensions kept:\n" + std::string(124, 'x') + ".txt");
  std::filesystem::remove_all(shortDir);
}

TEST_F(ShareRunTest, TreeCreatesDirectoriesLazilyDepthFirst) {
  FakeCatalogueServer server(*this);
  make("D/f.txt", "12345");
  make("D/S/g.txt");
  folder("D/Empty/Deeper");
  make("D/T/partial.part");
  ASSERT_EQ(run().ShareLocalPaths({folder("D")}, into), 0);

  EXPECT_EQ(server.bodies(), (std::vector<std::string>{
                               "action=createdir&dirname=D&parent=5",
                               "action=createdir&dirname=S&parent=100",
                               "action=add_file&dirid=101&cfileid=0&filename=g.txt&filesize=3&keywords=&filetype=txt",
                               "action=add_file&dirid=100&cfileid=0&filename=f.txt&filesize=5&keywords=&filetype=txt",
                           }));
  EXPECT_EQ(progress, (std::vector<std::string>{"106 0 D", "106 0 S", "108 1 S", "108 1 D"}));
  const auto g = list.Lookup(1000);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->groupDirPath, "M:D : S");
  EXPECT_EQ(g->dirId, 101);
  EXPECT_EQ(g->groupId, 12);
  EXPECT_EQ(g->groupName, "MyGroup");
  EXPECT_EQ(list.Lookup(1001)->groupDirPath, "M:D");
  EXPECT_EQ(list.size(), 2u);

  // The list on disk holds both.
  SharedFileList reread(list.archivePath());
  ASSERT_TRUE(reread.Load());
  EXPECT_EQ(reread.size(), 2u);
}

// Links to folders (a parent, the root) are not walked; a link to a file is
// shared as that file when it lies inside the shared folder; a folder named
// twice is shared once.
TEST_F(ShareRunTest, LinkedFoldersAreNotFollowed) {
  FakeCatalogueServer server(*this);
  make("D/f.txt");
  make("D/S/g.txt");
  const std::string top = folder("D");
  std::filesystem::create_directory_symlink(top, dir.path() / "src" / "D" / "S" / "up");
  std::filesystem::create_directory_symlink("/", dir.path() / "src" / "D" / "root");
  std::filesystem::create_symlink(dir.path() / "src" / "D" / "S" / "g.txt", dir.path() / "src" / "D" / "h.txt");
  // A link to a file outside the shared folder publishes nothing.
  std::ofstream(dir.path() / "secret.txt") << "private";
  std::filesystem::create_symlink(dir.path() / "secret.txt", dir.path() / "src" / "D" / "S" / "out.txt");
  std::filesystem::create_symlink("../../../secret.txt", dir.path() / "src" / "D" / "S" / "relative.txt");
  EXPECT_EQ(CountShareableFiles(top), 3);
  ASSERT_EQ(run().ShareLocalPaths({top, top}, into), 0);

  int folders = 0;
  for (const std::string& body : server.bodies()) folders += body.rfind("action=createdir", 0) == 0 ? 1 : 0;
  EXPECT_EQ(folders, 2) << ::testing::PrintToString(server.bodies());
  std::vector<std::string> names;
  list.forEach([&](const CVantreldFile& record) { names.push_back(record.groupDirPath + "/" + record.fileName); });
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"M:D : S/g.txt", "M:D/f.txt", "M:D/h.txt"}));
}

TEST_F(ShareRunTest, NothingShareableSendsNothing) {
  FakeCatalogueServer server(*this);
  folder("Only/Empty");
  make("Temp/x.tmp");
  EXPECT_EQ(run().ShareLocalPaths({folder("Only"), folder("Temp"), (dir.path() / "missing").string()}, into), 0);
  EXPECT_TRUE(server.bodies().empty());
  EXPECT_EQ(CountShareableFiles(folder("Temp")), 0);
}

TEST_F(ShareRunTest, TopLevelFilesGoInOneBatchTemporaryNamesIncluded) {
  FakeCatalogueServer server(*this);
  const std::string a = make("a.mp3");
  const std::string tmp = make("b.tmp");
  const std::string gone = (dir.path() / "src" / "gone.mp3").string();
  EXPECT_EQ(run().ShareBatch({a, gone, tmp}, into), 0);
  ASSERT_EQ(server.bodies().size(), 1u);
  EXPECT_NE(server.bodies()[0].find("filename=a.mp3"), std::string::npos);
  EXPECT_NE(server.bodies()[0].find("filename=b.tmp"), std::string::npos);
  EXPECT_EQ(server.bodies()[0].find("gone"), std::string::npos);
  EXPECT_EQ(progress, std::vector<std::string>{"108 2 "});
  EXPECT_EQ(list.size(), 2u);
}

TEST_F(ShareRunTest, FirstErrorStopsEverything) {
  FakeCatalogueServer server(*this);
  server.set([](FakeCatalogueServer& s) { s.failCreateDir = "result=3&"; });
  make("D/f.txt");
  make("top.txt");
  EXPECT_EQ(run().ShareLocalPaths({folder("D"), (dir.path() / "src" / "top.txt").string()}, into), 503);
  EXPECT_EQ(server.bodies().size(), 1u);
  EXPECT_EQ(list.size(), 0u);

  state.SetConnected(false);
  EXPECT_EQ(run().ShareBatch({make("x.txt")}, into), share::kNotConnected);
  EXPECT_EQ(server.bodies().size(), 1u);
}

TEST_F(ShareRunTest, CancelStopsBeforeTheNextFolderAndKeepsWhatWasShared) {
  FakeCatalogueServer server(*this);
  make("D/S/g.txt");
  make("D/f.txt");
  std::atomic<bool> cancel{false};
  // The flag goes up when the first batch is announced: that batch still goes
  // out, nothing after it does.
  ShareRun stoppable(ctx, list, [&](int code, int, const std::string&) {
    if (code == share::kSharingFiles) cancel = true;
  });
  stoppable.setCancelCheck([&] { return cancel.load(); });
  EXPECT_EQ(stoppable.ShareLocalPaths({folder("D"), make("top.txt")}, into), share::kCancelled);
  EXPECT_EQ(server.bodies().size(), 2u);  // createdir D, createdir S; then S's batch is cancelled
  EXPECT_EQ(list.size(), 0u);

  cancel = false;
  progress.clear();
  ShareRun again = run();
  again.setCancelCheck([&] { return cancel.load(); });
  EXPECT_EQ(again.ShareBatch({make("x.txt")}, into), 0);
  EXPECT_EQ(list.size(), 1u);
}

TEST(ShareTextsTest, LastDirectoryName) {
  const std::pair<const char*, const char*> cases[] = {
      {"M", ""}, {"M:D", "D"}, {"M:D : S", "S"}, {"M:", ""}, {"", ""}};
  for (const auto& [path, want] : cases) EXPECT_EQ(lastDirectoryName(path), want) << path;
}

}  // namespace
}  // namespace vantrel
