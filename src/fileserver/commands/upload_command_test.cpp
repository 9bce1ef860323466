// SPDX-License-Identifier: MIT
#include "fileserver/commands/upload_command.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "net/socket_io.h"
#include "platform/file_status.h"
#include "platform/unique_fd.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class UploadTest : public ::testing::Test {
 protected:
  UploadTest() {
    shared = dir.path() / "song.txt";
    std::ofstream(shared, std::ios::binary) << "old content";
    CVantreldFile record(shared.string());
    record.Verify();
    record.fileId = 9;
    list.Add(record);
    params.append("fileid", "9");
  }
  // Sends `body` from the peer's side, closes it, and receives the upload.
  int upload(const std::string& body, const char* contentLength = nullptr) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd ours(fds[0]);
    {
      UniqueFd theirs(fds[1]);
      sendText(theirs.get(), body);
    }
    std::vector<HeaderLine> headers{{"Content-type", "multipart/form-data; boundary=XYZ"}};
    if (contentLength != nullptr) headers.push_back({"Content-length", contentLength});
    int32_t id = -1;
    return receiveUpload(ours.get(), headers, params, list, id, limits);
  }
  // The folder's names besides the shared file and the list.
  std::vector<std::string> strayFiles() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir.path())) {
      const std::string name = e.path().filename().string();
      if (name != "song.txt" && name != "bob.dat") out.push_back(name);
    }
    return out;
  }
  std::size_t filesInDir() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()));
  }

  vantrel::testing::TempFolder dir;
  fs::path shared;
  SharedFileList list{(dir.path() / "bob.dat").string()};
  RequestParams params;
  UploadLimits limits;
};

constexpr const char* kPartHead =
    "--XYZ\r\n"
    "Content-Disposition: form-data; name=\"files\"; filename=\"../../etc/passwd\"\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n";

TEST_F(UploadTest, ReplacesOnlyTheSharedFileAndKeepsABackup) {
  const std::size_t before = filesInDir();
  ASSERT_EQ(upload(std::string(kPartHead) + "line one\r\nline two\r\n--XYZ--\r\n"), upload::kOk);
  EXPECT_EQ(readFile(shared), "line one\r\nline two");  // no CR LF before the closing boundary
  EXPECT_EQ(list.Lookup(9)->fileSize, 18);
  EXPECT_EQ(filesInDir(), before + 1);  // the backup, nothing else
  bool backup = false;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("song.", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".txt" && name != "song.txt") backup = readFile(e.path()) == "old content";
  }
  EXPECT_TRUE(backup);
}

TEST_F(UploadTest, ReplacedFileKeepsItsPermissionBits) {
  fs::permissions(shared, fs::perms(0640), fs::perm_options::replace);
  ASSERT_EQ(upload(std::string(kPartHead) + "new\r\n--XYZ--\r\n"), upload::kOk);
  EXPECT_EQ(readFile(shared), "new");
  EXPECT_EQ(fs::status(shared).permissions(), fs::perms(0640));
}

TEST_F(UploadTest, ReplacementsWithinOneSecondKeepEveryOldContent) {
  // Three replacements stamped with the same second, and a file of the user's
  // that happens to carry the first backup name: nothing is overwritten.
  const std::time_t when = 1700000000;
  const std::string path = shared.string();
  std::ofstream(uploadBackupPath(path, when, 1), std::ios::binary) << "the user's own file";
  const char* contents[] = {"first", "second", "third"};
  std::vector<std::string> made;
  for (const char* content : contents) {
    std::ofstream(shared, std::ios::binary | std::ios::trunc) << content;
    std::string backup;
    ASSERT_EQ(backupBeforeReplace(path, when, &backup), 0);
    made.push_back(backup);
  }
  EXPECT_EQ(readFile(uploadBackupPath(path, when, 1)), "the user's own file");
  ASSERT_EQ(made.size(), 3u);
  for (std::size_t i = 0; i < made.size(); ++i) {
    EXPECT_EQ(made[i], uploadBackupPath(path, when, static_cast<int>(i) + 2));
    EXPECT_EQ(readFile(made[i]), contents[i]);
  }
}

TEST(UploadBackupNameTest, ExtensionStaysLast) {
  const std::time_t when = 1700000000;
  std::tm local{};
  ::localtime_r(&when, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, ".%I-%M-%S%p %m-%d-%y", &local);
  const std::string t = stamp;
  struct Case {
    const char* path;
    int counter;
    std::string want;
  } cases[] = {
      {"/m/Night Train.mp3", 1, "/m/Night Train" + t + ".mp3"},
      {"/m/Night Train.mp3", 2, "/m/Night Train" + t + " (2).mp3"},
      {"/m/archive.tar.gz", 1, "/m/archive.tar" + t + ".gz"},
      {"/m/.profile", 1, "/m/.profile" + t},
      {"/m.d/README", 1, "/m.d/README" + t},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(uploadBackupPath(c.path, when, c.counter), c.want);
  }
}

TEST_F(UploadTest, InterruptedUploadLeavesTheOldFile) {
  EXPECT_EQ(upload(std::string(kPartHead) + "half of the new"), upload::kWriteFailed);
  EXPECT_EQ(readFile(shared), "old content");
  for (const auto& e : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(e.path().filename().string().find(".upload-"), std::string::npos) << e.path();
    EXPECT_EQ(e.path().filename().string().rfind("song.", 0) == 0 && e.path() != shared, false) << e.path();
  }
}

