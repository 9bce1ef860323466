// SPDX-License-Identifier: MIT
// Two clients in this process, each with its window on the offscreen platform,
// and the real reference server on loopback ports the system picks. Alice logs
// in and shares a file; Bob downloads it from her file server through his
// "Incoming" view: stops it, resumes it through "File Already Exists", and
// completes it byte for byte, while Alice's "Outgoing" view shows the upload
// session and stops one run of it.

#include <gtest/gtest.h>

#include <QMenu>

#include <filesystem>
#include <fstream>
#include <random>

#include "app/app_test_support.h"
#include "app/catalogue_service.h"
#include "app/catalogue_session.h"
#include "app/client_app.h"
#include "app/models/downloads_model.h"
#include "app/models/uploads_model.h"
#include "app/personal_share.h"
#include "app/models/uploads_model.h"
#include "catalogue/sync/share_run.h"
#include "core/base64.h"
#include "net/client_request.h"
#include "protocol/catalogue_cache.h"
#include "protocol/catalogue_requests.h"
#include "platform/registry_hive.h"
#include "platform/testing/env_override.h"
#include "protocol/catalogue_cache.h"
#include "protocol/catalogue_requests.h"
#include "settings/settings_store.h"
#include "tests/e2e/client_fixture.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/reserved_port.h"
#include "tests/support/temp_folder.h"
#include "transfers/download_manager.h"
#include "ui/client_actions.h"
#include "ui/downloads_view.h"
#include "ui/login_window.h"
#include "ui/main_window.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_test_support.h"
#include "ui/uploads_view.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;
namespace fs = std::filesystem;

std::string randomBytes(std::size_t n) {
  std::mt19937 random(42);
  std::string bytes(n, '\0');
  for (auto& c : bytes) c = static_cast<char>(random());
  return bytes;
}

class TransfersE2eTest : public e2e::ClientE2eTest {
 protected:
  void SetUp() override {
    startServer(serverArgs);
    if (HasFatalFailure()) return;
    for (const char* root : {"Vantrel", "Bob"}) {
      writeSettings(
          0,
          [root](SettingsStore& settings) {
            // Uploads that last a few seconds, so that they can be watched and stopped.
            settings.SetSettingNumber("maxusrband", 400000);
            settings.SetSettingNumber("maxband", 400000);
            // Bob's connections leave from 127.0.0.2: to Alice another computer,
            // whose downloads her limits pace (this computer's own are not).
            if (std::string_view(root) == "Bob") settings.SetSettingText(kSourceAddressSetting, "127.0.0.2");
          },
          root);
    }
  }
  AppOptions options(const std::string& root, const std::string& home) const {
    return clientOptions(home, "program", root);
  }

  std::vector<std::string> serverArgs{"--add-user", "alice:secret"};
};

std::string rowText(ui::TransferList* list, int32_t key, int column) {
  QTreeWidgetItem* item = list->item(key);
  return item == nullptr ? std::string() : item->text(column).toStdString();
}

