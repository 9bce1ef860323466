// SPDX-License-Identifier: MIT
#include "platform/file_status.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

TEST(FileStatus, TemporaryNames) {
  struct Case {
    const char* path;
    bool temporary;
  };
  const Case cases[] = {
      {"/d/movie.avi.part", true},   {"/d/x.crdownload", true}, {"/d/x.tmp", true},
      {"/d/notes.txt~", true},       {"/d/.~lock.doc.odt#", true}, {".~lock.a", true},
      {"/d/movie.avi", false},       {"/d/part", false},        {"/d/x.tmp/inside", false},
      {"/d/a.~lock.b", false},       {"/d/", false},            {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isTemporaryName(c.path), c.temporary) << c.path;
}

TEST(FileStatus, OpenErrorsFallIntoTheirKinds) {
  struct Case {
    int err;
    OpenFailureKind kind;
  };
  const Case cases[] = {
      {0, OpenFailureKind::None},          {ENOENT, OpenFailureKind::InvalidFile},
      {ENOTDIR, OpenFailureKind::InvalidFile}, {EISDIR, OpenFailureKind::InvalidFile},
      {ELOOP, OpenFailureKind::InvalidFile},   {ENAMETOOLONG, OpenFailureKind::InvalidFile},
      {EWOULDBLOCK, OpenFailureKind::InUse},   {EBUSY, OpenFailureKind::InUse},
      {ETXTBSY, OpenFailureKind::InUse},       {EACCES, OpenFailureKind::Other},
      {EMFILE, OpenFailureKind::Other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    OpenFailure f = classifyOpenError(c.err);
    EXPECT_EQ(f.kind, c.kind);
    EXPECT_EQ(f.error, c.err);
    EXPECT_EQ(f.text.empty(), c.err == 0);
  }
  EXPECT_EQ(classifyOpenError(EACCES).text, "Permission denied");
}

TEST(FileStatus, StatReportsSizeTimesAndKind) {
  testing::TempFolder dir;
  const std::string path = dir.file("big.bin.part");
  {
    // Sparse, past 4 GiB, so a 32-bit size would show.
    std::ofstream f(path, std::ios::binary);
    f.seekp(int64_t{5} << 30);
    f.put('x');
  }
  timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
  FileStatus st;
  ASSERT_TRUE(statFile(path, st).ok());
  EXPECT_EQ(st.size, (int64_t{5} << 30) + 1);
  EXPECT_EQ(st.modifiedTime, 1000000000);
  EXPECT_GT(st.birthTime, 0);
  EXPECT_FALSE(st.isDirectory);
  EXPECT_TRUE(st.isTemporary);

  ASSERT_TRUE(statFile(dir.path(), st).ok());
  EXPECT_TRUE(st.isDirectory);
  EXPECT_EQ(statFile(dir.file("missing"), st).kind, OpenFailureKind::InvalidFile);
  EXPECT_EQ(statFile(path + "/below", st).kind, OpenFailureKind::InvalidFile);
}

TEST(FileStatus, OpenRefusesDirectoriesAndFifosWithoutBlocking) {
  testing::TempFolder dir;
  UniqueFd fd;
  EXPECT_EQ(openFile(dir.path(), O_RDONLY, fd).kind, OpenFailureKind::InvalidFile);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_EQ(openFile(dir.file("fifo"), O_RDONLY, fd).kind, OpenFailureKind::InvalidFile);
  EXPECT_EQ(openFile(dir.file("missing"), O_RDONLY, fd).kind, OpenFailureKind::InvalidFile);
  EXPECT_FALSE(fd.valid());
}

TEST(FileStatus, ALockHeldElsewhereMeansInUseAndTruncationWaitsForTheLock) {
  testing::TempFolder dir;
  const std::string path = dir.file("shared.dat");
  std::ofstream(path) << "keep me";
  UniqueFd reader1, reader2, writer;
  ASSERT_TRUE(openFile(path, O_RDONLY, reader1).ok());
  ASSERT_TRUE(openFile(path, O_RDONLY, reader2).ok()) << "shared locks coexist";
  OpenFailure f = openFile(path, O_WRONLY | O_TRUNC, writer, /*exclusive=*/true);
  EXPECT_EQ(f.kind, OpenFailureKind::InUse);
  FileStatus st;
  ASSERT_TRUE(statFile(path, st).ok());
  EXPECT_EQ(st.size, 7) << "a refused open must not have truncated the file";

  reader1.reset();
  reader2.reset();
  ASSERT_TRUE(openFile(path, O_WRONLY | O_TRUNC, writer, true).ok());
  ASSERT_TRUE(statFile(path, st).ok());
  EXPECT_EQ(st.size, 0);
  EXPECT_EQ(openFile(path, O_RDONLY, reader1).kind, OpenFailureKind::InUse);
}

}  // namespace
}  // namespace vantrel
