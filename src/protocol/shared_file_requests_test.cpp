// SPDX-License-Identifier: MIT
#include "protocol/shared_file_requests.h"

#include <gtest/gtest.h>

#include <atomic>

#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;

class SharedFileRequestsTest : public ::testing::Test, public ProtocolFixture {
 protected:
  SharedFileRequestsTest() { loggedIn(7); }
};

TEST_F(SharedFileRequestsTest, AddFilesSendsEveryFileAndTakesTheIds) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("fileid=101&fileid=102&result=0&"));
  useServer(server.port());
  std::vector<FileRegistration> files = {{"Rock & Roll.mp3", 5}, {"readme", 7}};
  ASSERT_EQ(AddFiles(ctx, files, 9, nullptr), 0);
  EXPECT_EQ(plainBody(server.lastRequest()),
            "action=add_file&dirid=9&cfileid=0&filename=Rock %26 Roll.mp3&filesize=5&keywords=&filetype=mp3"
            "&cfileid=1&filename=readme&filesize=7&keywords=&filetype=");
  EXPECT_EQ(server.lastRequest().rfind("POST /clientrequest?clientid=7 HTTP/1.0\r\n", 0), 0u);
  EXPECT_EQ(files[0].fileId, 101);
  EXPECT_EQ(files[1].fileId, 102);
}

TEST_F(SharedFileRequestsTest, ControlCharactersInNamesAreEncodedAndARefusedNameLeavesTheOthersShared) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("fileid=201&refused=1&fileid=203&result=2&"));
  useServer(server.port());
  std::vector<FileRegistration> files = {{"tab\there.txt", 1}, {"\x01\x7f", 2}, {"plain.txt", 3}};
  ASSERT_EQ(AddFiles(ctx, files, 9, nullptr), 0);
  const std::string body = plainBody(server.lastRequest());
  EXPECT_NE(body.find("&filename=tab%09here.txt&"), std::string::npos) << body;
  EXPECT_NE(body.find("&filename=%01%7F&"), std::string::npos) << body;
  for (const char c : body) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << body;
  EXPECT_EQ(files[0].fileId, 201);
  EXPECT_EQ(files[1].fileId, 0);
  EXPECT_EQ(files[2].fileId, 203);
}

TEST_F(SharedFileRequestsTest, LongNamesAreShortenedKeepingTheirExtension) {
  const std::vector<FileRegistration> files = {{std::string(200, 'n') + ".a&b", 1}};
  const std::string body = addFilesBody(files, 1);
  EXPECT_NE(body.find("&filename=" + std::string(124, 'n') + ".a%26b&filesize="), std::string::npos) << body;
  EXPECT_NE(body.find("&filetype=a%26b"), std::string::npos);  // no "&" can add a field

  const std::string e = "\xC3\xA9";  // two bytes
  const struct {
    const char* name;
    std::string in;
    std::string want;
  } cases[] = {
      {"at the limit", std::string(124, 'a') + ".txt", std::string(124, 'a') + ".txt"},
      {"one over", std::string(125, 'a') + ".txt", std::string(124, 'a') + ".txt"},
      {"no extension", std::string(130, 'a'), std::string(128, 'a')},
      {"a dot first only", "." + std::string(130, 'a'), "." + std::string(127, 'a')},
      {"extension too long to keep", "a." + std::string(130, 'b'), "a." + std::string(126, 'b')},
      {"no half character", std::string(123, 'a') + e + e + ".txt", std::string(123, 'a') + ".txt"},
      {"no half character, no extension", std::string(127, 'a') + e, std::string(127, 'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string listed = listedFileName(c.in);
    EXPECT_EQ(listed, c.want);
    EXPECT_LE(listed.size(), files::kMaxSentName);
  }
}

TEST_F(SharedFileRequestsTest, AddFilesReplyRules) {
  struct Case { const char* name; const char* reply; int want; };
  const Case cases[] = {
      {"server error", "result=3&", 503},
      {"empty value", "fileid=&result=0&", files::kEmptyField},
      {"zero ID", "fileid=0&result=0&", files::kZeroFileId},
      {"not a number", "fileid=x1&result=0&", files::kBadFileId},
      {"negative", "fileid=-4&result=0&", files::kBadFileId},
      {"no result", "fileid=4&", 499},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedHttpServer server(ScriptedHttpServer::reply(c.reply));
    useServer(server.port());
    std::vector<FileRegistration> one = {{"a.txt", 1}};
    EXPECT_EQ(AddFiles(ctx, one, 1, nullptr), c.want);
  }
}

TEST_F(SharedFileRequestsTest, AddFilesRetriesATransportFailureAndLogsInAgainOnce) {
  std::atomic<int> n{0};
  ScriptedHttpServer server([&](int fd, const std::string& request) {
    switch (n++) {
      case 0:
        return;  // closed without a reply: 203, sent again
      case 1:
        sendText(fd, "HTTP/1.0 200 OK\r\n\r\nresult=1&");  // not logged in
        return;
      case 2:
        EXPECT_NE(request.find("action=login&"), std::string::npos);
        sendText(fd, "HTTP/1.0 200 OK\r\n\r\nresult=0&clientid=7&checksum=0&");
        return;
      default:
        sendText(fd, "HTTP/1.0 200 OK\r\n\r\nfileid=55&result=0&");
    }
  });
  useServer(server.port());
  std::vector<FileRegistration> one = {{"a.txt", 1}};
  int calls = 0;
  const ClientRequest::Progress progress = [&](int, long) { return ++calls; };
  ASSERT_EQ(AddFiles(ctx, one, 1, &progress), 0);
  EXPECT_EQ(one[0].fileId, 55);
  ASSERT_EQ(server.requestCount(), 4u);
  // The retry after the failed connection resends the same bytes; the request after
  // the new login is encrypted again, under the key that login made.
  const auto body = [](const std::string& r) { return r.substr(r.find("\r\n\r\n")); };
  EXPECT_EQ(body(server.requests()[1]), body(server.requests()[0]));
  EXPECT_EQ(plainBody(server.requests()[3]),
            "action=add_file&dirid=1&cfileid=0&filename=a.txt&filesize=1&keywords=&filetype=txt");
}

TEST_F(SharedFileRequestsTest, RemoveFilesSendsEachId) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&"));
  useServer(server.port());
  EXPECT_EQ(RemoveFiles(ctx, {}, nullptr), 0);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=remove_file");
  const int32_t ids[] = {4, 8};
  EXPECT_EQ(RemoveFiles(ctx, ids, nullptr), 0);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=remove_file&fileid=4&fileid=8");
}

TEST_F(SharedFileRequestsTest, FileIdReplies) {
  struct Case { const char* reply; std::optional<FileIdSet> want; };
  const Case cases[] = {
      {"result=0&numfiles=2&fileid=3&fileid=4&", FileIdSet{3, 4}},
      {"result=0&numfiles=0&", FileIdSet{}},
      {"result=0&numfiles=3&fileid=3&fileid=4&", std::nullopt},  // count differs
      {"result=0&numfiles=1&fileid=x&", std::nullopt},
      {"result=1&numfiles=0&", std::nullopt},
      {"result=0&", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(parseFileIds(c.reply), c.want);
  }
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&numfiles=1&fileid=12&"));
  useServer(server.port());
  EXPECT_EQ(GetFileIds(ctx), (FileIdSet{12}));
  EXPECT_EQ(plainBody(server.lastRequest()), "action=get_fileids");
}

}  // namespace
}  // namespace vantrel
