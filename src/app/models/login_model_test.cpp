// SPDX-License-Identifier: MIT
#include "app/models/login_model.h"

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

using app_testing::FakeCore;
using app_testing::RecordingUi;
using Strings = std::vector<std::string>;

class LoginModelTest : public ::testing::Test, public protocol_testing::ProtocolFixture {
 protected:
  // One login through the dialog with the fake core's codes as set.
  void runLogin() {
    settings.CreateUserKey("bob");
    state.SetUserName("bob");
    dialog.pressLogin("bob", "pw");
    dialog.waitIdle();
  }
  FakeCore core;
  RecordingUi ui;
  LoginModel dialog{core, ctx, ui};
};

TEST_F(LoginModelTest, LoginOutcomesShowTheirMessagesAndKeepTheWindowOpen) {
  struct Case {
    const char* name;
    int code;
    Strings messages;
  };
  const Case cases[] = {
      // The address tried and the way to change it follow the message.
      {"server down",
       211,
       {"Error|Cannot connect to server\n\nNo Vantrel server answered at 127.0.0.1 port 7001. Start the server "
        "there, or change its address in Settings, Server (\"View Settings\" in the \"Settings\" menu)."}},
      {"cancelled", 205, {}},
      {"cancelled partway", 206, {}},
      {"malformed reply", 204, {}},
      {"unknown code", 999, {"Error|Error 999 could not start client\n Unrecognized error"}},
      {"wrong password", 505, {}},
  };
  target.SetServer("127.0.0.1", 7001);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCore core;
    core.loginCode = c.code;
    RecordingUi ui;
    LoginModel dialog(core, ctx, ui);
    dialog.pressLogin("bob", "pw");
    dialog.waitIdle();
    EXPECT_EQ(ui.messageList(), c.messages);
    EXPECT_FALSE(dialog.closeRequested());
    EXPECT_EQ(ui.prompts, 1);
    EXPECT_EQ(dialog.lastCode(), c.code);
    EXPECT_EQ(core.callList(), (Strings{"Prepare", "Login"}));
    EXPECT_EQ(ui.invalidLogins, c.code == 505 ? 1 : 0);
  }
}

TEST_F(LoginModelTest, SuccessStoresTheLoginAndClosesTheWindow) {
  runLogin();
  EXPECT_TRUE(dialog.closeRequested());
  EXPECT_FALSE(dialog.quit());
  EXPECT_EQ(core.callList(), (Strings{"Prepare", "Login", "StartSharing"}));
  EXPECT_EQ(settings.GetSettingText("user"), "bob");
  EXPECT_EQ(settings.GetUserSecret("bob", "password"), "pw");
  EXPECT_EQ(settings.GetSettingNumber("autologin"), 1);
  // The statuses the window shows, in order.
  ASSERT_GE(ui.statuses.size(), 3u);
  EXPECT_EQ(ui.statuses.front().rfind("Connecting to ", 0), 0u);
  EXPECT_EQ(ui.statuses[1], "Logging into server");
  EXPECT_EQ(ui.statuses.back(), "Synchronizing files with server");
}

TEST_F(LoginModelTest, InvalidLoginCanOpenTheSignUpPage) {
  core.loginCode = 505;
  ui.invalidChoice = InvalidLoginChoice::CreateUser;
  runLogin();
  ASSERT_EQ(ui.urls.size(), 1u);
  EXPECT_EQ(ui.urls[0], LoginModel::signupUrl());
  EXPECT_NE(ui.urls[0].find("/signup.jsp"), std::string::npos);
}