TEST_F(TransfersE2eTest, BobDownloadsFromAliceStopsResumesAndCompletesWhileAliceWatchesAndStops) {
  // Alice: logged in, sharing, her "Outgoing" view in her window.
  ui::QtUserInterface aliceUi;
  ClientApp alice(aliceUi, options("Vantrel", "alice-home"));
  ui::ClientActions aliceActions(alice, aliceUi);
  ClientUploads uploads(alice.state(), alice.settings(), [&](int32_t id) { return alice.core().lookupSharedFile(id); });
  ui::MainWindow aliceWindow(aliceActions, false);
  aliceUi.attachWindow(&aliceWindow);
  auto* outgoing = new ui::UploadsView(uploads);
  aliceWindow.setView(ui::kOutgoingItem, outgoing);
  auto trayProblem = clickWhenShown("Error", "OK");
  ASSERT_TRUE(alice.InitialiseWithoutLauncher());
  WhenShown login(LoginDialogModel::kTitle, [](QWidget* shown) {
    auto* window = static_cast<ui::LoginWindow*>(shown);
    window->userField()->setText("alice");
    window->passwordField()->setText("secret");
    window->loginButton()->click();
  });
  ASSERT_TRUE(alice.LoginPhase());
  ASSERT_TRUE(alice.state().Connected()) << alice.lastLoginCode();

  const std::string name = "Zoë & Co #1+ live.bin";
  const fs::path shared = dir.path() / "shared files";
  fs::create_directories(shared);
  const std::string content = randomBytes(3'000'000);
  std::ofstream(shared / name, std::ios::binary) << content;
  ASSERT_EQ(SharePersonal(alice.protocol(), *alice.core().sharedFiles(), {(shared / name).string()}), 0);
  int32_t fileId = 0;
  for (const CVantreldFile& file : alice.core().sharedFiles()->snapshot()) fileId = file.fileId;
  const std::string group = alice.settings().GetUserText("alice", "personalgroup");
  ASSERT_NE(fileId, 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(alice.core().fileServerPort()) +
                          "/getfile/?fileid=" + std::to_string(fileId) + "&username=bob&@token=" +
                          base64Encode(alice.protocol().key.EncryptText("127.0.0.2$" + group));

  // Bob: a client of his own with his "Incoming" view.
  ui::QtUserInterface bobUi;
  ClientApp bob(bobUi, options("Bob", "bob-home"));
  ui::ClientActions bobActions(bob, bobUi);
  ClientDownloads downloads(bob.downloads());
  ui::MainWindow bobWindow(bobActions, false);
  bobUi.attachWindow(&bobWindow);
  auto* incoming = new ui::DownloadsView(downloads);
  bobWindow.setView(ui::kIncomingItem, incoming);
  std::vector<std::string> notices;
  incoming->setNotifier([&](const DownloadNotice& n) { notices.push_back(n.title + ": " + n.text); });
  const std::string target = (dir.path() / "bob-home" / "Downloads" / name).string();
  const int32_t id = bob.downloads().QueueDownload(url, target, static_cast<int64_t>(content.size()));
  ui::TransferList* bobList = incoming->list();
  ASSERT_TRUE(waitUntil([&] { return bobList->item(id) != nullptr; }));
  EXPECT_EQ(rowText(bobList, id, 0), name);
  ASSERT_TRUE(waitUntil([&] { return rowText(bobList, id, 3) == "Downloading" && bob.downloads().find(id)->bytesPresent > 0; }, 10s))
      << rowText(bobList, id, 3);

  // Alice sees the upload session.
  ui::TransferList* aliceList = outgoing->list();
  auto session = [&] { return aliceList->topLevelItemCount() == 0 ? nullptr : aliceList->topLevelItem(0); };
  ASSERT_TRUE(waitUntil([&] { return session() != nullptr && session()->text(4) == "Sending"; }, 5s));
  EXPECT_EQ(session()->text(0).toStdString(), "Get File - " + name);
  EXPECT_EQ(session()->text(1).toStdString(), "bob (127.0.0.2)");

  // Bob stops it with the button over the selected row.
  bobList->item(id)->setSelected(true);
  EXPECT_EQ(incoming->toggleButton()->text(), "Stop transfer");
  incoming->toggleButton()->click();
  ASSERT_TRUE(waitUntil([&] { return rowText(bobList, id, 3) == "Stopped"; }, 10s));
  const int64_t stoppedAt = bob.downloads().find(id)->bytesPresent;
  EXPECT_LT(stoppedAt, static_cast<int64_t>(content.size()));
  ASSERT_TRUE(waitUntil([&] { return aliceList->topLevelItemCount() == 0; }, 5s));  // the session ended

  // Only the partial file is there; started again, it is taken up without a question.
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(target + ".part")), stoppedAt);
  EXPECT_EQ(incoming->toggleButton()->text(), "Start transfer");
  incoming->toggleButton()->click();
  ASSERT_TRUE(waitUntil([&] { return session() != nullptr && session()->text(4) == "Sending"; }, 5s));
  aliceWindow.bar()->items()->setCurrentRow(ui::kOutgoingItem);
  aliceWindow.show();
  screenshot(&aliceWindow, "transfers-outgoing");
  bobWindow.bar()->items()->setCurrentRow(ui::kIncomingItem);
  bobWindow.show();
  screenshot(&bobWindow, "transfers-incoming");

  // Alice stops that run from her "Uploads" menu; Bob's download ends short.
  session()->setSelected(true);
  outgoing->contextMenu()->actions()[0]->trigger();
  ASSERT_TRUE(waitUntil([&] { return bob.downloads().find(id)->state == DownloadState::Error; }, 10s));
  ASSERT_TRUE(waitUntil([&] { return notices.size() == 1; }));
  EXPECT_EQ(notices[0].rfind("Download failed: " + name, 0), 0u) << notices[0];

  EXPECT_EQ(rowText(bobList, id, 3).rfind("the connection was lost; retrying in ", 0), 0u) << rowText(bobList, id, 3);
  EXPECT_FALSE(fs::exists(target));

  // Bob starts once more from the "Downloads" menu; resumed, it completes.
  QMenu* menu = incoming->contextMenu();
  EXPECT_EQ(menu->actions()[0]->text(), "Start transfer");
  menu->actions()[0]->trigger();
  ASSERT_TRUE(waitUntil([&] { return rowText(bobList, id, 3) == "Completed"; }, 20s));
  EXPECT_FALSE(fs::exists(target + ".part"));
  EXPECT_TRUE(vantrel::testing::readWholeFile(target) == content);
  const std::string k = std::to_string(content.size() / 1000);
  EXPECT_EQ(rowText(bobList, id, 1), k + " k / " + k + " k");
  ASSERT_TRUE(waitUntil([&] { return notices.size() == 2; }));
  EXPECT_EQ(notices[1], "Download complete: " + name);

  // "Remove" takes the record off; the file stays.
  incoming->contextMenu();
  incoming->menuAction("Remove (keep file)")->trigger();
  ASSERT_TRUE(waitUntil([&] { return bobList->topLevelItemCount() == 0; }));
  EXPECT_TRUE(fs::exists(target));

  aliceUi.beginClosing();
  bobUi.beginClosing();
  alice.ForcedExit();
  bob.ForcedExit();
}


