// SPDX-License-Identifier: MIT
// The transfer views against fakes: rows appear, change in place and go;
// the selection survives the refresh; the buttons and menus call the right
// methods; sorting and column widths come back in a new run.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>

#include <QMenu>
#include <QMessageBox>

#include <fstream>

#include <map>
#include <mutex>

#include "platform/registry_hive.h"
#include "tests/support/temp_folder.h"
#include "ui/downloads_view.h"
#include "ui/drop_share.h"
#include "ui/file_exists_dialog.h"
#include "ui/qt_user_interface.h"
#include "ui/rate_graph.h"
#include "ui/ui_test_fakes.h"
#include "ui/ui_test_support.h"
#include "ui/uploads_view.h"

#include <future>
#include <thread>

namespace vantrel::ui {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;
using Calls = std::vector<std::string>;

class FakeUploads : public UploadsSource {
 public:
  std::vector<std::shared_ptr<UploadSession>> sessions() const override {
    std::scoped_lock lock(mutex);
    std::vector<std::shared_ptr<UploadSession>> out;
    for (const auto& [id, s] : live) out.push_back(s);
    return out;
  }
  int64_t fileSize(int32_t) const override { return 1'000'000; }
  UploadLimits limits() const override { return current; }
  uint32_t currentRate() const override { return rate; }
  void setLimits(const UploadLimits& limits) override {
    log.add("setLimits " + std::to_string(limits.maxUsers) + " " + std::to_string(limits.maxUserBand) + " " +
            std::to_string(limits.maxBand));
    current = limits;
  }
  void stopSession(int32_t id) override {
    log.add("stop " + std::to_string(id));
    std::scoped_lock lock(mutex);
    if (live.count(id) != 0) live[id]->active = false;
  }

  std::shared_ptr<UploadSession> add(int32_t id, const std::string& user, const std::string& file) {
    auto s = std::make_shared<UploadSession>(id);
    s->setPeerAddress("127.0.0.1");
    s->setUserName(user);
    s->setRequest("Get File - " + file);
    std::scoped_lock lock(mutex);
    live[id] = s;
    return s;
  }
  void drop(int32_t id) {
    std::scoped_lock lock(mutex);
    live.erase(id);
  }

  mutable std::mutex mutex;
  std::map<int32_t, std::shared_ptr<UploadSession>> live;  // guarded by mutex
  UploadLimits current{10, 2000, 8000};
  uint32_t rate = 12345;
  CallLog log;
};

class FakeDownloads : public DownloadsSource {
 public:
  std::vector<DownloadInfo> downloads() const override {
    std::scoped_lock lock(mutex);
    std::vector<DownloadInfo> out;
    for (const auto& [id, d] : records) out.push_back(d);
    return out;
  }
  std::optional<DownloadInfo> find(int32_t id) const override {
    std::scoped_lock lock(mutex);
    const auto it = records.find(id);
    if (it == records.end()) return std::nullopt;
    return it->second;
  }
  bool start(int32_t id) override {
    log.add("start " + std::to_string(id));
    return true;
  }
  void stop(int32_t id) override { log.add("stop " + std::to_string(id)); }
  bool remove(int32_t id, bool deletePartial) override {
    log.add((deletePartial ? "remove and delete " : "remove ") + std::to_string(id));
    {
      std::scoped_lock lock(mutex);
      records.erase(id);
    }
    fire(id, download_event::kRemoved);
    return true;
  }
  int32_t runningCount() const override { return running; }
  int32_t limit() const override { return 2; }
  int32_t totalRate() const override { return 0; }
  int listen(DownloadListener l) override {
    std::scoped_lock lock(mutex);
    listener = std::move(l);
    return 1;
  }
  void unlisten(int) override {
    std::scoped_lock lock(mutex);
    listener = nullptr;
  }

  // Sets a record and tells the view from another thread, as the manager does.
  void put(DownloadInfo info, int event = download_event::kChanged) {
    {
      std::scoped_lock lock(mutex);
      records[info.id] = info;
    }
    fire(info.id, event);
  }
  void fire(int32_t id, int event) {
    DownloadListener l;
    {
      std::scoped_lock lock(mutex);
      l = listener;
    }
    if (l) std::thread([&] { l(id, event, ""); }).join();
  }

