// SPDX-License-Identifier: MIT
#include "platform/durable_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testing::readWholeFile;
using testing::TempFolder;

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(DurableFile, ReplacesTheWholeFileAndLeavesNothingElse) {
  TempFolder dir;
  const std::string path = dir.file("list.dat");
  ASSERT_EQ(replaceFileDurably(path, std::string_view("a longer first content")), "");
  ASSERT_EQ(replaceFileDurably(path, std::string_view("short")), "");
  EXPECT_EQ(readWholeFile(path), "short");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"list.dat"});
}

// A write that fails half-way (here the file size limit, as a full disk
// would) leaves the old file as it was and no temporary file behind.
TEST(DurableFile, AFailedWriteLeavesTheOldFileWhole) {
  TempFolder dir;
  const std::string path = dir.file("list.dat");
  ASSERT_EQ(replaceFileDurably(path, std::string_view("old content")), "");
  const std::string big(64 * 1024, 'x');

  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string error = replaceFileDurably(path, std::string_view(big));
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_EQ(error.rfind("cannot write: ", 0), 0u) << error;
  EXPECT_EQ(readWholeFile(path), "old content");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"list.dat"});
}

TEST(DurableFile, AFolderThatIsNotThereIsReportedAndNothingIsMade) {
  TempFolder dir;
  const std::string error = replaceFileDurably(dir.file("missing/list.dat"), std::string_view("x"));
  EXPECT_EQ(error.rfind("cannot create a temporary file: ", 0), 0u) << error;
  EXPECT_TRUE(namesIn(dir.path()).empty());
}

TEST(DurableFile, PrivateFilesStayTheOwnersAndDesktopEntriesAreReadableByAll) {
  TempFolder dir;
  const ::mode_t umask = ::umask(0);
  const std::string fresh = dir.file("fresh.dat");
  const std::string older = dir.file("older.dat");
  const std::string entry = dir.file("entry.desktop");
  ASSERT_EQ(replaceFileDurably(fresh, std::string_view("x")), "");
  ASSERT_EQ(replaceFileDurably(older, std::string_view("x")), "");
  ASSERT_EQ(::chmod(older.c_str(), 0644), 0);
  ASSERT_EQ(replaceFileDurably(older, std::string_view("y")), "");
  ASSERT_EQ(replaceFileDurably(entry, std::string_view("z"), FileAccess::kReadableByAll), "");
  ::umask(umask);
  EXPECT_EQ(modeOf(fresh), 0600u);
  EXPECT_EQ(modeOf(older), 0600u);  // others lose what they could read
  EXPECT_EQ(modeOf(entry), 0644u);
}

// Saves of one file from several threads at once (or processes: each has a
// temporary file of its own) each leave a whole file; the last one wins.
TEST(DurableFile, SavesRunningAtOnceEachLeaveAWholeFile) {
  TempFolder dir;
  const std::string path = dir.file("list.dat");
  const std::string a(3000, 'a');
  const std::string b(5000, 'b');
  std::vector<std::string> errors(2);
  {
    std::jthread first([&] {
      for (int i = 0; i < 50 && errors[0].empty(); ++i) errors[0] = replaceFileDurably(path, std::string_view(a));
    });
    std::jthread second([&] {
      for (int i = 0; i < 50 && errors[1].empty(); ++i) errors[1] = replaceFileDurably(path, std::string_view(b));
    });
  }
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
  const std::string last = readWholeFile(path);
  EXPECT_TRUE(last == a || last == b) << last.size();
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"list.dat"});
}

// A symbolic link where the file goes is replaced by the file, never written
// through to what it points at.
TEST(DurableFile, ASymbolicLinkInThePlaceOfTheFileIsReplacedNotFollowed) {
  TempFolder dir;
  const std::string target = dir.file("elsewhere.txt");
  const std::string path = dir.file("entry.desktop");
  ASSERT_EQ(replaceFileDurably(target, std::string_view("keep me")), "");
  fs::create_symlink(target, path);
  ASSERT_EQ(replaceFileDurably(path, std::string_view("entry"), FileAccess::kReadableByAll), "");
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(readWholeFile(path), "entry");
  EXPECT_EQ(readWholeFile(target), "keep me");
}

}  // namespace
}  // namespace vantrel
