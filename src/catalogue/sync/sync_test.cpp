// SPDX-License-Identifier: MIT
// Verification, comparison with the server, and the two dialogs that resolve
// differences.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "catalogue/sync/missing_files.h"
#include "catalogue/sync/server_comparison.h"
#include "catalogue/sync/sync_dialog.h"
#include "catalogue/sync/sync_test_server.h"

namespace vantrel {
namespace {

using sync_testing::FakeCatalogueServer;

class RecordingView : public SyncDialogView {
 public:
  void showSyncDialog(const std::vector<CVantreldFile>& records) override { shown = records; }
  void setStatus(const std::string& text) override { statuses.push_back(text); }
  void setProgress(int position) override { progress = position; }
  MessageAnswer ask(const MessageBox& box) override {
    questions.push_back(box.text);
    return questions.size() <= retries ? MessageAnswer::Retry : MessageAnswer::Cancel;
  }
  std::vector<CVantreldFile> shown;
  std::vector<std::string> statuses;
  std::vector<std::string> questions;
  std::size_t retries = 0;
  int progress = -1;
};

class SyncTest : public ::testing::Test, public sync_testing::ProtocolFixture {
 protected:
  SyncTest() { loggedIn(7); }
  std::string make(const std::string& rel, std::size_t size = 3) {
    const auto p = dir.path() / "files" / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << std::string(size, 'x');
    return p.string();
  }
  void share(int32_t id, const std::string& path, int32_t dirId = 5, bool valid = true) {
    CVantreldFile record(path);
    record.Verify();
    record.fileId = id;
    record.dirId = dirId;
    record.isValid = valid;
    list.Add(record);
  }
  SharedFileList list{(dir.path() / "bob.dat").string()};
};

TEST_F(SyncTest, VerificationMarksVanishedFilesMissingAndKeepsTheirIds) {
  FakeCatalogueServer server(*this);
  share(1, make("a.mp3"));
  share(2, make("b.mp3"));
  share(3, make("c.mp3"));
  share(4, (dir.path() / "files" / "gone.mp3").string(), 5, false);  // missing already: no second notice
  const int32_t checksum = list.listChecksum();
  std::filesystem::remove(dir.path() / "files" / "a.mp3");
  std::filesystem::remove(dir.path() / "files" / "c.mp3");
  int notices = 0;
  VerificationResult result = VerificationPass(list, ctx, [&] { ++notices; });
  std::sort(result.missing.begin(), result.missing.end());
  EXPECT_EQ(result.missing, (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(notices, 1);
  // Every record stays, under its ID, on both sides: nothing is sent.
  EXPECT_EQ(list.size(), 4u);
  EXPECT_FALSE(list.Lookup(1)->isValid);
  EXPECT_TRUE(list.Lookup(2)->isValid);
  EXPECT_FALSE(list.Lookup(3)->isValid);
  EXPECT_TRUE(server.bodies().empty());
  EXPECT_EQ(list.RecomputeChecksum(), checksum);  // still what the server holds

  // The missing files are what "Missing Files.." offers.
  EXPECT_EQ(MissingFiles(list).rows().size(), 3u);

  // Nothing new: no notice. A file put back at its path is shared again.
  make("a.mp3", 7);
  result = VerificationPass(list, ctx, [&] { ++notices; });
  EXPECT_TRUE(result.missing.empty());
  EXPECT_EQ(result.found, std::vector<int32_t>{1});
  EXPECT_EQ(notices, 1);
  EXPECT_TRUE(list.Lookup(1)->isValid);
  EXPECT_EQ(list.Lookup(1)->fileSize, 7);

  state.SetConnected(false);
  std::filesystem::remove(dir.path() / "files" / "b.mp3");
  EXPECT_TRUE(VerificationPass(list, ctx).missing.empty());
}

TEST_F(SyncTest, ComparisonRepairsBothSides) {
  FakeCatalogueServer server(*this);
  share(10, make("a.mp3"));
  share(20, make("b.mp3"));
  RecordingView view;

  // Equal checksums: no request at all.
  EXPECT_FALSE(CompareWithServer(list, ctx, 30, true, &view).compared);
  EXPECT_TRUE(server.bodies().empty());

  server.set([](FakeCatalogueServer& s) { s.serverIds = "result=0&numfiles=2&fileid=10&fileid=99&"; });
  const ComparisonResult quiet = CompareWithServer(list, ctx, 109, false, &view);
  EXPECT_TRUE(quiet.compared);
  EXPECT_EQ(quiet.onlyOnServer, std::vector<int32_t>{99});
  ASSERT_EQ(quiet.onlyOnClient.size(), 1u);
  EXPECT_EQ(quiet.onlyOnClient[0].fileId, 20);
  EXPECT_TRUE(view.shown.empty());  // without asking, only logged
  EXPECT_EQ(server.bodies().back(), "action=remove_file&fileid=99");
  EXPECT_TRUE(list.Contains(20));

  CompareWithServer(list, ctx, 109, true, &view);
  ASSERT_EQ(view.shown.size(), 1u);
  EXPECT_EQ(view.shown[0].fileId, 20);

  // A failed ID fetch removes nothing.
  server.set([](FakeCatalogueServer& s) { s.serverIds = "result=4&"; });
  const std::size_t before = server.bodies().size();
  EXPECT_FALSE(CompareWithServer(list, ctx, 109, true, &view).compared);
  EXPECT_EQ(server.bodies().size(), before + 1);
}

TEST_F(SyncTest, ChecksumOfIdsSummingToAMillionIsZero) {
  FakeCatalogueServer server(*this);
  share(400000, make("a"));
  share(600000, make("b"));
  EXPECT_FALSE(CompareWithServer(list, ctx, 0, true, nullptr).compared);
  EXPECT_TRUE(server.bodies().empty());
}

TEST_F(SyncTest, ReshareGroupsByDirectoryAndReplacesOldRecords) {
  FakeCatalogueServer server(*this);
  share(10, make("a.mp3"), 5);
  share(20, make("b.mp3"), 6);
  share(30, make("c.mp3"), 5);
  RecordingView view;
  std::vector<CVantreldFile> missing = {*list.Lookup(10), *list.Lookup(20), *list.Lookup(30)};
  SyncDialog dialog(ctx, list, missing, view);
  dialog.runReshare({true, false, true});
  ASSERT_EQ(server.bodies().size(), 1u);  // a and c share directory 5
  EXPECT_NE(server.bodies()[0].find("dirid=5&"), std::string::npos);
  EXPECT_EQ(list.size(), 2u);  // the two new records; every old one is gone
  EXPECT_TRUE(list.Contains(1000));
  EXPECT_TRUE(list.Contains(1001));
  EXPECT_EQ(view.progress, SyncDialog::kProgressEnd);
  EXPECT_EQ(view.statuses.back(), "Finished!");
  EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(), "Sharing 2 files into ''"), view.statuses.end());
}

TEST_F(SyncTest, ReshareErrorAsksToRetry) {
  FakeCatalogueServer server(*this);
  server.set([](FakeCatalogueServer& s) { s.failAddFiles = "result=3&"; });
  share(10, make("a.mp3"), 5);
  RecordingView view;
  view.retries = 1;
  SyncDialog dialog(ctx, list, {*list.Lookup(10)}, view);
  dialog.runReshare({true});
  ASSERT_EQ(view.questions.size(), 2u);  // retried once, then cancelled
  EXPECT_EQ(view.questions[0].rfind("Error 503 sharing files - ", 0), 0u);
  EXPECT_NE(view.questions[0].find("\n\nTry to share the files again?"), std::string::npos);
  EXPECT_EQ(server.bodies().size(), 2u);
}

TEST_F(SyncTest, CancelAfterAFailedReshareKeepsTheTickedFiles) {
  FakeCatalogueServer server(*this);
  share(10, make("a.mp3"), 5);
  share(20, make("b.mp3"), 6);
  share(30, make("c.mp3"), 7);
  RecordingView view;  // answers Cancel
  SyncDialog dialog(ctx, list, {*list.Lookup(10), *list.Lookup(20), *list.Lookup(30)}, view);
  // Directory 5 is shared anew, then directory 7 fails and the person cancels.
  server.set([](FakeCatalogueServer& s) {
    s.failAddFiles = "result=3&";
    s.failAddFilesWith = "dirid=7&";
  });
  dialog.runReshare({true, false, true});
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_FALSE(list.Contains(10));  // shared anew as 1000
  EXPECT_TRUE(list.Contains(1000));
  EXPECT_FALSE(list.Contains(20));  // left unticked
  ASSERT_TRUE(list.Contains(30));   // ticked, not shared: still offered
  EXPECT_EQ(list.Lookup(30)->localPath, make("c.mp3"));
}

TEST_F(SyncTest, AutoFindPrefersTheClosestSize) {
  share(1, (dir.path() / "old" / "Song.MP3").string(), 5, false);
  list.Update(1, [](CVantreldFile& r) {
    r.fileName = "Song.MP3";
    r.fileSize = 1000;
  });
  share(2, (dir.path() / "old" / "any.txt").string(), 5, false);
  list.Update(2, [](CVantreldFile& r) {
    r.fileName = "any.txt";
    r.fileSize = 0;
  });
  MissingFiles dialog(list);
  ASSERT_EQ(dialog.rows().size(), 2u);
  MissingFiles::Row& song = const_cast<MissingFiles::Row&>(dialog.rows().at("song.mp3"));
  EXPECT_EQ(song.replacement, MissingFiles::kStopSharing);

  std::vector<std::string> lines;
  auto onLine = [&](const std::string& line) { lines.push_back(line); };
  const struct {
    int64_t size;
    const char* path;
    const char* want;
  } matches[] = {{900, "/a/song.mp3", "/a/song.mp3"},
                 {1100, "/b/song.mp3", "/b/song.mp3"},  // equal distance replaces
                 {1050, "/c/song.mp3", "/c/song.mp3"},
                 {1200, "/d/song.mp3", "/c/song.mp3"}};
  for (const auto& m : matches) {
    dialog.offerMatch(song, m.path, m.size, onLine);
    EXPECT_EQ(song.replacement, m.want) << m.size;
  }
  EXPECT_EQ(lines[0], "Found match for song.mp3 size 1000   -->   /a/song.mp3 size 900");

  MissingFiles::Row& any = const_cast<MissingFiles::Row&>(dialog.rows().at("any.txt"));
  dialog.offerMatch(any, "/x/any.txt", 5, onLine);
  dialog.offerMatch(any, "/y/any.txt", 500, onLine);
  EXPECT_EQ(any.replacement, "/y/any.txt");  // recorded size 0: every match replaces
}

TEST_F(SyncTest, MissingFilesOkSharesFoundFilesUnderTheirIdsAndStopsTheRest) {
  FakeCatalogueServer server(*this);
  share(1, (dir.path() / "old" / "moved.mp3").string(), 7, false);
  list.Update(1, [](CVantreldFile& r) { r.fileName = "Moved.mp3"; });
  share(2, (dir.path() / "old" / "deleted.mp3").string(), 7, false);
  list.Update(2, [](CVantreldFile& r) { r.fileName = "deleted.mp3"; });
  share(3, (dir.path() / "old" / "nowhere.mp3").string(), 7, false);
  list.Update(3, [](CVantreldFile& r) { r.fileName = "nowhere.mp3"; });
  const std::string moved = make("deep/er/Moved.mp3", 10);

  MissingFiles dialog(list);
  std::atomic<bool> stop{false};
  std::vector<std::string> lines;
  dialog.autoFind({(dir.path() / "files").string()}, stop, [&](const std::string& l) { lines.push_back(l); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(dialog.stopSharingNames(), (std::vector<std::string>{"deleted.mp3", "nowhere.mp3"}));
  EXPECT_EQ(MissingFiles::browseProblem(2), "Select one file at a time to browse for");
  EXPECT_EQ(MissingFiles::browseProblem(0), "Must select one file to browse for");
  EXPECT_EQ(dialog.stopSharing({}), "Select at least one file to stop sharing");
  // A browsed replacement that does not open leaves the file missing.
  dialog.setReplacement("nowhere.mp3", (dir.path() / "not-there.mp3").string(), 0);

  dialog.apply(ctx);
  EXPECT_EQ(list.size(), 2u);
  const auto record = list.Lookup(1);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->localPath, moved);
  EXPECT_TRUE(record->isValid);
  EXPECT_EQ(record->fileSize, 10);
  EXPECT_EQ(record->dirId, 7);
  ASSERT_TRUE(list.Lookup(3).has_value());
  EXPECT_FALSE(list.Lookup(3)->isValid);
  // Only the file the person stopped sharing leaves the server.
  EXPECT_EQ(server.bodies(), std::vector<std::string>{"action=remove_file&fileid=2"});

  // What was found is in the archive: a restart shares it from its new place.
  SharedFileList reloaded(list.archivePath());
  ASSERT_TRUE(reloaded.Load());
  EXPECT_EQ(reloaded.Lookup(1)->localPath, moved);
}
}  // namespace
}  // namespace vantrel
