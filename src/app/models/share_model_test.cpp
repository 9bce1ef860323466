// SPDX-License-Identifier: MIT
#include "app/models/share_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "catalogue/sync/sync_test_server.h"
#include "core/error_table.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using protocol_testing::ProtocolFixture;
using sync_testing::FakeCatalogueServer;

// A front end with a share window: picks `chosen`, records what it shows and
// can press Cancel on the progress dialog.
class WindowUi : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override {
    std::scoped_lock lock(mutex);
    shown.push_back(box.title + "|" + box.text);
    return MessageAnswer::Ok;
  }
  bool canOpenShareWindow() override { return windows; }
  std::optional<std::vector<std::string>> chooseFilesToShare(std::string_view groupName) override {
    std::scoped_lock lock(mutex);
    shown.push_back("choose|" + std::string(groupName));
    return chosen;
  }
  void closeBrowserWindow(std::string_view title) override {
    std::scoped_lock lock(mutex);
    shown.push_back("close|" + std::string(title));
  }
  void runProgressDialog(ProgressDialogModel& model) override {
    {
      std::scoped_lock lock(mutex);
      shown.push_back("progress|" + model.text());
    }
    if (pressCancel) model.cancel();
    UserInterface::runProgressDialog(model);
  }
  std::vector<std::string> list() {
    std::scoped_lock lock(mutex);
    return shown;
  }

  std::mutex mutex;
  std::vector<std::string> shown;  // guarded by mutex
  std::optional<std::vector<std::string>> chosen;
  bool windows = true;
  bool pressCancel = false;
};

class ShareModelTest : public ::testing::Test, public ProtocolFixture {
 protected:
  ShareModelTest() { loggedIn(7); }
  std::string make(const std::string& rel) {
    const auto p = dir.path() / "src" / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << "abc";
    return p.string();
  }
  static RequestParams request(const std::string& query) {
    RequestParams params;
    std::size_t at = 0;
    while (at < query.size()) {
      const std::size_t amp = std::min(query.find('&', at), query.size());
      const std::string pair = query.substr(at, amp - at);
      const std::size_t eq = pair.find('=');
      params.append(pair.substr(0, eq), pair.substr(eq + 1));
      at = amp + 1;
    }
    return params;
  }

  SharedFileList list{(dir.path() / "bob.dat").string()};
  WindowUi ui;
  const std::string progressLine = std::string("progress|") + ShareModel::kProgressText;
  const std::string closeIe = std::string("close|") + ShareModel::kLoadingWindowTitles[0];
  const std::string closeNs = std::string("close|") + ShareModel::kLoadingWindowTitles[1];
};

TEST_F(ShareModelTest, ARequestWithoutItsFieldsSaysWhichIsMissing) {
  const std::pair<const char*, const char*> cases[] = {
      {"groupid=5&groupname=Jazz", "Error|No directory ID in request"},
      {"dirid=4&groupname=Jazz", "Error|No group ID in request"},
      {"dirid=4&groupid=5", "Error|No groupname in request"},
  };
  for (const auto& [query, message] : cases) {
    WindowUi fresh;
    ShareModel window(fresh, ctx, list);
    EXPECT_EQ(window.run(request(query)), 0);
    EXPECT_EQ(fresh.list(), std::vector<std::string>{message}) << query;
  }
}

TEST_F(ShareModelTest, ChosenFilesAreSharedUnderTheProgressDialog) {
  FakeCatalogueServer server(*this);
  make("Tree/b.mp3");
  ui.chosen = std::vector<std::string>{(dir.path() / "src" / "Tree").string(), make("a.mp3")};
  ShareModel window(ui, ctx, list);
  EXPECT_EQ(window.run(request("dirid=4&groupid=5&groupname=Jazz:Club&groupdirname=Top")), 0);
  EXPECT_EQ(ui.list(), (std::vector<std::string>{"choose|Jazz:Club", closeIe, closeNs, progressLine,
                                                 "Files Shared|Your files are now shared in the group 'Jazz:Club'."}));
  EXPECT_EQ(server.bodies().size(), 3u);  // createdir Tree, its batch, then a.mp3
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(list.Lookup(1001)->groupDirPath, "Top");
  EXPECT_EQ(list.Lookup(1001)->dirId, 4);
  EXPECT_EQ(list.Lookup(1000)->groupDirPath, "Top:Tree");
}

TEST_F(ShareModelTest, FailuresAndCancelEndInTheErrorBox) {
  FakeCatalogueServer server(*this);
  server.set([](FakeCatalogueServer& s) { s.failAddFiles = "result=3&"; });
  ui.chosen = std::vector<std::string>{make("a.mp3")};
  ShareModel window(ui, ctx, list);
  EXPECT_EQ(window.run(request("dirid=4&groupid=5&groupname=Jazz")), 503);
  EXPECT_EQ(ui.list().back(), "Error|Error 503 sharing files\n" + errorTitle(503));

  // Cancel, pressed as the progress dialog opens, stops a long run at its
  // next folder; what was shared before stays.
  server.set([](FakeCatalogueServer& s) { s.failAddFiles.clear(); });
  std::vector<std::string> folders;
  for (int i = 0; i < 100; ++i) {
    make("many/" + std::to_string(i) + "/f.mp3");
    folders.push_back((dir.path() / "src" / "many" / std::to_string(i)).string());
  }
  ui.chosen = folders;
  ui.pressCancel = true;
  EXPECT_EQ(window.run(request("dirid=4&groupid=5&groupname=Jazz")), 100);
  EXPECT_EQ(ui.list().back(), "Error|Error 100 sharing files\n" + errorTitle(100));
  EXPECT_LT(list.size(), 100u);

  // Choosing nothing ends the window quietly.
  ui.chosen.reset();
  const std::size_t before = ui.list().size();
  EXPECT_EQ(window.run(request("dirid=4&groupid=5&groupname=Jazz")), 0);
  EXPECT_EQ(ui.list().size(), before + 1);  // only the file-selection dialog
}

TEST_F(ShareModelTest, StartTakesTheRequestOverOnlyWhenAWindowCanOpen) {
  FakeCatalogueServer server(*this);
  ui.chosen = std::vector<std::string>{make("a.mp3")};
  ShareModel window(ui, ctx, list);

  ui.windows = false;
  RequestParams kept = request("dirid=4&groupid=5&groupname=Jazz");
  EXPECT_FALSE(window.start(kept));
  EXPECT_TRUE(kept.has("dirid"));

  ui.windows = true;
  EXPECT_TRUE(window.start(kept));
  EXPECT_FALSE(kept.has("dirid"));
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (list.size() == 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(list.size(), 1u);
}

}  // namespace
}  // namespace vantrel
