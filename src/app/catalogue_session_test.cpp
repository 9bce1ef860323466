// SPDX-License-Identifier: MIT
#include "app/catalogue_session.h"

#include <gtest/gtest.h>

#include <ctime>

#include <filesystem>

#include "app/testing/recording_prompts.h"
#include "net/scripted_http_server.h"
#include "protocol/testing/protocol_fixture.h"
#include "transfers/download_manager.h"
#include "transfers/group_cache.h"

namespace vantrel {
namespace {

using app_testing::DeliveryQueue;
using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;

TEST(CatalogueRunnerTest, AnswersComeBackThroughThePosterAndStaleStampsAreIgnored) {
  DeliveryQueue queue;
  CatalogueRunner runner(queue.poster());
  ViewGuard guard;
  std::vector<std::string> used;
  auto ask = [&](std::string answer) {
    const ViewGuard::Stamp stamp = guard.stamp();
    runner.run([&used, stamp, answer]() -> CatalogueRunner::Delivery {
      return [&used, stamp, answer] {
        if (ViewGuard::fresh(stamp)) used.push_back(answer);
      };
    });
  };
  ask("first");   // superseded by the next request
  ask("second");
  ASSERT_TRUE(queue.settle(runner));
  EXPECT_EQ(used, (std::vector<std::string>{"second"}));

  ask("after leaving");
  guard.leave();
  ASSERT_TRUE(queue.settle(runner));
  EXPECT_EQ(used.size(), 1u);

  auto gone = std::make_unique<ViewGuard>();
  const ViewGuard::Stamp stamp = gone->stamp();
  gone.reset();
  EXPECT_FALSE(ViewGuard::fresh(stamp));
}

class NoDownloadPrompts : public DownloadPrompts {
 public:
  FileExistsChoice fileExists(const FileExistsPrompt&) override { return FileExistsChoice::CancelTransfer; }
  std::optional<std::string> chooseFolder() override { return std::nullopt; }
};

class CatalogueSessionTest : public ::testing::Test, public ProtocolFixture {
 protected:
  CatalogueSessionTest() {
    loggedIn(7);
    useServer(server.port());
  }

  std::size_t groupRequests() const {
    std::size_t n = 0;
    for (const std::string& r : server.requests()) n += plainBody(r).rfind("action=getallgroups", 0) == 0 ? 1 : 0;
    return n;
  }

  ScriptedHttpServer server{ScriptedHttpServer::reply(
      "result=0&&type=2&name=Rock+%26+Roll+%231&id=10&status=1&memb=4&filecount=2:3&&"
      "type=2&name=Caf%C3%A9&id=11&status=2&")};
  NoDownloadPrompts prompts;
  DownloadManager downloads{settings, prompts};
  DeliveryQueue queue;
  std::string home = dir.path().string() + "/";
  CatalogueSession session{ctx, downloads, timers, home, [] { return nullptr; }, queue.poster()};
};

TEST_F(CatalogueSessionTest, ALoginRefreshesTheGroupsIntoTheUsersFileAndAChangedChecksumAgain) {
  int told = 0;
  session.setGroupsListener([&] { ++told; });
  session.beginLogin("bob");
  ASSERT_TRUE(queue.settle(session.runner()));
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(std::filesystem::exists(GroupCache::pathFor(home, "bob")));
  const auto groups = session.service().myGroups();
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].name, "Rock & Roll #1");
  EXPECT_EQ(groups[1].name, "Caf\xC3\xA9");
  EXPECT_EQ(groupRequests(), 1u);

  session.checksumTick();  // the same checksum: nothing to do
  ASSERT_TRUE(queue.settle(session.runner()));
  EXPECT_EQ(groupRequests(), 1u);
  state.SetServerChecksum(1234);
  session.checksumTick();
  ASSERT_TRUE(queue.settle(session.runner()));
  EXPECT_EQ(groupRequests(), 2u);
  EXPECT_EQ(told, 2);
}

TEST_F(CatalogueSessionTest, TheSiteLinkCarriesTheClientAndItsSealedPassword) {
  session.beginLogin("bob");
  const std::string url = session.service().webLoginUrl("groupsettings.jsp?groupid=10");
  const std::string prefix = "/login.jsp?clientid=7&password=";
  ASSERT_NE(url.find(prefix), std::string::npos) << url;
  const std::size_t from = url.find(prefix) + prefix.size();
  const std::size_t to = url.find("&redirect=groupsettings.jsp%3Fgroupid%3D10");
  ASSERT_NE(to, std::string::npos);
  std::string sealed = url.substr(from, to - from);
  EXPECT_EQ(sealed.find_first_of("+/="), std::string::npos);  // escaped for the query
  std::string decoded;
  for (std::size_t i = 0; i < sealed.size(); ++i) {
    if (sealed[i] == '%') {
      decoded += static_cast<char>(std::stoi(sealed.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += sealed[i];
    }
  }
  // The time of the link, then the password.
  const std::string plain = key.DecryptText(base64Decode(decoded));
  const std::size_t dollar = plain.find('$');
  ASSERT_NE(dollar, std::string::npos) << plain;
  EXPECT_NEAR(std::stoll(plain.substr(0, dollar)), static_cast<long long>(std::time(nullptr)), 5);
  EXPECT_EQ(plain.substr(dollar + 1), "pw");

  // The invitation's own parameters stay inside "redirect": the link has no
  // "&" or "=" of its own after it.
  const std::string invite =
      session.service().webLoginUrl("composemessage.jsp?msg_header=Check+out+this+group!&invite=11");
  const std::string tail = invite.substr(invite.find("&redirect=") + 10);
  EXPECT_EQ(tail, "composemessage.jsp%3Fmsg_header%3DCheck%2Bout%2Bthis%2Bgroup%21%26invite%3D11");
}

TEST_F(CatalogueSessionTest, RemovingOwnFilesTheServerRefusesKeepsThemShared) {
  SharedFileList list((dir.path() / "bob.dat").string());
  CVantreldFile mine("/music/mine.mp3");
  mine.fileId = 32;
  list.Add(mine);
  ScriptedHttpServer refusing{ScriptedHttpServer::reply("result=1&")};
  useServer(refusing.port());
  CatalogueSession own{ctx, downloads, timers, home, [&list] { return &list; }, queue.poster()};
  EXPECT_EQ(own.service().removeFiles({32}), 501);
  EXPECT_TRUE(list.Contains(32));

  ScriptedHttpServer accepting{ScriptedHttpServer::reply("result=0&")};
  useServer(accepting.port());
  state.SetConnected(true);  // the failed login again after the refusal let go
  EXPECT_EQ(own.service().removeFiles({32, 40}), 0);
  EXPECT_FALSE(list.Contains(32));
  ASSERT_EQ(accepting.requests().size(), 1u);
  EXPECT_EQ(plainBody(accepting.requests()[0]), "action=remove_file&fileid=32&fileid=40");
}

}  // namespace
}  // namespace vantrel
