// SPDX-License-Identifier: MIT
// The client with its window, in this process on the offscreen platform,
// against the real reference server on loopback ports the system picks: it
// logs in through the login window, shows "Connected" and the connected tray
// icon, shares a folder through the share-files window that this computer's
// browser opens, and exits through the tray, the question answered No and
// then Yes while another user downloads.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <QMessageBox>

#include <filesystem>
#include <fstream>
#include <future>

#include "app/client_app.h"
#include "app/personal_share.h"
#include "core/base64.h"
#include "state/client_state.h"
#include "net/socket_io.h"
#include "platform/registry_hive.h"
#include "platform/testing/env_override.h"
#include "platform/unique_fd.h"
#include "settings/settings_store.h"
#include "state/client_state.h"
#include "tests/e2e/client_fixture.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/temp_folder.h"
#include "ui/client_actions.h"
#include "ui/dialogs.h"
#include "ui/login_window.h"
#include "ui/main_window.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_test_support.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;
namespace fs = std::filesystem;

// A connection to the client's file server from `from` (127.0.0.2 is another
// computer to it), with a small receive buffer so that a reader that reads
// nothing keeps the upload going.
UniqueFd connectFrom(int port, const char* from) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<uint16_t>(port));
  remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int buffer = 4096;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  setSocketTimeouts(fd.get(), 10s);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd.get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    return UniqueFd();
  }
  return fd;
}

bool sendAll(int fd, const std::string& text) {
  return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// The whole reply of a request from this computer, read off the UI thread
// while this one keeps handling events.
std::string askOwnServer(int port, const std::string& request) {
  auto reply = std::async(std::launch::async, [&] {
    UniqueFd fd = connectFrom(port, "127.0.0.1");
    std::string text;
    if (!fd || !sendAll(fd.get(), request)) return text;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd.get(), buf, sizeof buf, 0)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
  });
  waitUntil([&] { return reply.wait_for(0s) == std::future_status::ready; }, 15s);
  return reply.get();
}

class WindowE2eTest : public e2e::ClientE2eTest {
 protected:
  void SetUp() override {
    startServer({"--add-user", "alice:secret", "--demo-catalogue"});
    if (HasFatalFailure()) return;
    writeSettings(0, [](SettingsStore& settings) {
      settings.SetSettingNumber("maxusrband", 20000);  // an upload that lasts
    });
  }
  AppOptions options() const { return clientOptions("home"); }
};

