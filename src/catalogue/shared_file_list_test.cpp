// SPDX-License-Identifier: MIT
#include "catalogue/shared_file_list.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "core/user_interface.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using Bytes = std::vector<uint8_t>;
using vantrel::testing::readWholeFile;
using vantrel::testing::TempFolder;

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

Bytes operator+(Bytes a, std::string_view text) {
  a.insert(a.end(), text.begin(), text.end());
  return a;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes le32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return bytes({int(u & 0xFF), int((u >> 8) & 0xFF), int((u >> 16) & 0xFF), int(u >> 24)});
}

CVantreldFile record(int32_t id, std::string name = "a.txt") {
  CVantreldFile r("/data/" + name);
  r.fileName = std::move(name);
  r.fileId = id;
  r.groupId = 7;
  r.fileSize = 1000;
  r.creationTime = 0x01020304;
  r.dirId = 9;
  return r;
}

// Body of record(id, "a.txt") in the current layout.
Bytes body(int32_t id, bool withDirId = true) {
  Bytes b = bytes({5}) + "a.txt" + bytes({11}) + "/data/a.txt" + bytes({0}) + le32(0x01020304) + le32(1000) +
            le32(id) + le32(7) + bytes({0, 0}) + le32(0);
  if (withDirId) b = b + le32(9) + bytes({0, 0});
  return b;
}

Bytes classTag() { return bytes({0xFF, 0xFF, 1, 0, 13, 0}) + "CVantreldFile"; }

void writeFile(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes fileBytes(const std::string& path) {
  const std::string s = readWholeFile(path);
  return Bytes(s.begin(), s.end());
}

class RecordingUi : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override {
    shown.push_back(box);
    return MessageAnswer::Ok;
  }
  std::vector<MessageBox> shown;
};

TEST(SharedFileArchive, EmptyListIsTwelveBytes) {
  SharedFileMap map;
  EXPECT_EQ(encodeSharedFileArchive(map, 0), bytes({0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0}));
}

TEST(SharedFileArchive, RecordsAreWrittenInBucketOrderWithTheClassOnce) {
  SharedFileMap map;
  // 1 and 18 share bucket 1 (18 is newer, so first); 2 is alone in bucket 2.
  for (int32_t id : {1, 18, 2}) map.set(static_cast<uint32_t>(id), std::make_unique<CVantreldFile>(record(id)));
  const Bytes want = bytes({0, 0}) + le32(3) + le32(100) + bytes({3, 0}) +  //
                     le32(18) + classTag() + body(18) +                     //
                     le32(1) + bytes({0x01, 0x80}) + body(1) +              //
                     le32(2) + bytes({0x01, 0x80}) + body(2);
  EXPECT_EQ(encodeSharedFileArchive(map, 3), want);
}

TEST(SharedFileArchive, LongStringsTakeTheWidePrefix) {
  SharedFileMap map;
  CVantreldFile r = record(4);
  r.description = std::string(255, 'd');
  map.set(4, std::make_unique<CVantreldFile>(r));
  const Bytes out = encodeSharedFileArchive(map, 0);
  const Bytes prefix = bytes({0xFF, 0xFF, 0x00}) + std::string(255, 'd');
  EXPECT_NE(std::search(out.begin(), out.end(), prefix.begin(), prefix.end()), out.end());
}

TEST(SharedFileList, SaveAndLoadKeepEveryStoredField) {
  TempFolder dir;
  const std::string path = SharedFileList::archivePathFor(dir.path().string() + "/", "alice");
  EXPECT_EQ(path, dir.file("alice.dat"));
  {
    SharedFileList list(path);
    CVantreldFile r = record(42, "song.wav");
    r.groupName = "Music";
    r.groupDirPath = "Music : Live";
    r.description = "live take";
    r.downloadCount = 3;
    ASSERT_TRUE(list.Add(r));
    ASSERT_TRUE(list.Add(record(59)));
  }
  SharedFileList loaded(path);
  ASSERT_TRUE(loaded.Load());
  ASSERT_EQ(loaded.size(), 2u);
  const auto r = loaded.Lookup(42);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->fileName, "song.wav");
  EXPECT_EQ(r->localPath, "/data/song.wav");
  EXPECT_EQ(r->groupName, "Music");
  EXPECT_EQ(r->groupDirPath, "Music : Live");
  EXPECT_EQ(r->description, "live take");
  EXPECT_EQ(r->creationTime, 0x01020304);
  EXPECT_EQ(r->fileSize, 1000);
  EXPECT_EQ(r->groupId, 7);
  EXPECT_EQ(r->dirId, 9);
  EXPECT_EQ(r->downloadCount, 3);
  EXPECT_TRUE(r->isValid);
  EXPECT_EQ(loaded.listChecksum(), 101);
  EXPECT_FALSE(loaded.Lookup(43));
}

