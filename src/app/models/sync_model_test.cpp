// SPDX-License-Identifier: MIT
#include "app/models/sync_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "catalogue/sync/server_comparison.h"
#include "catalogue/sync/sync_test_server.h"

namespace vantrel {
namespace {

using sync_testing::FakeCatalogueServer;

// Reads the rows, then presses one button as a person would.
class ScriptedUi : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override { return safeAnswer(box.buttons); }
  void runSyncDialog(SyncDialogModel& model) override {
    for (const auto& row : model.rows()) names.push_back(row.fileName + "@" + row.groupDirPath);
    if (removeAll) {
      model.removeAll();
      closed = model.closeRequested();
      return;
    }
    model.reshare(std::vector<bool>(model.rows().size(), true));
    while (model.running()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    status = model.status();
    progress = model.progress();
  }
  bool removeAll = false;
  bool closed = false;
  std::vector<std::string> names;
  std::string status;
  int progress = -1;
};

class SyncModelTest : public ::testing::Test, public sync_testing::ProtocolFixture {
 protected:
  SyncModelTest() { loggedIn(7); }
  void share(int32_t id, const std::string& rel) {
    const auto p = dir.path() / "files" / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << "abc";
    CVantreldFile record(p.string());
    record.Verify();
    record.fileId = id;
    record.dirId = 5;
    record.groupDirPath = "Music";
    list.Add(record);
  }
  SharedFileList list{(dir.path() / "bob.dat").string()};
  ScriptedUi ui;
  SyncModel presenter{ui, ctx, list};
};

TEST_F(SyncModelTest, ResharingFromTheDialogReplacesTheUnknownRecords) {
  FakeCatalogueServer server(*this);
  server.set([](FakeCatalogueServer& s) { s.serverIds = "result=0&numfiles=1&fileid=10&"; });
  share(10, "a.mp3");
  share(20, "b.mp3");
  CompareWithServer(list, ctx, 0, true, &presenter);
  EXPECT_EQ(ui.names, std::vector<std::string>{"b.mp3@Music"});
  EXPECT_EQ(ui.status, "Finished!");
  EXPECT_EQ(ui.progress, SyncDialog::kProgressEnd);
  EXPECT_TRUE(list.Contains(10));
  EXPECT_FALSE(list.Contains(20));
  EXPECT_TRUE(list.Contains(1000));  // b.mp3 under the ID the server gave it
  EXPECT_EQ(list.Lookup(1000)->groupDirPath, "Music");
}

TEST_F(SyncModelTest, RemoveAllStopsSharingAndClosesTheDialog) {
  FakeCatalogueServer server(*this);
  server.set([](FakeCatalogueServer& s) { s.serverIds = "result=0&numfiles=0&"; });
  share(20, "b.mp3");
  ui.removeAll = true;
  CompareWithServer(list, ctx, 0, true, &presenter);
  EXPECT_TRUE(ui.closed);
  EXPECT_EQ(list.size(), 0u);
}

}  // namespace
}  // namespace vantrel
