// SPDX-License-Identifier: MIT
#include "fileserver/commands/sharing_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "catalogue/sync/sync_test_server.h"
#include "core/base64.h"
#include "core/log.h"
#include "fileserver/testing_fakes.h"
#include "net/test_sockets.h"

namespace vantrel {
namespace {

using sync_testing::FakeCatalogueServer;

class SharingCommandsTest : public ::testing::Test, public sync_testing::ProtocolFixture {
 protected:
  SharingCommandsTest() { loggedIn(7); }
  std::string make(const std::string& name) {
    const auto p = dir.path() / "files" / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << "abc";
    return p.string();
  }
  void share(int32_t id, const std::string& name) {
    CVantreldFile record(make(name));
    record.Verify();
    record.fileId = id;
    list.Add(record);
  }
  static RequestParams params(std::initializer_list<std::pair<const char*, std::string>> values) {
    RequestParams p;
    for (const auto& [name, value] : values) p.append(name, value);
    return p;
  }
  SharedFileList list{(dir.path() / "bob.dat").string()};
};

TEST_F(SharingCommandsTest, RemoveFileOrderListsWhatWasRemoved) {
  share(5, "five.mp3");
  share(7, "seven.mp3");
  EXPECT_EQ(removeFileOrder({"5", "7"}, list, nullptr), "result=0&fileID=5&fileID=7");
  EXPECT_EQ(list.size(), 0u);
  share(5, "five.mp3");
  EXPECT_EQ(removeFileOrder({"5", "7", "x", "0"}, list, nullptr), "result=3&fileID=5");
}

TEST(ResultTextTest, LinesStopAtTheRoomWithOneEllipsis) {
  std::string text;
  bool full = false;
  const std::string line = "Shared /home/user/music/track-with-a-long-name.mp3 <BR>\n";
  for (int i = 0; i < 300; ++i) appendResultLine(text, line, full);
  const std::size_t fit = kResultTextRoom / line.size();
  EXPECT_EQ(text.size(), fit * line.size() + 8);
  EXPECT_EQ(text.substr(text.size() - 8), "...<BR>\n");
}

TEST_F(SharingCommandsTest, AddFilesChecksParametersAndShares) {
  const struct {
    const char* name;
    RequestParams p;
    int want;
  } missing[] = {
      {"no dirid", params({{"groupid", "1"}, {"groupname", "g"}}), command_error::kNoDirectoryId},
      {"no groupid", params({{"dirid", "1"}, {"groupname", "g"}}), command_error::kNoGroupId},
      {"no groupname", params({{"dirid", "1"}, {"groupid", "1"}}), command_error::kNoGroupName},
  };
  for (const auto& c : missing) EXPECT_EQ(addFilesCommand(c.p, ctx, list).code, c.want) << c.name;

  FakeCatalogueServer server(*this);
  const std::string good = make("good.mp3");
  const CommandResult result = addFilesCommand(
      params({{"dirid", "9"}, {"groupid", "3"}, {"groupname", "Jazz"}, {"share", good}, {"share", "/nope/x.mp3"}}),
      ctx, list);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.text, "Could not share /nope/x.mp3 - Not readable<BR>\nShared " + good + " <BR>\n");
  // The result page reads what was done and what failed from the counts.
  EXPECT_EQ(result.done, 1);
  EXPECT_EQ(result.failed, 1);
  const auto record = list.Lookup(1000);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->dirId, 9);
  EXPECT_EQ(record->groupName, "Jazz");

  // The share page writes spaces in its check box values as "+"; a name that
  // really has a "+" is taken as it is.
  const std::string spaced = make("two words.mp3");
  const std::string plus = make("c+d.mp3");
  std::string written = spaced;
  std::replace(written.begin(), written.end(), ' ', '+');
  const CommandResult both = addFilesCommand(
      params({{"dirid", "9"}, {"groupid", "3"}, {"groupname", "Jazz"}, {"share", written}, {"share", plus}}), ctx, list);
  EXPECT_EQ(both.failed, 0) << both.text;
  EXPECT_EQ(both.done, 2);
  std::vector<std::string> paths;
  list.forEach([&](const CVantreldFile& f) { paths.push_back(f.localPath); });
  EXPECT_NE(std::find(paths.begin(), paths.end(), spaced), paths.end());
  EXPECT_NE(std::find(paths.begin(), paths.end(), plus), paths.end());
}

