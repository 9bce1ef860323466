// SPDX-License-Identifier: MIT
#include "app/client_app.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/app_test_support.h"
#include "app/session_ui_adapter.h"
#include "launcher/launcher.h"
#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "platform/testing/env_override.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait_for.h"
#include "transfers/download_manager.h"

namespace vantrel {
namespace {

using app_testing::RecordingUi;
using namespace std::chrono_literals;

using vantrel::testing::waitFor;

class ClientAppTest : public ::testing::Test {
 protected:
  ClientAppTest() {
    env.set("VANTREL_CONFIG_DIR", (dir.path() / "config").string());
    env.set("XDG_RUNTIME_DIR", dir.path().string());
    env.set("XDG_CONFIG_HOME", (dir.path() / "xdg").string());
  }
  AppOptions options(const std::string& root = "Vantrel") {
    AppOptions o;
    o.rootName = root;
    o.home = (dir.path() / "home").string();
    o.programDir = dir.path().string() + "/";
    return o;
  }
  bool logExists() const { return std::filesystem::exists(dir.path() / "home" / "log.txt"); }

  vantrel::testing::TempFolder dir;
  testing::EnvOverride env;
  RecordingUi ui;
};

TEST_F(ClientAppTest, WithoutStartItSaysSoAndTouchesNothing) {
  ClientApp app(ui, options());
  app.hive().createKey(ClientApp::kInstallKey);
  EXPECT_FALSE(app.Initialise(parseCommandLine("")));
  EXPECT_EQ(app.exitStatus(), ClientApp::kExitNotStarted);
  EXPECT_EQ(ui.messageList(), (std::vector<std::string>{std::string("Error|") + ClientApp::kNotStarted}));
  EXPECT_FALSE(logExists());
  EXPECT_EQ(ui.dialogs, 0);
  RegValue value;
  EXPECT_EQ(app.hive().readValue(ClientApp::kInstallKey, "install", value), reg::kValueNotFound);
}

// A start of sharing after a shutdown (the login made again after a failed
// "Connect") without the page archive loaded again is refused: the file
// server would otherwise render its pages from an archive that is gone.
TEST_F(ClientAppTest, SharingWithoutThePageArchiveIsRefused) {
  ClientApp app(ui, options());
  EXPECT_EQ(app.core().StartSharing(false), core::kNoTemplates);
  app.core().Shutdown(true);
  EXPECT_EQ(app.core().StartSharing(false), core::kNoTemplates);
}

TEST_F(ClientAppTest, StartRecordsTheInstallLocationAndRunsTheLoginWindow) {
  ClientApp app(ui, options("Test"));
  app.hive().createKey(ClientApp::kInstallKey);
  EXPECT_TRUE(app.Initialise(parseCommandLine("/start /reg 'Test'")));
  EXPECT_EQ(ui.dialogs, 1);
  EXPECT_TRUE(logExists());
  RegValue value;
  ASSERT_EQ(app.hive().readValue(ClientApp::kInstallKey, "install", value), reg::kOk);
  EXPECT_EQ(value.text, dir.path().string() + "/vantrel");
  // Every setting of the login went under the "/reg" root, none under the default one.
  EXPECT_TRUE(app.hive().keyExists("Software\\Test\\VtClient\\settings"));
  EXPECT_FALSE(app.hive().keyExists("Software\\Vantrel\\VtClient\\users"));
  RegValue port;
  EXPECT_EQ(app.hive().readValue("Software\\Vantrel\\VtClient\\settings", "port", port), reg::kValueNotFound);
}

// The launcher has no window: an update it refused is told by the client it
// starts, once.
TEST_F(ClientAppTest, StartShowsAnUpdateTheLauncherRefusedOnce) {
  const std::string text = Launcher::refusedText("its signature does not check against this program's key");
  {
    ClientApp app(ui, options());
    app.settings().SetSettingText(Launcher::kUpdateErrorSetting, text);
    EXPECT_TRUE(app.Initialise(parseCommandLine("/start")));
    EXPECT_EQ(ui.messageList(), (std::vector<std::string>{"Error|" + text}));
    app.ForcedExit();
  }
  RecordingUi again;
  ClientApp app(again, options());
  EXPECT_TRUE(app.Initialise(parseCommandLine("/start")));
  EXPECT_TRUE(again.messageList().empty());
}

TEST_F(ClientAppTest, UninstallRemovesEverySetting) {
  {
    ClientApp app(ui, options());
    app.settings().EnsureDefaults();
    app.settings().CreateUserKey("bob");
  }
  ClientApp app(ui, options());
  EXPECT_FALSE(app.Initialise(parseCommandLine("/start /uninstall")));
  EXPECT_FALSE(app.hive().keyExists("Software\\Vantrel\\VtClient"));
  EXPECT_EQ(ui.dialogs, 0);
  EXPECT_TRUE(logExists());  // the log opens first
}

TEST_F(ClientAppTest, AnAppliedConnectionTypeChangesTheRunningLimitsAtOnce) {
  ClientApp app(ui, options());
  app.settings().ApplyConnectionType(7);  // "Cable Modem"
  EXPECT_EQ(app.state().MaxUsers(), 20);
  EXPECT_EQ(app.state().MaxBand(), 100000);
  EXPECT_FALSE(app.state().AutomaticBandwidth());
  app.settings().ApplyConnectionType(0);  // "Don't know": measured again
  EXPECT_TRUE(app.state().AutomaticBandwidth());
}

TEST_F(ClientAppTest, SecondStartBringsTheFirstForwardAndEnds) {
  RecordingUi firstUi;
  ClientApp first(firstUi, options());
  ASSERT_TRUE(first.Initialise(parseCommandLine("/start")));
  const int frontsBefore = firstUi.fronts;

  RecordingUi secondUi;
  ClientApp second(secondUi, options());
  EXPECT_FALSE(second.Initialise(parseCommandLine("/start /installed")));
  EXPECT_TRUE(waitFor([&] { return firstUi.fronts > frontsBefore; }));
  EXPECT_EQ(secondUi.messageList(), (std::vector<std::string>{std::string("Error|") + ClientApp::kAlreadyRunning}));
  EXPECT_EQ(secondUi.dialogs, 0);

  // Another settings root is another client.
  RecordingUi thirdUi;
  ClientApp third(thirdUi, options("Other"));
  EXPECT_TRUE(third.InitialiseWithoutLauncher());
}

TEST_F(ClientAppTest, ExitWithActiveUploadsAsksFirst) {
  ClientApp app(ui, options());
  ASSERT_TRUE(app.InitialiseWithoutLauncher());
  app.state().UploadStarted();
  ui.yesNo = MessageAnswer::No;
  EXPECT_FALSE(app.Exit());
  EXPECT_EQ(ui.messageList(), (std::vector<std::string>{std::string("Warning|") + ClientApp::kExitQuestion}));
  ui.yesNo = MessageAnswer::Yes;
  EXPECT_TRUE(app.Exit());
  EXPECT_EQ(ui.messageList().size(), 2u);

  RecordingUi quietUi;
  ClientApp idle(quietUi, options("Idle"));
  EXPECT_TRUE(idle.Exit());  // nothing running: no question
  EXPECT_TRUE(quietUi.messageList().empty());
}

TEST_F(ClientAppTest, TotalsAreWrittenToTheSettingsAtExit) {
  {
    ClientApp app(ui, options());
    app.state().SetTotals(SentTotals{5, 4, 3, 0, 0});
    app.state().UploadStarted();
    EXPECT_EQ(app.transfersText(), "Receiving: 0 files 0 k/s Sending: 1 files 0 k/s");
    EXPECT_EQ(app.connectionText(), "Disconnected");
    app.state().UploadEnded();
  }
  RegistryHive hive((dir.path() / "config").string());
  SettingsStore settings(hive);
  EXPECT_EQ(settings.GetSettingNumber("tbts"), 5);
  EXPECT_EQ(settings.GetSettingNumber("tbkts"), 4);
  EXPECT_EQ(settings.GetSettingNumber("tbmts"), 3);
}

TEST(SessionUiAdapterTest, UpdateOfferDeclinedByTheSafeAnswer) {
  class NeverPressed : public UpdatePrompt {
   public:
    bool pressUpdate(UpdateView&) override {
      ++presses;
      return true;
    }
    int presses = 0;
  };
  SilentUserInterface silent;
  SessionUiAdapter adapter(silent);
  NeverPressed prompt;
  EXPECT_EQ(adapter.showUpdate("comment", prompt), 2);  // "Update Later"
  EXPECT_EQ(prompt.presses, 0);
}

TEST(SessionUiAdapterTest, LostConnectionWindowClosesWhenTheConnectionIsBack) {
  class Prompt : public LostConnectionPrompt {
   public:
    bool onTimer() override { return ++ticks >= 3; }
    MessageBox tryReconnect() override { return {}; }
    std::atomic<int> ticks{0};
  };
  RecordingUi ui;
  SessionUiAdapter adapter(ui, 1ms);
  Prompt prompt;
  adapter.showLostConnection(prompt);
  EXPECT_EQ(prompt.ticks, 3);
  EXPECT_EQ(ui.messageList().size(), 1u);

  // A close that comes before the window opens (the session stopping while its
  // watchdog is about to show it) keeps the window from blocking.
  Prompt never;
  SessionUiAdapter slow(ui, 10s);
  slow.closeLostConnection();
  slow.showLostConnection(never);
  EXPECT_EQ(never.ticks, 0);

  // Closed from another thread while open.
  slow.rearm();
  std::jthread closer([&] { slow.closeLostConnection(); });
  slow.showLostConnection(never);
  EXPECT_EQ(never.ticks, 0);
}

// A front end that draws both session windows itself gets the prompts, and
// the client shows no box of its own.
TEST(SessionUiAdapterTest, AWindowedFrontEndDrawsTheSessionWindows) {
  class WindowUi : public RecordingUi {
   public:
    int runUpdateWindow(std::string_view text, std::string_view comment, UpdatePrompt& prompt) override {
      shown = std::string(text) + "|" + std::string(comment);
      class Lines : public UpdateView {
       public:
        void setFileLine(const std::string&) override {}
        void setProgressLine(const std::string&) override {}
        void setProgressRange(long) override {}
        void setProgressPosition(long) override {}
        void setButtons(const std::string&, const std::string&, bool) override {}
        void showNotice(const MessageBox&) override {}
      } view;
      return prompt.pressUpdate(view) ? 1 : 2;
    }
    bool runLostConnectionWindow(LostConnectionPrompt& prompt, const std::function<bool()>& closeRequested) override {
      while (!closeRequested() && !prompt.onTimer()) {
      }
      return true;
    }
    std::string shown;
  };
  class Pressed : public UpdatePrompt {
   public:
    bool pressUpdate(UpdateView&) override { return true; }
  };
  class Prompt : public LostConnectionPrompt {
   public:
    bool onTimer() override { return ++ticks >= 2; }
    MessageBox tryReconnect() override { return {}; }
    int ticks = 0;
  };
  WindowUi ui;
  SessionUiAdapter adapter(ui);
  Pressed update;
  EXPECT_EQ(adapter.showUpdate("Faster downloads", update), 1);
  EXPECT_EQ(ui.shown, std::string(SessionUi::kUpdateText) + "|Faster downloads");
  Prompt lost;
  adapter.showLostConnection(lost);
  EXPECT_EQ(lost.ticks, 2);
  EXPECT_TRUE(ui.messageList().empty());
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

// The download questions reach the person through the front end: a new
// destination that holds the file too is asked about again, a cancelled
// folder choice returns to the question, and nothing is overwritten unasked.
TEST_F(ClientAppTest, ChangeDestinationAsksForAFolderAndNeverOverwritesSilently) {
  testing::ScriptedHttpServer server([](int fd, const std::string&) {
    sendText(fd, "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nnew");
  });
  const std::string first = (dir.path() / "dl").string();
  const std::string second = (dir.path() / "dl 2 & #+é").string();
  std::filesystem::create_directories(first);
  std::filesystem::create_directories(second);
  std::ofstream(first + "/song.mp3") << "old one";
  std::ofstream(second + "/song.mp3") << "old two";
  ui.existingAnswers = {ExistingFileChoice::ChangeDestination, ExistingFileChoice::ChangeDestination,
                        ExistingFileChoice::ChangeDestination, ExistingFileChoice::CancelTransfer};
  ui.folders = {std::nullopt, second};
  ClientApp app(ui, options());
  const int32_t id =
      app.downloads().QueueDownload("http://127.0.0.1:" + std::to_string(server.port()) + "/f", first + "/song.mp3", 3);
  ASSERT_TRUE(waitFor([&] { return app.downloads().find(id)->state == DownloadState::Stopped; }));
  EXPECT_EQ(ui.askedList(), (std::vector<std::string>{"exists song.mp3", "folder Change destination",
                                                      "exists song.mp3", "folder Change destination",
                                                      "exists song.mp3", "folder Change destination",
                                                      "exists song.mp3"}));
  EXPECT_EQ(vantrel::testing::readWholeFile(first + "/song.mp3"), "old one");
  EXPECT_EQ(vantrel::testing::readWholeFile(second + "/song.mp3"), "old two");
  EXPECT_EQ(server.requestCount(), 0u);

  // A folder where the file is not: downloaded there, the old ones untouched.
  const std::string third = (dir.path() / "fresh").string();
  {
    std::scoped_lock lock(ui.mutex);
    ui.existingAnswers = {ExistingFileChoice::ChangeDestination};
    ui.folders = {third};
  }
  ASSERT_TRUE(app.downloads().start(id));
  ASSERT_TRUE(waitFor([&] { return app.downloads().find(id)->state == DownloadState::Completed; }));
  EXPECT_EQ(vantrel::testing::readWholeFile(third + "/song.mp3"), "new");
  EXPECT_EQ(vantrel::testing::readWholeFile(first + "/song.mp3"), "old one");
}

}  // namespace
}  // namespace vantrel
