// SPDX-License-Identifier: MIT
#include "server/clients/update_offer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "net/client_request.h"
#include "protocol/catalogue_listing.h"
#include "protocol/client_update.h"
#include "server/central_server.h"
#include "server/clients/test_fixture.h"
#include "tests/support/temp_folder.h"

namespace vantrel::server {
namespace {

namespace fs = std::filesystem;
using vantrel::testing::readWholeFile;
using vantrel::testing::TempFolder;
using testing::ServerFixture;
using testing::TestClient;

void writeFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// What the client makes of a getupdate reply: its URLs and its comment.
struct ClientView {
  std::vector<std::string> urls;
  std::string comment;
};

// A whole server on ports the system picks, offering the files of `updateDir`.
ServerOptions loopbackOptions(const TempFolder& dir, const std::string& updateDir) {
  ServerOptions options;
  options.dbPath = dir.file("s.db");
  options.port = 0;
  options.udpPort = 0;
  options.updateDir = updateDir;
  return options;
}

ClientView readAsTheClient(const std::string& reply) {
  const QueryFields fields = parseQueryFields(reply);
  ClientView view;
  if (const auto it = fields.find("url"); it != fields.end()) view.urls = updateUrls(it->second);
  if (const auto it = fields.find("comment"); it != fields.end()) view.comment = base64Decode(it->second.front());
  return view;
}

// An update folder with two files to offer and everything that must not be:
// a hidden file, a sub-folder, links to a file inside and outside, a name the
// client could not keep as it is, and a named pipe.
class UpdateFolderTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    fs::create_directories(folder / "sub");
    writeFile(folder / "vantrel-client", "new program\x01\x02");
    writeFile(folder / "filedata-2.dat", std::string(70000, 'x'));
    writeFile(folder / ".hidden", "no");
    writeFile(folder / "sub" / "inner.bin", "no");
    writeFile(folder / "with space.bin", "no");
    writeFile(dir.path() / "secret.txt", "outside");
    fs::create_symlink(dir.path() / "secret.txt", folder / "outside.bin");
    fs::create_symlink(folder / "vantrel-client", folder / "alias.bin");
    ::mkfifo((folder / "pipe.bin").c_str(), 0600);
    offer.setAddress("127.0.0.1", 7001);
  }

  TempFolder dir;
  fs::path folder = dir.path() / "update";
  UpdateOffer offer{folder, "Faster + safer/better?"};
};