// Bob, logged in with his window, downloads from the catalogue: a members-only
// group's file says so, and a file whose sharer goes away mid-download waits,
// says why, and completes from the sharer's new address once she is back.
class SharerComesBackE2eTest : public TransfersE2eTest {
 protected:
  SharerComesBackE2eTest() { serverArgs = {"--demo-catalogue", "--add-user", "alice:secret", "--add-user", "bob:hunter22"}; }

  // Alice in this process on a file server port of her own (the catalogue's
  // links name it), logged in.
  void startAlice() {
    // A port other than the one she had before: the new one is bound before
    // the old one goes.
    vantrel::testing::ReservedPort next;
    alicePort = std::move(next);
    {
      RegistryHive hive((dir.path() / "config").string());
      SettingsStore(hive, "Vantrel").SetSettingNumber("port", alicePort.port());
    }
    aliceUi.pressLogin = true;
    aliceUi.user = "alice";
    aliceUi.password = "secret";
    alice = std::make_unique<ClientApp>(aliceUi, options("Vantrel", "alice-home"));
    ASSERT_TRUE(alice->InitialiseWithoutLauncher());
    ASSERT_TRUE(alice->LoginPhase());
    ASSERT_TRUE(alice->state().Connected()) << alice->lastLoginCode();
  }

  // A file of a group's listing as Bob's catalogue has it.
  std::shared_ptr<FileEntry> listed(ClientApp& bob, int32_t category, int32_t group, const std::string& name) {
    CatalogueService& service = bob.catalogue().service();
    // The group's category first, as browsing down to it does.
    if (service.fetchListing(ListingKind::CategoryWithGroups, category) != 0) return nullptr;
    if (service.fetchListing(ListingKind::Group, group) != 0 || service.group(group) == nullptr) return nullptr;
    for (const auto& e : service.group(group)->children) {
      if (e->type == EntryType::File && e->name == name) return std::static_pointer_cast<FileEntry>(e);
    }
    return nullptr;
  }

  // Held until Alice's file server listens on it.
  vantrel::testing::ReservedPort alicePort;
  app_testing::RecordingUi aliceUi;
  std::unique_ptr<ClientApp> alice;
};