// Through the file server: "remotes" decides for another computer only.
TEST_F(SharingCommandsTest, SharingFromAnotherComputerNeedsRemotes) {
  testing::FakeHost host;
  testing::FakeRenderer renderer;
  testing::ReversingCipher cipher;
  SharingCommands commands(ctx, list, state);
  FileServer server(host, renderer, list, &commands, &cipher);
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  auto post = [&](const char* from, const std::string& command) {
    const std::string token = std::string(from) == "127.0.0.1" ? "token=a$b" : "@token=" + base64Encode("2.0.0.721$r");
    const std::string body = "groupid=5&groupname=Jazz";  // no dirid: error 34 once the command runs
    UniqueFd fd = vantrel::testing::connectLoopback(server.port(), from);
    vantrel::testing::sendAll(fd.get(), "POST /" + command + "/?" + token + " HTTP/1.0\r\nContent-length: " +
                                            std::to_string(body.size()) + "\r\n\r\n" + body);
    const std::string reply = vantrel::testing::readAll(fd.get());
    return reply.substr(reply.find("page "));
  };
  host.remotes = false;
  EXPECT_EQ(post("127.0.0.1", "addFiles"), "page client-error_template.html code 34");
  EXPECT_EQ(post("127.0.0.2", "addFiles"), "page client-error_template.html code 21");
  EXPECT_EQ(post("127.0.0.2", "sendfile"), "page client-error_template.html code 21");
  host.remotes = true;
  EXPECT_EQ(post("127.0.0.2", "addFiles"), "page client-error_template.html code 34");
  server.stopAndJoin();
}

TEST_F(SharingCommandsTest, RemoveFilesTellsTheServerOnce) {
  FakeCatalogueServer server(*this);
  share(5, "five.mp3");
  const CommandResult result = removeFilesCommand(params({{"stopsharing", "5"}, {"stopsharing", "8"}}), ctx, list);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.text,
            "Could not remove fileID 8 - is not being shared by this file manager<BR>\nRemoved five.mp3 <BR>\n");
  EXPECT_EQ(result.done, 1);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(server.bodies(), std::vector<std::string>{"action=remove_file&fileid=5"});
  EXPECT_EQ(removeFilesCommand(RequestParams(), ctx, list).code, command_error::kNothingToStop);
}

// A form or order naming many files rewrites the list once, not once per file.
TEST_F(SharingCommandsTest, EachCommandSavesTheListOnce) {
  Log log("", 0, false);
  log.setDetailLevel(3);
  int saves = 0;
  log.setMirror([&](std::string_view line) {
    if (line.find("Saving shared file list to disk") != std::string_view::npos) ++saves;
  });
  SharedFileList logged((dir.path() / "carol.dat").string(), &log);
  FakeCatalogueServer server(*this);
  RequestParams form = params({{"dirid", "9"}, {"groupid", "3"}, {"groupname", "Jazz"}});
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) form.append("share", make(name));
  ASSERT_EQ(addFilesCommand(form, ctx, logged).code, 0);
  EXPECT_EQ(logged.size(), 4u);
  EXPECT_EQ(saves, 1);

  saves = 0;
  EXPECT_EQ(removeFilesCommand(params({{"stopsharing", "1000"}, {"stopsharing", "1001"}}), ctx, logged).code, 0);
  EXPECT_EQ(saves, 1);

  saves = 0;
  EXPECT_EQ(removeFileOrder({"1002", "1003", "1003"}, logged, nullptr), "result=3&fileID=1002&fileID=1003");
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(logged.size(), 0u);
  SharedFileList reread(logged.archivePath());
  ASSERT_TRUE(reread.Load());
  EXPECT_EQ(reread.size(), 0u);
}

TEST(RemoveUsersTest, PairsIdsWithAddressesAndReportsUnknownSessions) {
  RequestParams p;
  p.append("id", "4");
  p.append("id", "6");
  p.append("ip", "10.0.0.1");
  std::vector<int32_t> stopped;
  const CommandResult result = removeUsersCommand(
      p, [&](int32_t id) { stopped.push_back(id); return id == 4; }, nullptr);
  EXPECT_EQ(stopped, (std::vector<int32_t>{4, 6}));
  EXPECT_EQ(result.text,
            "Removed 10.0.0.1\n<BR>Could not remove Unknown IP - session not found, this user may have already "
            "disconnected<BR>\n");
  EXPECT_EQ(removeUsersCommand(RequestParams(), [](int32_t) { return true; }, nullptr).code,
            command_error::kNoUsers);
}

TEST_F(SharingCommandsTest, FileDescriptionCodes) {
  share(5, "five.mp3");
  const struct {
    const char* name;
    RequestParams p;
    int want;
  } cases[] = {
      {"no fileid", params({{"description", "d"}}), command_error::kNoFileId},
      {"not a number", params({{"fileid", "5x"}, {"description", "d"}}), command_error::kBadFileId},
      {"not shared", params({{"fileid", "6"}, {"description", "d"}}), command_error::kFileNotShared},
      {"no description", params({{"fileid", "5"}}), command_error::kNoDescription},
      {"ok", params({{"fileid", "5"}, {"description", "Live take"}}), 0},
  };
  for (const auto& c : cases) {
    int32_t id = -1;
    EXPECT_EQ(fileDescriptionCommand(c.p, list, id).code, c.want) << c.name;
  }
  EXPECT_EQ(list.Lookup(5)->description, "Live take");
}

}  // namespace
}  // namespace vantrel