  mutable std::mutex mutex;
  std::map<int32_t, DownloadInfo> records;  // guarded by mutex
  DownloadListener listener;                // guarded by mutex
  std::atomic<int32_t> running{2};
  CallLog log;
};

DownloadInfo download(int32_t id, const std::string& name, DownloadState state, int64_t present = 0,
                      int64_t size = 3'000'000, int32_t rate = 0) {
  DownloadInfo d;
  d.id = id;
  d.fileName = name;
  d.localPath = "/tmp/" + name;
  d.state = state;
  d.bytesPresent = present;
  d.fileSize = size;
  d.rate = rate;
  d.resultCode = state == DownloadState::Error ? 16 : 0;
  d.url = "http://127.0.0.1:8323/getfile/?fileid=" + std::to_string(id);
  return d;
}

// A row's texts joined by "|".
std::string rowTexts(QTreeWidgetItem* item) {
  QStringList texts;
  for (int c = 0; c < item->columnCount(); ++c) texts << item->text(c);
  return texts.join('|').toStdString();
}

class TransferViewsTest : public ::testing::Test {
 protected:
  vantrel::testing::TempFolder dir;
  RegistryHive hive{dir.path().string()};
  SettingsStore settings{hive, "VantrelTransferViewsTest"};
};

TEST_F(TransferViewsTest, OutgoingRowsAppearChangeAndGoKeepingTheSelection) {
  FakeUploads source;
  UploadsView view(source);
  view.resize(760, 420);
  TransferList* list = view.list();
  ASSERT_EQ(list->columnCount(), 6);
  EXPECT_EQ(list->headerItem()->text(5), "Time Left");
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_EQ(view.rateLabel()->text(), "Rate: 12.3 k/s");
  EXPECT_EQ(view.limitsLabel()->text(), "Users at once: 10    Per user: 2 k/s    In all: 8 k/s");

  // A session that has read nothing yet shows its starting texts.
  auto fresh = std::make_shared<UploadSession>(1);
  {
    std::scoped_lock lock(source.mutex);
    source.live[1] = fresh;
  }
  auto song = source.add(2, "Zoë", "Rock & Roll #1+.mp3");
  ASSERT_TRUE(waitUntil([&] { return list->topLevelItemCount() == 2; }, 3s));  // the view's own second
  EXPECT_EQ(rowTexts(list->item(1)), "None yet|unknown (waiting)|0%|0 k/s|Waiting|unknown");

  list->item(2)->setSelected(true);
  QTreeWidgetItem* const songRow = list->item(2);
  song->fileId = 3;
  song->bytesSent = 500000;
  song->percentage = 50;
  song->speed = 100000;
  view.refresh();
  EXPECT_EQ(list->item(2), songRow);  // changed in place
  EXPECT_EQ(rowTexts(songRow), "Get File - Rock & Roll #1+.mp3|Zoë (127.0.0.1)|50%|100 k/s|Sending|0:00:05");
  EXPECT_EQ(list->selectedKeys(), std::vector<int32_t>{2});
  view.show();
  screenshot(&view, "outgoing-view");

  // "Uploads" → "Stop Transfer" stops the selected session only.
  EXPECT_EQ(view.contextMenu()->title(), "Uploads");
  ASSERT_EQ(view.contextMenu()->actions().size(), 1);
  EXPECT_EQ(view.contextMenu()->actions()[0]->text(), "Stop Transfer");
  view.contextMenu()->actions()[0]->trigger();
  EXPECT_EQ(source.log.calls(), Calls{"stop 2"});
  EXPECT_EQ(songRow->text(4), "Stopped");

  source.drop(1);
  source.drop(2);
  view.refresh();
  EXPECT_EQ(list->topLevelItemCount(), 0);
}

TEST_F(TransferViewsTest, OutgoingOptionsChangeTheLimitsAtOnce) {
  FakeUploads source;
  source.current = {10, 500, 8000};  // a per-user limit below 1 k/s
  UploadsView view(source);
  EXPECT_TRUE(view.optionsPanel()->isHidden());
  EXPECT_EQ(view.optionsButton()->text(), "Show Options");
  view.optionsButton()->click();
  EXPECT_FALSE(view.optionsPanel()->isHidden());
  EXPECT_EQ(view.optionsButton()->text(), "Hide Options");
  EXPECT_EQ(view.maxUsersField()->value(), 10);
  EXPECT_EQ(view.userBandField()->value(), 1);
  EXPECT_EQ(view.bandField()->value(), 8);
  EXPECT_TRUE(source.log.calls().empty());  // showing the values changes nothing
  // The fields say what the limits line says, not the settings' names.
  auto* form = qobject_cast<QFormLayout*>(view.optionsPanel()->layout());
  ASSERT_NE(form, nullptr);
  QStringList labels;
  for (QSpinBox* field : {view.maxUsersField(), view.userBandField(), view.bandField()}) {
    labels << qobject_cast<QLabel*>(form->labelForField(field))->text();
  }
  EXPECT_EQ(labels, (QStringList{"Users at once:", "Per user:", "In all:"}));

  view.maxUsersField()->setValue(4);
  view.bandField()->setValue(20);
  EXPECT_EQ(source.log.calls(), (Calls{"setLimits 4 500 8000", "setLimits 4 500 20000"}));
  EXPECT_EQ(view.limitsLabel()->text(), "Users at once: 4    Per user: 0 k/s    In all: 20 k/s");
  view.userBandField()->setValue(3);
  EXPECT_EQ(source.log.calls().back(), "setLimits 4 3000 20000");
  view.show();
  screenshot(&view, "outgoing-options");
  view.optionsButton()->click();
  EXPECT_TRUE(view.optionsPanel()->isHidden());
  EXPECT_EQ(view.optionsButton()->text(), "Show Options");
}

TEST_F(TransferViewsTest, ListsSortByNumbersAndRememberWidthsAndOrder) {
  WindowLayout layout(settings);
  FakeUploads source;
  for (int i = 1; i <= 3; ++i) {
    auto s = source.add(i, "u" + std::to_string(i), "f");
    s->speed = i == 2 ? 9000 : i * 100000;  // "9 k/s" sorts below "100 k/s" as a number
  }
  {
    UploadsView view(source);
    view.list()->rememberLayout(layout, "outgoing");
    view.list()->sortByColumn(3, Qt::DescendingOrder);
    view.list()->header()->resizeSection(0, 222);
    std::vector<int32_t> order;
    for (int i = 0; i < 3; ++i) order.push_back(view.list()->keyOf(view.list()->topLevelItem(i)));
    EXPECT_EQ(order, (std::vector<int32_t>{3, 1, 2}));
    ASSERT_TRUE(waitUntil([&] { return !settings.GetSettingText(WindowLayout::settingName("outgoing sort")).empty(); }));
  }
  UploadsView again(source);
  again.list()->rememberLayout(layout, "outgoing");
  EXPECT_EQ(again.list()->header()->sectionSize(0), 222);
  EXPECT_EQ(again.list()->sortColumn(), 3);
  EXPECT_EQ(again.list()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(TransferViewsTest, IncomingFollowsTheManagersEventsAndItsCommandsCallIt) {
  FakeDownloads source;
  source.put(download(1, "Rock & Roll #1+.mp3", DownloadState::Downloading, 1'500'000, 3'000'000, 52000));
  DownloadsView view(source);
  std::vector<DownloadNotice> notices;
  view.setNotifier([&](const DownloadNotice& n) { notices.push_back(n); });
  std::vector<std::string> opened;
  view.setOpener([&](const std::string& path) { opened.push_back(path); });
  std::vector<QString> asked;
  bool confirm = false;
  view.setConfirm([&](const QString& text) {
    asked.push_back(text);
    return confirm;
  });
  view.resize(900, 360);
  TransferList* list = view.list();
  ASSERT_EQ(list->columnCount(), 7);
  ASSERT_EQ(list->topLevelItemCount(), 1);
  // 1,500,000 bytes to go at 52,000 a second: 29 seconds.
  EXPECT_EQ(rowTexts(list->item(1)), "Rock & Roll #1+.mp3|1500 k / 3000 k|52 k/s|Downloading|50%|0:00:29|/tmp");
  EXPECT_FALSE(view.toggleButton()->isEnabled());  // nothing selected

  // Added and changed on the manager's threads; the same name in another folder.
  DownloadInfo other = download(2, "Café #2.ogg", DownloadState::Queued);
  source.put(other, download_event::kAdded);
  other.id = 3;
  other.localPath = "/home/bob/Music & more/Café #2.ogg";
  source.put(other, download_event::kAdded);
  ASSERT_TRUE(waitUntil([&] { return list->topLevelItemCount() == 3; }));
  EXPECT_EQ(rowTexts(list->item(2)), "Café #2.ogg|0 k / 3000 k|0 k/s|queued: 2 of 2 downloads running|0%||/tmp");
  EXPECT_EQ(list->item(3)->text(6).toStdString(), "/home/bob/Music & more");

  list->item(1)->setSelected(true);
  EXPECT_EQ(view.toggleButton()->text(), "Stop transfer");
  EXPECT_EQ(view.contextMenu()->title(), "Downloads");
  QStringList entries;
  for (QAction* action : view.contextMenu()->actions()) entries << action->text();
  EXPECT_EQ(entries.join('|').toStdString(),
            "Stop transfer|Open|Open containing folder|Copy link||Remove (keep file)|Remove and delete partial file");
  EXPECT_FALSE(view.menuAction("Open")->isEnabled());  // not finished
  view.toggleButton()->click();
  EXPECT_EQ(source.log.calls(), Calls{"stop 1"});

  QTreeWidgetItem* const row = list->item(1);
  source.put(download(1, "Rock & Roll #1+.mp3", DownloadState::Stopped, 1'600'000));
  ASSERT_TRUE(waitUntil([&] { return row->text(3) == "Stopped"; }));
  EXPECT_EQ(list->item(1), row);
  EXPECT_TRUE(row->isSelected());
  EXPECT_EQ(view.toggleButton()->text(), "Start transfer");
  view.contextMenu()->actions()[0]->trigger();
  EXPECT_EQ(source.log.calls().back(), "start 1");
  EXPECT_TRUE(notices.empty());  // a stop is the person's own doing

  source.put(download(1, "Rock & Roll #1+.mp3", DownloadState::Completed, 3'000'000, 3'000'000));
  ASSERT_TRUE(waitUntil([&] { return row->text(3) == "Completed"; }));
  EXPECT_EQ(view.contextMenu()->actions()[0]->text(), "Start Transfer");
  EXPECT_TRUE(view.menuAction("Open")->isEnabled());
  view.menuAction("Open")->trigger();
  view.menuAction("Open containing folder")->trigger();
  emit list->itemDoubleClicked(row, 0);
  EXPECT_EQ(opened, (std::vector<std::string>{"/tmp/Rock & Roll #1+.mp3", "/tmp", "/tmp/Rock & Roll #1+.mp3"}));
  view.menuAction("Copy link")->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "http://127.0.0.1:8323/getfile/?fileid=1");

  // A failure says why; the codes are in the tooltip.
  DownloadInfo failed = download(2, "Café #2.ogg", DownloadState::Error);
  failed.reason = DownloadReason::SharerOffline;
  failed.retryInSeconds = 120;
  source.put(failed);
  ASSERT_TRUE(waitUntil([&] { return list->item(2)->text(3) == "the sharer is offline; retrying in 2:00"; }));
  EXPECT_EQ(list->item(2)->toolTip(3).toStdString(), "Error 16");
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].title, "Download complete");
  EXPECT_EQ(notices[0].text, "Rock & Roll #1+.mp3");
  EXPECT_EQ(notices[1].title, "Download failed");
  EXPECT_EQ(notices[1].text, "Café #2.ogg: the sharer is offline; retrying in 2:00");
  EXPECT_TRUE(notices[1].failed);
  view.show();
  screenshot(&view, "incoming-view");