TEST_F(SharerComesBackE2eTest, ReasonsOnScreenAndADownloadThatOutlivesItsSharersRestart) {
  // The demo catalogue's groups: anyone downloads; members only. Their categories.
  constexpr int32_t kLounge = 7, kReadingRoom = 13, kMusic = 1, kDocuments = 4;
  startAlice();
  if (HasFatalFailure()) return;
  const std::string name = "Zoë & Co #1+ live.bin";
  const fs::path shared = dir.path() / "shared files";
  fs::create_directories(shared);
  const std::string content = randomBytes(3'000'000);
  std::ofstream(shared / name, std::ios::binary) << content;
  std::ofstream(shared / "members only.pdf") << "members only\n";
  ASSERT_EQ(JoinGroup(alice->protocol(), kLounge, "", ""), 500);
  ASSERT_EQ(JoinGroup(alice->protocol(), kReadingRoom, "", ""), 500);
  {
    ShareRun share(alice->protocol(), *alice->core().sharedFiles());
    ASSERT_EQ(share.ShareLocalPaths({(shared / name).string()}, {kLounge, "Open Music Lounge", kLounge, ""}), 0);
    ASSERT_EQ(share.ShareLocalPaths({(shared / "members only.pdf").string()}, {kReadingRoom, "Reading Room", kReadingRoom, ""}),
              0);
  }

  ui::QtUserInterface bobUi;
  ClientApp bob(bobUi, options("Bob", "bob-home"));
  ui::ClientActions bobActions(bob, bobUi);
  ClientDownloads downloads(bob.downloads());
  ui::MainWindow bobWindow(bobActions, false);
  bobUi.attachWindow(&bobWindow);
  auto* incoming = new ui::DownloadsView(downloads);
  bobWindow.setView(ui::kIncomingItem, incoming);
  auto trayProblem = clickWhenShown("Error", "OK");
  ASSERT_TRUE(bob.InitialiseWithoutLauncher());
  {
    WhenShown login(LoginDialogModel::kTitle, [](QWidget* shown) {
      auto* window = static_cast<ui::LoginWindow*>(shown);
      window->userField()->setText("bob");
      window->passwordField()->setText("hunter22");
      window->loginButton()->click();
    });
    ASSERT_TRUE(bob.LoginPhase());
  }
  ASSERT_TRUE(bob.state().Connected()) << bob.lastLoginCode();
  bob.downloads().setRetryWaits(1s, 2s);
  ui::TransferList* list = incoming->list();
  const std::string folder = (dir.path() / "Bob's downloads").string() + "/";

  // Not a member of the Reading Room.
  const auto members = listed(bob, kDocuments, kReadingRoom, "members only.pdf");
  ASSERT_NE(members, nullptr);
  const int32_t refused = bob.downloads().downloadFile(*members, folder);
  ASSERT_TRUE(waitUntil([&] { return rowText(list, refused, 3) == "members only: join the group"; }, 10s))
      << rowText(list, refused, 3);
  EXPECT_EQ(rowText(list, refused, 6), dir.path().string() + "/Bob's downloads");

  // Alice goes away in the middle of the download.
  const auto file = listed(bob, kMusic, kLounge, name);
  ASSERT_NE(file, nullptr);
  const int32_t id = bob.downloads().downloadFile(*file, folder);
  ASSERT_TRUE(waitUntil([&] { return bob.downloads().find(id)->bytesPresent > 200'000; }, 20s));
  alice->ForcedExit();
  alice.reset();
  ASSERT_TRUE(waitUntil([&] { return rowText(list, id, 3).rfind("the sharer is offline; retrying in 0:0", 0) == 0; }, 20s))
      << rowText(list, id, 3);
  EXPECT_FALSE(fs::exists(folder + name));
  EXPECT_TRUE(fs::exists(folder + name + ".part"));
  bobWindow.bar()->items()->setCurrentRow(ui::kIncomingItem);
  bobWindow.resize(1100, 500);
  bobWindow.show();
  screenshot(&bobWindow, "incoming-sharer-offline");

  // She comes back on another port; the catalogue shows her online and the
  // download goes on from the new link where it stopped.
  startAlice();
  if (HasFatalFailure()) return;
  ASSERT_NE(listed(bob, kMusic, kLounge, name), nullptr);
  ASSERT_TRUE(waitUntil([&] { return rowText(list, id, 3) == "Completed"; }, 30s)) << rowText(list, id, 3);
  EXPECT_TRUE(vantrel::testing::readWholeFile(folder + name) == content);
  EXPECT_FALSE(fs::exists(folder + name + ".part"));
  EXPECT_EQ(rowText(list, id, 4), "100%");
  screenshot(&bobWindow, "incoming-sharer-back");

  bobUi.beginClosing();
  bob.ForcedExit();
  alice->ForcedExit();
}

}  // namespace
}  // namespace vantrel