TEST_F(LoginModelTest, SharingElsewhereGoesOnOnlyAfterContinueAndYes) {
  struct Case {
    const char* name;
    AlreadySharingChoice choice;
    MessageAnswer sure;
    bool goesOn;
  };
  const Case cases[] = {
      {"go back", AlreadySharingChoice::GoBack, MessageAnswer::Yes, false},
      {"continue, then no", AlreadySharingChoice::Continue, MessageAnswer::No, false},
      {"continue, then yes", AlreadySharingChoice::Continue, MessageAnswer::Yes, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCore core;
    core.loginCode = 213;
    RecordingUi ui;
    ui.sharingChoice = c.choice;
    ui.yesNo = c.sure;
    LoginModel dialog(core, ctx, ui);
    settings.CreateUserKey("bob");
    dialog.pressLogin("bob", "pw");
    dialog.waitIdle();
    EXPECT_EQ(dialog.closeRequested(), c.goesOn);
    EXPECT_EQ(dialog.lastCode(), c.goesOn ? 0 : 213);
    const Strings asked = c.choice == AlreadySharingChoice::Continue
                              ? Strings{std::string("Warning|") + LoginModel::kStopSharingQuestion}
                              : Strings{};
    EXPECT_EQ(ui.messageList(), asked);
    // Taking the files over makes the login, then the start goes on as after any login.
    EXPECT_EQ(core.callList(), c.goesOn ? (Strings{"Prepare", "Login", "AcceptLogin", "StartSharing"})
                                        : (Strings{"Prepare", "Login"}));
  }
}

TEST_F(LoginModelTest, TheUsersPageChoiceDecidesTheAutomaticLoginAtStart) {
  settings.CreateUserKey("bob");
  settings.setCurrentUser("bob");
  settings.SetUserSecret("password", "pw");
  settings.CreateUserKey("Zo\xC3\xAB & Co");
  settings.setCurrentUser("Zo\xC3\xAB & Co");
  settings.SetUserSecret("password", "s3cret");
  settings.CreateUserKey("carol");  // no password stored
  settings.SetSettingText("user", "bob");
  settings.SetSettingNumber("autologin", 1);  // as after every login: it does not decide

  struct Case {
    const char* name;
    const char* chosen;  // "autologinuser"; "" is "None"
    bool atStart;
    bool automatic;
    const char* user;  // the user the window is filled with
  };
  const Case cases[] = {
      {"None", "", true, false, "bob"},
      {"a user with a password", "Zo\xC3\xAB & Co", true, true, "Zo\xC3\xAB & Co"},
      {"a user without a password", "carol", true, false, "bob"},
      {"a user no longer known", "dave", true, false, "bob"},
      {"Connect asks", "Zo\xC3\xAB & Co", false, false, "bob"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings.SetSettingText("autologinuser", c.chosen);
    LoginModel shown(core, ctx, ui);
    shown.setAtStart(c.atStart);
    EXPECT_EQ(shown.autoLogin(), c.automatic);
    EXPECT_EQ(shown.storedUser(), c.user);
    EXPECT_EQ(shown.storedPassword(), std::string(c.user) == "bob" ? "pw" : "s3cret");
  }
}

TEST_F(LoginModelTest, AFailedConnectLogsInAgainAsBefore) {
  struct Case {
    const char* name;
    std::vector<int> codes;  // the new login's, then the one made again
    Strings calls;
  };
  const Case cases[] = {
      {"wrong password", {505, 0},
       {"Shutdown(force)", "Logout", "Prepare", "Login", "Shutdown(force)", "Prepare", "Login",
        "StartSharing(no update)"}},
      {"cancelled", {205, 0},
       {"Shutdown(force)", "Logout", "Prepare", "Login", "Shutdown(force)", "Prepare", "Login",
        "StartSharing(no update)"}},
      {"the old login fails too", {505, 211},
       {"Shutdown(force)", "Logout", "Prepare", "Login", "Shutdown(force)", "Prepare", "Login"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCore core;
    core.loginCodes = c.codes;
    RecordingUi ui;
    LoginModel dialog(core, ctx, ui);
    state.SetConnected(true);
    state.SetUserName("bob");
    state.SetPassword("old pw");
    dialog.pressLogin("mallory", "bad");
    dialog.waitIdle();
    EXPECT_EQ(core.callList(), c.calls);
    const Strings logins = core.loginList();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(logins[0], "mallory/bad");
    EXPECT_EQ(logins[1], "bob/old pw");
    EXPECT_FALSE(dialog.closeRequested());
    EXPECT_EQ(ui.prompts, 1);
  }
}

TEST_F(LoginModelTest, StartOutcomes) {
  struct Case {
    const char* name;
    int startCode;
    int updateCode;
    bool launcherStarts;
    bool closes;
    bool quits;
    Strings messages;
    Strings calls;
  };
  const Case cases[] = {
      // A start that fails after the login logs out again: the window must not
      // come back while the status bar says "Connected".
      {"port taken", 1, 0, true, false, false,
       {"Error|Could not initialize file manager TCP port\n\nPort 8325 could not be opened. Choose another port in "
        "Settings, Client, then Connect again."},
       {"Prepare", "Login", "StartSharing", "Shutdown(force)"}},
      {"list unreadable", 4, 0, true, false, false, {"Error|Could not load bob.dat, cannot continue"},
       {"Prepare", "Login", "StartSharing", "Shutdown(force)"}},
      {"update declined", 201, 2, true, true, false, {},
       {"Prepare", "Login", "StartSharing", "RunUpdate", "StartSharing(no update)"}},
      {"update handed to the launcher", 201, 0, true, true, true, {},
       {"Prepare", "Login", "StartSharing", "RunUpdate", "StartLauncher"}},
      {"launcher missing", 201, 0, false, true, false, {std::string("Error|") + LoginModel::kLauncherFailed},
       {"Prepare", "Login", "StartSharing", "RunUpdate", "StartLauncher", "StartSharing(no update)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCore core;
    core.startCode = c.startCode;
    core.updateCode = c.updateCode;
    core.launcherStarts = c.launcherStarts;
    RecordingUi ui;
    LoginModel dialog(core, ctx, ui);
    settings.CreateUserKey("bob");
    ctx.fileServerPort = 8325;
    state.SetConnected(false);
    core.onLogin = [this] { state.SetConnected(true); };  // as the server's answer leaves it
    dialog.pressLogin("bob", "pw");
    dialog.waitIdle();
    EXPECT_EQ(dialog.closeRequested(), c.closes);
    EXPECT_EQ(state.Connected(), c.closes);
    EXPECT_EQ(dialog.quit(), c.quits);
    EXPECT_EQ(ui.messageList(), c.messages);
    EXPECT_EQ(core.callList(), c.calls);
  }
}

TEST_F(LoginModelTest, MissingTemplatesStopBeforeTheLogin) {
  core.prepareCode = core::kNoTemplates;
  runLogin();
  EXPECT_EQ(ui.messageList(), (Strings{"Error|Could not load packed filedata.dat"}));
  EXPECT_EQ(core.callList(), (Strings{"Prepare"}));
  EXPECT_FALSE(dialog.closeRequested());
}

TEST_F(LoginModelTest, ConnectWhileConnectedShutsDownAndLogsOutFirst) {
  state.SetConnected(true);
  core.logoutCode = 211;
  runLogin();
  EXPECT_EQ(core.callList(), (Strings{"Shutdown(force)", "Logout", "Prepare", "Login", "StartSharing"}));
  EXPECT_EQ(ui.statuses.front(), "Logging out");
}

TEST_F(LoginModelTest, StoredCredentialsFillTheWindow) {
  settings.CreateUserKey("carol");
  settings.SetSettingText("user", "carol");
  settings.setCurrentUser("carol");
  settings.SetUserSecret("password", "secret");
  EXPECT_EQ(dialog.storedUser(), "carol");
  EXPECT_EQ(dialog.storedPassword(), "secret");
  settings.SetSettingText("user", "");
  EXPECT_EQ(dialog.storedPassword(), "");  // no user, no password
}

}  // namespace
}  // namespace vantrel
