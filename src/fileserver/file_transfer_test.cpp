// SPDX-License-Identifier: MIT
// Transfers whose peer goes away half-way.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <fstream>

#include "fileserver/file_server.h"
#include "fileserver/testing_fakes.h"
#include "net/test_sockets.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// The test process keeps the default action of SIGPIPE, which ends it: the
// file server must not depend on its host program ignoring the signal.
TEST(FileTransferTest, APeerThatHangsUpEndsTheTransferNotTheProcess) {
  vantrel::testing::TempFolder dir;
  std::ofstream(dir.file("big.bin"), std::ios::binary) << std::string(4 << 20, 'x');
  SharedFileList files{dir.file("user.dat")};
  CVantreldFile record(dir.file("big.bin"));
  record.fileName = "big.bin";
  record.fileId = 5;
  files.Add(record);
  testing::FakeHost host;
  host.userBand = 200000;  // paced pieces, far apart enough to hang up between two
  testing::FakeRenderer renderer;
  FileServer server{host, renderer, files, nullptr, nullptr};
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);

  {
    // From another computer: only those downloads are paced.
    UniqueFd fd = testing::connectLoopback(server.port(), "127.0.0.2");
    testing::sendAll(fd.get(), "GET /getfile/?fileid=5 HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(testing::waitFor([&] { return host.sentBytes > 0; }));
    // Take everything that has arrived, then close: an orderly hang-up with
    // nothing unread, after which the server's next sends fail.
    char piece[65536];
    while (::recv(fd.get(), piece, sizeof piece, MSG_DONTWAIT) > 0) {
    }
  }
  ASSERT_TRUE(testing::waitFor([&] { return host.filesSent == 1 && host.active == 0; }, 10s));
  const auto recent = server.recentUploads().entries();
  ASSERT_EQ(recent.size(), 1u);
  EXPECT_EQ(recent[0].result, "Did not finish");
  server.stopAndJoin();
}

}  // namespace
}  // namespace vantrel