TEST_F(WindowE2eTest, LogsInSharesAFolderAndExitsThroughTheWindows) {
  ui::QtUserInterface ui;
  ClientApp app(ui, options());
  ui::ClientActions actions(app, ui);
  ui::MainWindow window(actions, QSystemTrayIcon::isSystemTrayAvailable());
  ui.attachWindow(&window);
  // Without a tray (offscreen) the window says so once.
  auto trayProblem = clickWhenShown("Error", "OK");
  ASSERT_TRUE(app.InitialiseWithoutLauncher());

  // The login window, filled in and sent as a person would.
  WhenShown login(LoginDialogModel::kTitle, [](QWidget* shown) {
    auto* window = static_cast<ui::LoginWindow*>(shown);
    window->userField()->setText("alice");
    window->passwordField()->setText("secret");
    screenshot(window, "client-login");
    window->loginButton()->click();
  });
  ASSERT_TRUE(app.LoginPhase());
  EXPECT_TRUE(login.done());
  ASSERT_TRUE(app.state().Connected()) << app.lastLoginCode();
  EXPECT_TRUE(window.isVisible());
  // The status bar's 3,000 ms tick and the tray.
  EXPECT_TRUE(waitUntil([&] { return window.connectionPane()->text() == "Connected"; }, 8s));
  EXPECT_TRUE(window.transfersPane()->text().startsWith("Receiving: 0 files 0 k/s Sending: 0 files"));
  EXPECT_EQ(window.tray().icon(), ClientState::kIconConnected);
  EXPECT_EQ(window.tray().tooltip(), "Vantrel - 0 connected users, 0 k/s bandwidth used");
  screenshot(&window, "client-connected");

  // The personal group to share into (made by the first share).
  const fs::path shared = dir.path() / "shared";
  fs::create_directories(shared / "folder" / "inner");
  std::ofstream(shared / "first.txt") << "first\n";
  std::ofstream(shared / "folder" / "a.txt") << "a\n";
  std::ofstream(shared / "folder" / "inner" / "b.txt") << "b\n";
  ASSERT_EQ(SharePersonal(app.protocol(), *app.core().sharedFiles(), {(shared / "first.txt").string()}), 0);
  const std::string group = app.settings().GetUserText("alice", "personalgroup");
  ASSERT_FALSE(group.empty());

  // This computer's browser asks for the share page: the share-files window opens.
  WhenShown pick("Share Files", [&](QWidget* shown) {
    auto* picker = static_cast<ui::SharePicker*>(shown);
    picker->addPaths({QString::fromStdString((shared / "folder").string())});
    screenshot(picker, "client-share-files");
    picker->shareButton()->click();
  });
  const int port = app.core().fileServerPort();
  const std::string page =
      askOwnServer(port, "GET /template/client-share_files_template.html?token=1$127.0.0.1&dirid=" + group +
                             "&groupid=" + group + "&groupname=alice-files HTTP/1.0\r\n\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.0 200", 0), 0u) << page.substr(0, 200);
  QString result;
  WhenShown shared2("Files Shared", [&](QWidget* box) {
    result = static_cast<QMessageBox*>(box)->text();
    screenshot(box, "client-files-shared");
    button(box, "OK")->click();
  });
  EXPECT_TRUE(waitUntil([&] { return shared2.done(); }, 15s));
  EXPECT_EQ(result, "Your files are now shared in the group 'alice-files'.");
  EXPECT_EQ(app.core().sharedFiles()->snapshot().size(), 3u);

  // Another user downloads a large file slowly.
  const fs::path big = shared / "big.bin";
  std::ofstream(big).close();
  fs::resize_file(big, 8 << 20);  // sparse
  ASSERT_EQ(SharePersonal(app.protocol(), *app.core().sharedFiles(), {big.string()}), 0);
  int32_t bigId = 0;
  for (const CVantreldFile& file : app.core().sharedFiles()->snapshot()) {
    if (file.localPath == big.string()) bigId = file.fileId;
  }
  ASSERT_NE(bigId, 0);
  UniqueFd downloader = connectFrom(port, "127.0.0.2");
  ASSERT_TRUE(downloader);
  ASSERT_TRUE(sendAll(downloader.get(), "GET /getfile/?fileid=" + std::to_string(bigId) +
                                            "&username=bob&@token=" +
                                            base64Encode(app.protocol().key.EncryptText("127.0.0.2$" + group)) +
                                            " HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(waitUntil([&] { return app.state().ActiveUploads() == 1; }));

  // The tray's "Exit" asks; No keeps everything running and the window shown.
  {
    auto no = clickWhenShown("Warning", "&No", "client-exit-question");
    window.tray().menu()->actions()[1]->trigger();
    EXPECT_TRUE(no->done());
  }
  EXPECT_FALSE(window.exiting());
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(app.core().sharing());
  auto yes = clickWhenShown("Warning", "&Yes");
  window.tray().menu()->actions()[1]->trigger();
  EXPECT_TRUE(yes->done());
  EXPECT_TRUE(window.exiting());
  EXPECT_TRUE(ui.closing());
  EXPECT_FALSE(window.isVisible());
  // As the program's main does once its loops have ended.
  app.ForcedExit();
  EXPECT_FALSE(app.core().sharing());
  EXPECT_EQ(app.state().ActiveUploads(), 0);
  clearQuit();
}

// "Connect" while connected: a login that fails leaves the client connected and
// sharing as it was; one that succeeds shows the view on the right afresh.
TEST_F(WindowE2eTest, ConnectThatFailsKeepsTheClientConnectedAndOneThatWorksRefreshesTheView) {
  ui::QtUserInterface ui;
  ClientApp app(ui, options());
  ui::ClientActions actions(app, ui);
  ui::MainWindow window(actions, QSystemTrayIcon::isSystemTrayAvailable());
  ui.attachWindow(&window);
  auto trayProblem = clickWhenShown("Error", "OK");
  ASSERT_TRUE(app.InitialiseWithoutLauncher());
  auto loginAs = [](const char* user, const char* password) {
    return std::make_unique<WhenShown>(LoginDialogModel::kTitle, [=](QWidget* shown) {
      auto* login = static_cast<ui::LoginWindow*>(shown);
      login->userField()->setText(user);
      login->passwordField()->setText(password);
      login->loginButton()->click();
    });
  };
  {
    auto login = loginAs("alice", "secret");
    ASSERT_TRUE(app.LoginPhase());
  }
  ASSERT_TRUE(app.state().Connected()) << app.lastLoginCode();
  const fs::path shared = dir.path() / "shared";
  fs::create_directories(shared);
  std::ofstream(shared / "Caf\xC3\xA9 & Bar #1.txt") << "kept\n";
  ASSERT_EQ(SharePersonal(app.protocol(), *app.core().sharedFiles(), {(shared / "Caf\xC3\xA9 & Bar #1.txt").string()}), 0);
  const std::size_t sharedBefore = app.core().sharedFiles()->size();

  // A login's salt is the client's clock in seconds, and the server refuses
  // one it has seen: the login made again must not fall in the first one's second.
  pumpFor(1100ms);

  // A wrong password: "Invalid login", then the person gives up with Cancel.
  {
    auto login = loginAs("alice", "wrong");
    std::unique_ptr<WhenShown> cancel;
    auto invalid = std::make_unique<WhenShown>(ui::ChoiceBox::kInvalidTitle, [&](QWidget* box) {
      screenshot(box, "client-connect-invalid-login");
      button(box, "OK")->click();
      cancel = clickWhenShown(LoginDialogModel::kTitle, "Cancel");
    });
    actions.connectAgain();
    EXPECT_TRUE(invalid->done());
  }
  EXPECT_TRUE(app.state().Connected());
  EXPECT_TRUE(app.core().sharing());
  ASSERT_NE(app.core().sharedFiles(), nullptr);
  EXPECT_EQ(app.core().sharedFiles()->size(), sharedBefore);
  // Its pages come from the page archive it loaded again for the login made
  // again (the shutdown before it let the first one go).
  const std::string page = askOwnServer(app.core().fileServerPort(),
                                        "GET /template/client-info_template.html?token=1$127.0.0.1 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.0 200", 0), 0u) << page.substr(0, 200);
  EXPECT_TRUE(waitUntil([&] { return window.connectionPane()->text() == "Connected"; }, 8s));
  screenshot(&window, "client-connect-failed-still-connected");

  // The right password: the view on the right is shown afresh.
  ui::ItemView* shown = window.view(window.stack()->currentIndex());
  const int before = shown->refreshes();
  pumpFor(1100ms);
  {
    auto login = loginAs("alice", "secret");
    actions.connectAgain();
  }
  EXPECT_TRUE(app.state().Connected());
  EXPECT_GT(shown->refreshes(), before);

  window.endClient();
  ui.beginClosing();
  app.ForcedExit();
  clearQuit();
}

}  // namespace
}  // namespace vantrel