TEST_F(UploadTest, FailedUploadsLeaveTheOldFileAndNothingElse) {
  const std::string whole = std::string(kPartHead) + "new\r\n--XYZ--\r\n";
  struct Case {
    const char* name;
    std::string body;
    const char* contentLength;
    int want;
  };
  const Case cases[] = {
      {"interrupted", std::string(kPartHead) + "half of the new", nullptr, upload::kWriteFailed},
      {"more than the disk holds", whole, "99999999999999999", upload::kTooLong},
      {"length of 21 digits", whole, "999999999999999999999", upload::kTooLong},
      {"length not a number", whole, "lots", upload::kTooLong},
      {"body past its announced length", std::string(kPartHead) + std::string(600, 'x') + "\r\n--XYZ--\r\n", "200",
       upload::kTooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(upload(c.body, c.contentLength), c.want);
    EXPECT_EQ(readFile(shared), "old content");
    EXPECT_EQ(strayFiles(), std::vector<std::string>{});  // no temporary file, no backup
  }
  EXPECT_EQ(upload(whole, "300"), upload::kOk);
  EXPECT_EQ(readFile(shared), "new");
}

TEST_F(UploadTest, ASmallUploadNeedsLittleRoomWhileALargeOneKeepsTheWholeMargin) {
  // A margin larger than any disk: only the upload's own length is kept free
  // for a small file, so it still goes through.
  limits.freeSpaceMargin = uint64_t{1} << 60;
  const std::string whole = std::string(kPartHead) + "new\r\n--XYZ--\r\n";
  EXPECT_EQ(upload(whole, "300"), upload::kOk);
  EXPECT_EQ(readFile(shared), "new");
  // Without a length the whole margin is kept, and nothing fits.
  EXPECT_EQ(upload(std::string(kPartHead) + "newer\r\n--XYZ--\r\n"), upload::kTooLong);
}

TEST_F(UploadTest, UnfinishedUploadsHideFromSharingAndGoAtTheNextStart) {
  const std::string pattern = uploadTempPattern(shared.string());
  EXPECT_EQ(pattern, (dir.path() / ".song.txt.upload-XXXXXX.tmp").string());
  EXPECT_TRUE(isTemporaryName(pattern));  // a folder share leaves it out
  // What a killed upload leaves, in the new form and the older one, beside
  // files that only look alike.
  for (const char* name : {".song.txt.upload-a1B2c3.tmp", "song.txt.upload-Zz9Yy8", "song.txt.upload-toolong1",
                           "notes.upload-a1B2c3", ".song.txt.upload-a1B2c3.tmp.keep"}) {
    std::ofstream(dir.path() / name) << "partial";
  }
  EXPECT_EQ(removeStaleUploads(list), 2);
  std::vector<std::string> left = strayFiles();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".song.txt.upload-a1B2c3.tmp.keep", "notes.upload-a1B2c3",
                                            "song.txt.upload-toolong1"}));
}

TEST_F(UploadTest, ASenderThatTricklesIsCutOff) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  UniqueFd ours(fds[0]);
  UniqueFd theirs(fds[1]);
  sendText(theirs.get(), kPartHead);
  // A short line now and then: never quiet long enough for the idle wait.
  std::jthread trickle([&](std::stop_token stop) {
    for (int i = 0; i < 200 && !stop.stop_requested(); ++i) {
      if (sendText(theirs.get(), "a\r\n") <= 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  UploadLimits limits;
  limits.idleWindow = std::chrono::milliseconds(200);
  limits.minBytesPerWindow = 1000;
  int32_t id = -1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(receiveUpload(ours.get(), {{"Content-type", "multipart/form-data; boundary=XYZ"}}, params, list, id, limits),
            upload::kWriteFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ::shutdown(theirs.get(), SHUT_RDWR);
  trickle.request_stop();
  trickle.join();
  EXPECT_EQ(readFile(shared), "old content");
  EXPECT_EQ(strayFiles(), std::vector<std::string>{});
}

TEST_F(UploadTest, FileIdMustNameASharedFile) {
  params.replace("fileid", "12");
  EXPECT_EQ(upload(std::string(kPartHead) + "x\r\n--XYZ--\r\n"), upload::kFileNotShared);
  params.replace("fileid", "1x");
  EXPECT_EQ(upload(std::string(kPartHead) + "x\r\n--XYZ--\r\n"), upload::kBadFileId);
  EXPECT_EQ(readFile(shared), "old content");
  EXPECT_EQ(upload("--XYZ\r\nContent-Disposition: form-data; name=\"files\"; filename=\"\"\r\n\r\nx\r\n"),
            upload::kEndWithoutReply);
}

TEST(UploadNameTest, FileNameOfThePartHeader) {
  const std::pair<const char*, const char*> cases[] = {
      {"Content-Disposition: form-data; name=\"files\"; filename=\"C:\\music\\a b.mp3\"", "a b.mp3"},
      {"Content-Disposition: form-data; name=files; filename= /home/x/y.ogg ;", "y.ogg"},
      {"Content-Disposition: form-data; name=\"other\"; filename=\"z.mp3\"", ""},
      {"Content-Disposition: form-data; name=\"files\"", ""},
  };
  for (const auto& [line, want] : cases) EXPECT_EQ(uploadFileName(line), want) << line;
}

}  // namespace
}  // namespace vantrel