TEST(SharedFileList, LoadRepairsWhatTheArchiveGetsWrong) {
  TempFolder dir;
  const std::string path = dir.file("bob.dat");
  struct Case {
    const char* name;
    Bytes archive;
    std::vector<int32_t> ids;
    int32_t reserved;
    int32_t dirIdOf5;
  };
  const Case cases[] = {
      {"an entry filed under another key is dropped",
       bytes({0, 0}) + le32(0) + le32(100) + bytes({2, 0}) + le32(6) + classTag() + body(5) + le32(18) +
           bytes({0x01, 0x80}) + body(18),
       {18}, 0, -1},
      {"a negative reserved counter loads as 0",
       bytes({0, 0}) + le32(-5) + le32(100) + bytes({1, 0}) + le32(5) + classTag() + body(5), {5}, 0, 9},
      {"the older layout loads with no directory IDs",
       le32(12) + bytes({1, 0}) + bytes({5, 0}) + classTag() + body(5, false), {5}, 12, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(path, c.archive);
    SharedFileList list(path);
    ASSERT_TRUE(list.Load());
    EXPECT_EQ(list.size(), c.ids.size());
    for (int32_t id : c.ids) EXPECT_TRUE(list.Contains(id)) << id;
    EXPECT_EQ(list.reservedCounter(), c.reserved);
    if (auto r = list.Lookup(5)) {
      EXPECT_EQ(r->dirId, c.dirIdOf5);
    }
  }
}

TEST(SharedFileList, OlderLayoutIsRewrittenInTheCurrentOne) {
  TempFolder dir;
  const std::string path = dir.file("old.dat");
  writeFile(path, le32(0) + bytes({1, 0}) + bytes({5, 0}) + classTag() + body(5, false));
  SharedFileList list(path);
  ASSERT_TRUE(list.Load());
  ASSERT_TRUE(list.Save());
  CVantreldFile want = record(5);
  want.dirId = -1;
  SharedFileMap map;
  map.set(5, std::make_unique<CVantreldFile>(want));
  EXPECT_EQ(fileBytes(path), encodeSharedFileArchive(map, 0));
}

TEST(SharedFileList, TheArchiveIsReadableByItsOwnerOnly) {
  TempFolder dir;
  const std::string fresh = dir.file("fresh.dat");
  const std::string older = dir.file("older.dat");
  writeFile(older, le32(0) + bytes({0, 0}));
  ASSERT_EQ(::chmod(older.c_str(), 0644), 0);
  for (const std::string& path : {fresh, older}) {
    SCOPED_TRACE(path);
    SharedFileList list(path);
    list.Load();
    ASSERT_TRUE(list.Save());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
}

TEST(SharedFileList, UnreadableArchivesFailTheLoadAndTellTheUser) {
  TempFolder dir;
  RecordingUi ui;
  SharedFileList missing(dir.file("nobody.dat"), nullptr, &ui);
  EXPECT_FALSE(missing.Load());
  EXPECT_TRUE(ui.shown.empty());

  const std::string path = dir.file("broken.dat");
  writeFile(path, bytes({0, 0}) + le32(0) + le32(100) + bytes({1, 0}) + le32(5) + classTag() + bytes({3}) + "ab");
  SharedFileList broken(path, nullptr, &ui);
  EXPECT_FALSE(broken.Load());
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].title, "Warning");
  EXPECT_EQ(ui.shown[0].text.rfind("Archive Exception: Opening Shared File Archive : ", 0), 0u);
}

TEST(SharedFileList, ChecksumSumsIdsModuloAMillion) {
  TempFolder dir;
  SharedFileList list(dir.file("c.dat"));
  list.Add(record(5));
  list.Add(record(999999));
  EXPECT_EQ(list.listChecksum(), 4);
  // A missing file keeps its ID on the server, so it still counts.
  list.Update(999999, [](CVantreldFile& r) { r.isValid = false; });
  EXPECT_EQ(list.RecomputeChecksum(), 4);
  list.Clear();
  list.Add(record(400000));
  list.Add(record(600000));
  EXPECT_EQ(list.listChecksum(), 0);
  list.Clear();
  list.Add(record(-3));
  EXPECT_EQ(list.listChecksum(), -3);  // a negative sum keeps its sign
  list.Clear();
  list.Add(record(INT32_MAX));
  list.Add(record(1));  // wraps to INT32_MIN
  EXPECT_EQ(list.listChecksum(), INT32_MIN % 1000000);
}

TEST(SharedFileList, RemoveReleasesTheRecordAndSaves) {
  TempFolder dir;
  const std::string path = dir.file("r.dat");
  SharedFileList list(path);
  list.Add(record(5));
  list.Add(record(22));  // same bucket as 5
  EXPECT_TRUE(list.Remove(5));
  EXPECT_FALSE(list.Remove(5));
  SharedFileList reloaded(path);
  ASSERT_TRUE(reloaded.Load());
  EXPECT_EQ(reloaded.size(), 1u);
  EXPECT_TRUE(reloaded.Contains(22));
}