  // "Remove and delete partial file" asks first; "Remove (keep file)" does not.
  list->clearSelection();
  list->item(2)->setSelected(true);
  view.menuAction("Remove and delete partial file")->trigger();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(source.log.calls().back(), "start 1");  // said no: nothing removed
  confirm = true;
  view.menuAction("Remove and delete partial file")->trigger();
  EXPECT_EQ(source.log.calls().back(), "remove and delete 2");
  list->item(3)->setSelected(true);
  view.menuAction("Remove (keep file)")->trigger();
  EXPECT_EQ(source.log.calls().back(), "remove 3");
  ASSERT_TRUE(waitUntil([&] { return list->topLevelItemCount() == 1; }));
}

TEST_F(TransferViewsTest, FileAlreadyExistsAnswersEachButtonAndChoosesAFolderThroughThePort) {
  QtUserInterface ui;
  const struct {
    const char* button;
    ExistingFileChoice want;
  } cases[] = {{"Overwrite", ExistingFileChoice::Overwrite},
               {"Resume", ExistingFileChoice::Resume},
               {"Change destination", ExistingFileChoice::ChangeDestination},
               {"Cancel Transfer", ExistingFileChoice::CancelTransfer}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    auto click = clickWhenShown("File Already Exists", c.button, c.want == ExistingFileChoice::Resume ? "file-already-exists" : "");
    auto answer = std::async(std::launch::async, [&] { return ui.fileAlreadyExists("Zoë & Co #1+.mp3"); });
    ASSERT_TRUE(waitUntil([&] { return answer.wait_for(0ms) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), c.want);
  }
  // The folder chooser runs on the UI thread and its answer goes back.
  QStringList titles;
  ui.setFolderChooser([&](QWidget*, const QString& title) -> std::optional<std::string> {
    titles << title;
    return titles.size() == 1 ? std::optional<std::string>("/tmp/new place") : std::nullopt;
  });
  auto first = std::async(std::launch::async, [&] { return ui.chooseFolder("Change destination"); });
  ASSERT_TRUE(waitUntil([&] { return first.wait_for(0ms) == std::future_status::ready; }));
  EXPECT_EQ(first.get(), std::optional<std::string>("/tmp/new place"));
  EXPECT_EQ(ui.chooseFolder("Change destination"), std::nullopt);
  EXPECT_EQ(titles, (QStringList{"Change destination", "Change destination"}));
}

TEST_F(TransferViewsTest, RateGraphDrawsTheLastTenMinutesAboveTheLists) {
  RateHistoryModel history;
  for (int i = 0; i < 300; ++i) history.add(20000 + (i % 60) * 500, i > 150 ? 45000 : 5000);
  FakeUploads source;
  UploadsView view(source);
  auto* graph = new RateGraph(history);
  view.addAboveList(graph);
  view.resize(760, 420);
  view.show();
  EXPECT_EQ(graph->legend(), "Upload 49.5 k/s   Download 45.0 k/s   (last 10 minutes)");
  EXPECT_LT(graph->geometry().bottom(), view.list()->geometry().top());
  screenshot(&view, "outgoing-rate-graph");
}

TEST_F(TransferViewsTest, DroppedFilesAreOfferedForSharingIntoThePersonalGroup) {
  const std::string file = dir.file("Zoë & Co #1+.txt");
  std::ofstream(file) << "x";
  std::vector<std::vector<std::string>> shared;
  bool loggedIn = false;
  DropShare drops({[&] { return loggedIn; }, [] { return std::string("alice-files"); },
                   [&](const std::vector<std::string>& paths) {
                     shared.push_back(paths);
                     return shared.size() == 1 ? 0 : 531;
                   },
                   [](int) { return std::string("Could not share"); }});
  QWidget window;
  window.resize(300, 200);
  drops.attach(window);
  EXPECT_TRUE(window.acceptDrops());
  // What a drop of the file and a web link hands over: the local file only.
  auto dropFile = [&] {
    drops.offer(&window, {file});
    return true;
  };
  auto boxText = [](const QString& title) {
    QWidget* box = shownWindow(title);
    return box == nullptr ? QString() : static_cast<QMessageBox*>(box)->text();
  };

  // Not logged in: said so, nothing shared.
  EXPECT_TRUE(dropFile());
  ASSERT_TRUE(boxText("Share Files").startsWith("Log in to Vantrel first"));
  shownWindow("Share Files")->close();

  loggedIn = true;
  QString asked;
  auto yes = std::make_unique<WhenShown>("Share Files", [&](QWidget* box) {
    asked = static_cast<QMessageBox*>(box)->text();
    screenshot(box, "drop-share-question");
    button(box, "&Yes")->click();
  });
  EXPECT_TRUE(dropFile());
  EXPECT_EQ(asked, "Share 'Zoë & Co #1+.txt' into your personal group 'alice-files'?");
  ASSERT_TRUE(waitUntil([&] { return !drops.running() && boxText("Share Files").startsWith("Your files"); }));
  EXPECT_EQ(boxText("Share Files"), "Your files are now shared in the group 'alice-files'.");
  EXPECT_EQ(shared, std::vector<std::vector<std::string>>{{file}});
  ASSERT_NE(shownWindow("Share Files"), nullptr);
  shownWindow("Share Files")->close();

  // A failure shows its code; "No" shares nothing.
  yes = clickWhenShown("Share Files", "&Yes");
  dropFile();
  ASSERT_TRUE(waitUntil([&] { return !drops.running() && boxText("Share Files").startsWith("Error"); }));
  EXPECT_EQ(boxText("Share Files"), "Error 531 Could not share");
  ASSERT_NE(shownWindow("Share Files"), nullptr);
  shownWindow("Share Files")->close();
  auto no = clickWhenShown("Share Files", "&No");
  dropFile();
  EXPECT_TRUE(no->done());
  EXPECT_EQ(shared.size(), 2u);
}

}  // namespace
}  // namespace vantrel::ui
