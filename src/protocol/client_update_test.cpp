// SPDX-License-Identifier: MIT
#include "protocol/client_update.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "net/test_sockets.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;
using testing::waitFor;

TEST(ClientUpdate, CheckForUpdateRules) {
  struct Case { const char* name; int check; int own, latest; int stored; int want; };
  const Case cases[] = {
      {"checking off", 0, 201, 205, -1, update::kCheckingOff},
      {"same version", 1, 201, 201, -1, update::kNoUpdate},
      {"declined version", 1, 201, 205, 205, update::kNoUpdate},
      {"nothing declined", 1, 201, 205, -1, update::kOffer},
      {"newer than declined", 1, 201, 206, 205, update::kOffer},
  };
  vantrel::testing::TempFolder dir;
  RegistryHive hive(dir.path().string());
  SettingsStore settings(hive);
  settings.EnsureDefaults();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings.SetSettingNumber("checkforupdates", c.check);
    if (c.stored >= 0) {
      settings.SetSettingNumber("clientUpdateVersion", c.stored);
    } else {
      settings.SetSettingText("clientUpdateVersion", "");  // not a number: reads -1
    }
    EXPECT_EQ(CheckForUpdate(settings, c.own, c.latest), c.want);
  }
}

TEST(ClientUpdate, UrlsAndProgressText) {
  EXPECT_EQ(updateUrls({"a;b", "c;", ";d"}), (std::vector<std::string>{"a", "b", "c", "", "d"}));
  EXPECT_EQ(updateProgressLine(250000, 1000000), "25% 250k of 1000k");
}

// Presses "Update Now", waits for the worker to finish, presses once more.
class FakeUpdateUi : public SessionUi, public UpdateView {
 public:
  void showLostConnection(LostConnectionPrompt&) override {}
  void closeLostConnection() override {}
  int showUpdate(const std::string& shownComment, UpdatePrompt& prompt) override {
    comment = shownComment;
    if (declines) return 2;
    EXPECT_FALSE(prompt.pressUpdate(*this));
    EXPECT_TRUE(waitFor([&] {
      std::scoped_lock lock(mutex);
      return first == "Continue" || first == "Try Again";
    }));
    return prompt.pressUpdate(*this) ? 1 : 0;
  }
  MessageAnswer showMessage(const MessageBox& box) override {
    std::scoped_lock lock(mutex);
    messages.push_back(box.text);
    return MessageAnswer::Ok;
  }
  void showNotice(const MessageBox& box) override { showMessage(box); }
  void setFileLine(const std::string& text) override {
    std::scoped_lock lock(mutex);
    fileLines.push_back(text);
  }
  void setProgressLine(const std::string& text) override {
    std::scoped_lock lock(mutex);
    lastProgress = text;
  }
  void setProgressRange(long) override {}
  void setProgressPosition(long) override {}
  void setButtons(const std::string& a, const std::string&, bool) override {
    std::scoped_lock lock(mutex);
    first = a;
  }

  bool declines = false;
  std::mutex mutex;
  std::string comment, first, lastProgress;
  std::vector<std::string> fileLines, messages;
};

class ClientUpdateTest : public ::testing::Test, public ProtocolFixture {
 protected:
  ClientUpdateTest() { loggedIn(7); }
};

TEST_F(ClientUpdateTest, DownloadsEveryFileAndLeavesTheMarkForTheLauncher) {
  ScriptedHttpServer server([&](int, const std::string&) {});
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  server.setHandler([&](int fd, const std::string& request) {
    if (request.rfind("POST ", 0) == 0) {
      sendText(fd, "HTTP/1.0 200 OK\r\n\r\nresult=0&url=" + base + "/a.exe;" + base + "/b.dat&url=" + base +
                       "/c.txt&comment=" + base64Encode(std::string_view("Big news")) + "&");
    } else {
      sendText(fd, "HTTP/1.0 200 OK\r\nContent-length: 4\r\n\r\nDATA");
    }
  });
  useServer(server.port());
  FakeUpdateUi ui;
  ASSERT_EQ(RunUpdate(ctx, ui, 205, dir.path()), 0);
  EXPECT_EQ(plainBody(server.requests().front()), "action=getupdate&curver=201&newver=205&platform=win32_new");
  EXPECT_EQ(ui.comment, "Big news");
  EXPECT_EQ(ui.fileLines, (std::vector<std::string>{"a.exe - file 1 of 3", "b.dat - file 2 of 3", "c.txt - file 3 of 3"}));
  EXPECT_EQ(ui.lastProgress, "100% 0k of 0k");
  EXPECT_EQ(settings.GetSettingNumber("ClientUpdate"), 1);
  std::ifstream in(dir.path() / "c.txt");
  std::string content;
  in >> content;
  EXPECT_EQ(content, "DATA");
}

TEST_F(ClientUpdateTest, FailedOrDeclinedUpdatesLeaveNoMark) {
  ScriptedHttpServer server([&](int, const std::string&) {});
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  server.setHandler([&](int fd, const std::string& request) {
    if (request.rfind("POST ", 0) == 0) {
      sendText(fd, "HTTP/1.0 200 OK\r\n\r\nresult=0&url=" + base + "/a.exe&");
    } else {
      sendText(fd, "HTTP/1.0 200 OK\r\nContent-length: 40\r\n\r\nshort");  // cut off
    }
  });
  useServer(server.port());
  FakeUpdateUi ui;
  EXPECT_EQ(RunUpdate(ctx, ui, 205, dir.path()), update::kNotUpdated);
  EXPECT_EQ(ui.comment, "Downloading update...");
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], "Error 9 updated failed\nNo data returned by server");
  EXPECT_EQ(ui.messages[1].rfind("Error 9 downloading the new file manager\n ", 0), 0u);
  EXPECT_NE(settings.GetSettingNumber("ClientUpdate"), 1);

  FakeUpdateUi later;
  later.declines = true;
  EXPECT_EQ(RunUpdate(ctx, later, 205, dir.path()), update::kNotUpdated);
  EXPECT_TRUE(later.messages.empty());

  server.setHandler(ScriptedHttpServer::reply("result=0&comment=eA==&"));
  FakeUpdateUi none;
  EXPECT_EQ(RunUpdate(ctx, none, 205, dir.path()), update::kNotUpdated);
  EXPECT_EQ(none.messages, (std::vector<std::string>{"No URL's found to download"}));

  server.setHandler(ScriptedHttpServer::reply("result=1&"));
  EXPECT_EQ(RunUpdate(ctx, none, 205, dir.path()), 501);
}

}  // namespace
}  // namespace vantrel