// Saves cut short (killed, a crash, the machine off) leave "<name>.tmp-XXXXXX"
// behind; the next load removes them, but not a save of this moment, not
// another user's and not a file that only looks alike.
TEST(SharedFileList, LoadRemovesUnfinishedSavesOnly) {
  TempFolder dir;
  const std::string path = dir.file("alice.dat");
  { SharedFileList(path).Add(record(5)); }
  namespace fs = std::filesystem;
  const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
  const struct {
    const char* name;
    bool old;
    bool stays;
  } cases[] = {
      {"alice.dat.tmp-Ab3xZ9", true, false}, {"alice.dat.tmp-q1w2e3", true, false},
      {"alice.dat.tmp-now123", false, true},  // a save running right now
      {"bob.dat.tmp-Ab3xZ9", true, true},     {"alice.dat.tmp-toolong1", true, true},
      {"alice.dat.tmp-", true, true},
  };
  for (const auto& c : cases) {
    std::ofstream(dir.file(c.name)) << "partial";
    if (c.old) fs::last_write_time(dir.file(c.name), hourAgo);
  }
  SharedFileList list(path);
  ASSERT_TRUE(list.Load());
  EXPECT_TRUE(list.Contains(5));
  for (const auto& c : cases) EXPECT_EQ(fs::exists(dir.file(c.name)), c.stays) << c.name;
}

TEST(SharedFileList, BatchWritesTheSameArchiveAsSingleAdds) {
  TempFolder dir;
  const std::vector<int32_t> ids = {5, 22, 39, 7, 22};  // same buckets, and a replaced ID
  SharedFileList single(dir.file("single.dat"));
  for (size_t i = 0; i < ids.size(); ++i) ASSERT_TRUE(single.Add(record(ids[i], "f" + std::to_string(i))));
  SharedFileList batch(dir.file("batch.dat"));
  std::vector<CVantreldFile> records;
  for (size_t i = 0; i < ids.size(); ++i) records.push_back(record(ids[i], "f" + std::to_string(i)));
  ASSERT_TRUE(batch.AddBatch(std::move(records)));
  EXPECT_EQ(fileBytes(dir.file("batch.dat")), fileBytes(dir.file("single.dat")));
  EXPECT_EQ(batch.listChecksum(), single.listChecksum());
  EXPECT_EQ(batch.Lookup(22)->fileName, "f4");
}

TEST(SharedFileList, FailedSaveKeepsThePreviousArchiveAndSaysSo) {
  TempFolder dir;
  const std::string path = dir.file("keep.dat");
  RecordingUi ui;
  SharedFileList list(path, nullptr, &ui);
  ASSERT_TRUE(list.Add(record(5)));
  ASSERT_TRUE(list.Add(record(7)));
  const Bytes before = fileBytes(path);

  // Files may not grow past a few bytes now: the next save runs out of room.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = list.Add(record(6));
  bool removalSaved = true;
  const int32_t five[] = {5};
  const auto removed = list.RemoveBatch(five, &removalSaved);
  const bool removedOne = list.Remove(5);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved);
  EXPECT_EQ(fileBytes(path), before);
  EXPECT_NE(list.lastError().find("File Exception: Error creating shared files list file: "), std::string::npos);
  ASSERT_EQ(ui.shown.size(), 3u);
  EXPECT_EQ(ui.shown[0].title, "Warning");
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1u);  // no temporary file left behind
  // A change that is not on disk is not made: the list in memory stays what
  // the next start will load, so neither a share nor a removal is lost.
  EXPECT_FALSE(list.Contains(6));
  EXPECT_FALSE(removalSaved);
  EXPECT_TRUE(removed.empty());
  EXPECT_FALSE(removedOne);
  EXPECT_TRUE(list.Contains(5));
  EXPECT_EQ(list.listChecksum(), 12);
}

TEST(CVantreldFile, VerifyRefreshesAnOpenableFileAndMarksAMissingOne) {
  TempFolder dir;
  std::ofstream(dir.file("here.bin")) << "12345";
  CVantreldFile present(dir.file("here.bin"));
  EXPECT_TRUE(present.Verify());
  EXPECT_EQ(present.fileSize, 5);
  EXPECT_EQ(present.fileName, "here.bin");
  EXPECT_GT(present.creationTime, 0);

  CVantreldFile gone(dir.file("gone.bin"));
  EXPECT_FALSE(gone.Verify());
  EXPECT_FALSE(gone.isValid);
  EXPECT_TRUE(gone.Verify());  // already invalid: not opened again

  CVantreldFile folder(dir.path().string());
  EXPECT_FALSE(folder.Verify());
}

}  // namespace
}  // namespace vantrel