TEST(UpdateFileNameTest, OnlyPlainNamesPass) {
  struct Case {
    const char* name;
    bool want;
  };
  const Case cases[] = {
      {"vantrel-client", true}, {"filedata_2.dat", true}, {"", false},        {".", false},
      {"..", false},            {".hidden", false},      {"a/b", false},      {"a\\b", false},
      {"%2e%2e", false},        {"a b", false},          {"a;b", false},      {"a&b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plainUpdateFileName(c.name), c.want);
  }
  EXPECT_TRUE(plainUpdateFileName(std::string(UpdateOffer::kMaxNameLength, 'a')));
  EXPECT_FALSE(plainUpdateFileName(std::string(UpdateOffer::kMaxNameLength + 1, 'a')));
}

TEST_F(UpdateFolderTest, OffersOnlyRegularFilesDirectlyInTheFolder) {
  EXPECT_EQ(offer.files(), (std::vector<std::string>{"filedata-2.dat", "vantrel-client"}));
  size_t offered = 0;
  const ClientView view = readAsTheClient(offer.reply("ignored:1", &offered));
  EXPECT_EQ(offered, 2u);
  EXPECT_EQ(view.urls, (std::vector<std::string>{"http://127.0.0.1:7001/update/filedata-2.dat",
                                                  "http://127.0.0.1:7001/update/vantrel-client"}));
  // The comment's Base64 holds "+" and "/", which must survive the client's decoding.
  EXPECT_EQ(view.comment, "Faster + safer/better?");
}

TEST_F(UpdateFolderTest, ServesTheOfferedFilesAndNothingElse) {
  const HttpResponse program = offer.serve("/update/vantrel-client");
  EXPECT_EQ(program.status, 200);
  EXPECT_EQ(program.contentType, "application/octet-stream");
  EXPECT_EQ(program.body, "new program\x01\x02");
  EXPECT_EQ(offer.serve("/update/filedata-2.dat").body.size(), 70000u);

  for (const char* path : {"/update/", "/update/.hidden", "/update/sub", "/update/sub/inner.bin",
                           "/update/../secret.txt", "/update/..%2fsecret.txt", "/update/outside.bin",
                           "/update/alias.bin", "/update/pipe.bin", "/update/with%20space.bin", "/update/missing",
                           "/other/vantrel-client"}) {
    SCOPED_TRACE(path);
    const HttpResponse r = offer.serve(path);
    EXPECT_EQ(r.status, 404);
    EXPECT_FALSE(r.announceLength);
    EXPECT_EQ(r.body.find("outside"), std::string::npos);
  }
}

TEST_F(UpdateFolderTest, FilesOverTheSizeLimitAreNeitherOfferedNorServed) {
  // Sparse files: the limit is checked without writing 64 MiB.
  writeFile(folder / "at-limit.bin", "");
  fs::resize_file(folder / "at-limit.bin", static_cast<uintmax_t>(UpdateOffer::kMaxFileBytes));
  writeFile(folder / "too-big.bin", "");
  fs::resize_file(folder / "too-big.bin", static_cast<uintmax_t>(UpdateOffer::kMaxFileBytes) + 1);
  EXPECT_EQ(offer.files(), (std::vector<std::string>{"at-limit.bin", "filedata-2.dat", "vantrel-client"}));
  EXPECT_EQ(offer.serve("/update/too-big.bin").status, 404);
}

TEST_F(UpdateFolderTest, AnyAddressListenerNamesTheHostTheClientReached) {
  offer.setAddress("0.0.0.0", 7001);
  EXPECT_EQ(readAsTheClient(offer.reply("vantrel.test:8080")).urls.front(),
            "http://vantrel.test:7001/update/filedata-2.dat");
  // A Host header that is not a plain host name is not copied into the URLs.
  for (const char* host : {"", "evil.example/x?", "a b", "[::1]:7001"}) {
    SCOPED_TRACE(host);
    EXPECT_EQ(readAsTheClient(offer.reply(host)).urls.front(), "http://127.0.0.1:7001/update/filedata-2.dat");
  }
}

TEST_F(UpdateFolderTest, EmptyOrMissingFolder) {
  UpdateOffer empty(dir.path() / "update" / "sub" / "none", "");
  std::string error;
  EXPECT_FALSE(empty.check(error));
  EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
  EXPECT_EQ(empty.reply("h"), "result=0&");
  EXPECT_TRUE(offer.check(error));

  fs::create_directories(dir.path() / "nothing");
  UpdateOffer nothing(dir.path() / "nothing", "comment");
  EXPECT_EQ(nothing.reply("h"), "result=0&");
}

TEST_F(UpdateFolderTest, GetUpdateAnswersWithTheOfferAndLogsTheRequest) {
  std::vector<std::string> lines;
  ctx.log = [&lines](LogLevel, const std::string& line) { lines.push_back(line); };
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  const std::string getUpdate = "action=getupdate&curver=201&newver=202&platform=win32_new";

  // No update folder: the bare result of old.
  EXPECT_EQ(send(alice, getUpdate), "result=0&");

  ctx.update = &offer;
  const std::string reply = send(alice, getUpdate);
  EXPECT_EQ(ReplyNumber(reply, "result="), 0);
  EXPECT_EQ(readAsTheClient(reply).urls.size(), 2u);
  ASSERT_EQ(lines.size(), 3u);  // the login, then both requests
  EXPECT_EQ(lines[2], "client " + std::to_string(alice.clientId) +
                          " asked for the update from version 201 to 202; 2 files offered");
}

// The whole server over loopback: the version announced at login, the reply,
// and every file fetched with the client's own update download.
TEST_F(UpdateFolderTest, ClientDownloadsTheOfferFromTheRunningServer) {
  ServerOptions options = loopbackOptions(dir, folder.string());
  options.users = {{"alice", "secret1"}};
  options.clientVersion = 202;
  options.updateComment = "Now with +/= in it";
  CentralServer server;
  std::string error;
  ASSERT_TRUE(server.start(options, error)) << error;

  SessionKey key;
  const std::string login =
      server.protocol().login(FormFields(loginBody("alice", "secret1", key, 7), FormFields::Decoding::kRaw), "127.0.0.1");
  ASSERT_EQ(ReplyNumber(login, "result="), 0);
  EXPECT_EQ(ReplyNumber(login, "clientver="), 202);

  const std::string base = "http://127.0.0.1:" + std::to_string(server.httpPort());
  ClientRequest request;
  int code = -1;
  const std::string reply = request.PostEncrypted(
      nullptr, base + "/clientrequest?clientid=" + std::to_string(ReplyNumber(login, "clientid=")),
      "action=getupdate&curver=201&newver=202&platform=win32_new", code,
      [&key](std::string_view plain) { return key.EncryptText(plain); });
  ASSERT_EQ(code, 0);
  const ClientView view = readAsTheClient(reply);
  EXPECT_EQ(view.comment, "Now with +/= in it");
  ASSERT_EQ(view.urls.size(), 2u);
  fs::create_directories(dir.path() / "program");
  for (const std::string& url : view.urls) {
    SCOPED_TRACE(url);
    EXPECT_EQ(url.rfind(base + "/update/", 0), 0u);
    const std::string name = url.substr(url.rfind('/') + 1);
    ClientRequest get;
    long announced = -1;
    EXPECT_EQ(get.GetUpdateFile(url, dir.file("program/" + name), [&](long length) { announced = length; }), 0);
    EXPECT_EQ(readWholeFile(dir.file("program/" + name)), readWholeFile((folder / name).string()));
    EXPECT_EQ(announced, static_cast<long>(fs::file_size(folder / name)));
  }
  // A file that went away after the offer, or a path that climbs out of the
  // folder, is an error to the client's download, not a file of error text.
  fs::remove(folder / "vantrel-client");
  for (const std::string& url : {view.urls.back(), base + "/update/../s.db"}) {
    SCOPED_TRACE(url);
    ClientRequest get;
    EXPECT_NE(get.GetUpdateFile(url, dir.file("program/gone"), [](long) {}), 0);
    EXPECT_EQ(get.StatusCode(), 404);
  }
}

TEST(UpdateServerOptionsTest, MissingUpdateFolderStopsTheStart) {
  TempFolder dir;
  CentralServer server;
  std::string error;
  EXPECT_FALSE(server.start(loopbackOptions(dir, dir.file("absent")), error));
  EXPECT_NE(error.find("absent"), std::string::npos) << error;
}

}  // namespace
}  // namespace vantrel::server
