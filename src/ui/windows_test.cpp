// SPDX-License-Identifier: MIT
// Each window behind UserInterface against a model that records its calls:
// the texts, the buttons' states, and what each button calls.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMessageBox>

#include <future>

#include "catalogue/sync/sync_dialog.h"
#include "platform/testing/env_override.h"
#include "protocol/session_ui.h"
#include "ui/dialogs.h"
#include "ui/login_window.h"
#include "ui/missing_files_window.h"
#include "ui/qt_user_interface.h"
#include "ui/session_windows.h"
#include "ui/sync_window.h"
#include "ui/ui_test_fakes.h"
#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;
using Calls = std::vector<std::string>;

TEST(LoginWindowTest, FillsTheStoredLoginAndLogsInWithWhatIsTyped) {
  FakeLogin model;
  LoginWindow window(model);
  window.show();
  EXPECT_EQ(window.windowTitle(), "Logging Into Vantrel");
  EXPECT_EQ(window.userField()->text(), "alice");
  EXPECT_EQ(window.passwordField()->text(), "secret");
  EXPECT_FALSE(window.progressBar()->isVisible());
  screenshot(&window, "login");

  window.userField()->setText("bob");
  window.passwordField()->setText("pw");
  window.loginButton()->click();
  EXPECT_EQ(model.log.calls(), Calls{"login bob pw"});
  EXPECT_TRUE(window.progressBar()->isVisible());
  EXPECT_EQ(window.progressBar()->maximum(), 40);
  // 250 ms a step.
  EXPECT_TRUE(waitUntil([&] { return window.progressBar()->value() >= 2; }));
  window.setStatus("Logging into server");
  EXPECT_EQ(window.statusLine()->text(), "Logging into server");
  screenshot(&window, "login-running");
  // A second press while the worker runs starts nothing.
  window.loginButton()->click();
  EXPECT_EQ(model.log.calls().size(), 1u);

  // A failed login: the bar goes and the prompt shows again.
  model.busyFlag = false;
  window.showPrompt();
  EXPECT_FALSE(window.progressBar()->isVisible());
  EXPECT_EQ(window.statusLine()->text(), LoginWindow::promptText());

  model.close = true;
  EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }));
  EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST(LoginWindowTest, AutomaticLoginOnlyWhenTheModelSaysSo) {
  for (bool automatic : {false, true}) {
    FakeLogin model;
    model.automatic = automatic;
    LoginWindow window(model);
    window.startAutomaticLogin();
    EXPECT_EQ(model.log.calls(), automatic ? Calls{"login alice secret"} : Calls{});
  }
  FakeLogin noUser;
  noUser.user = "";
  LoginWindow window(noUser);
  EXPECT_EQ(window.passwordField()->text(), "");
}

TEST(LoginWindowTest, CancelAbandonsARunningLoginOffTheUiThread) {
  QtUserInterface ui;  // its dispatcher moves the wait off this thread
  FakeLogin model;
  LoginWindow window(model, nullptr, &ui.dispatcher());
  window.show();
  window.loginButton()->click();
  window.cancelButton()->click();
  EXPECT_EQ(model.log.calls(), (Calls{"login alice secret", "cancel"}));
  EXPECT_NE(model.cancelThread, std::this_thread::get_id());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), QDialog::Rejected);
}

TEST(MessageBoxTest, TitleIconAndButtonsOfEveryKind) {
  struct Case {
    MessageBox box;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  } cases[] = {
      {{"Cannot connect to server", "Error", MessageIcon::Warning, MessageButtons::Ok}, QMessageBox::Warning,
       QMessageBox::Ok},
      {{"Reconnected!", "Success", MessageIcon::Information, MessageButtons::Ok}, QMessageBox::Information,
       QMessageBox::Ok},
      {{"Sure?", "Warning", MessageIcon::Question, MessageButtons::YesNo}, QMessageBox::Question,
       QMessageBox::Yes | QMessageBox::No},
      {{"Again?", "Error", MessageIcon::Error, MessageButtons::RetryCancel}, QMessageBox::Critical,
       QMessageBox::Retry | QMessageBox::Cancel},
      {{"Go on?", "Note", MessageIcon::None, MessageButtons::YesNoCancel}, QMessageBox::NoIcon,
       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel},
  };
  for (const Case& c : cases) {
    std::unique_ptr<QMessageBox> box(makeMessageBox(c.box, nullptr));
    EXPECT_EQ(box->windowTitle().toStdString(), c.box.title);
    EXPECT_EQ(box->text().toStdString(), c.box.text);
    EXPECT_EQ(box->icon(), c.icon);
    EXPECT_EQ(box->standardButtons(), c.buttons);
    // Closed without a button: the answer that keeps the user's data.
    EXPECT_EQ(messageAnswer(*box, c.box), safeAnswer(c.box.buttons));
  }
}

TEST(QuestionWindowTest, WarningAndInvalidLoginReturnTheButtonPressed) {
  QtUserInterface ui;
  {
    auto press = clickWhenShown("Warning!", "Contine", "warning-sharing-elsewhere");
    auto answer = std::async(std::launch::async, [&] {
      return ui.alreadySharing("You are already sharing files from another File Manager, on another IP.",
                               "If you continue *ALL* of those files will no longer be shared!");
    });
    ASSERT_TRUE(waitUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), AlreadySharingChoice::Continue);
  }
  {
    auto press = clickWhenShown("Warning!", "Go Back, Keep the files!");
    auto answer = std::async(std::launch::async, [&] { return ui.alreadySharing("t", "d"); });
    ASSERT_TRUE(waitUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), AlreadySharingChoice::GoBack);
  }
  for (const auto& [press, expected] : {std::pair{"Create New Vantrel User", InvalidLoginChoice::CreateUser},
                                        std::pair{"OK", InvalidLoginChoice::Ok}}) {
    auto click = clickWhenShown("Invalid login", press, "invalid-login");
    auto answer = std::async(std::launch::async, [&] {
      return ui.invalidLogin("Bad username or password, Could not log into server.", "If your do not have ...");
    });
    ASSERT_TRUE(waitUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), expected);
  }
}

TEST(SyncWindowTest, ResharesTheTickedRowsAndStopsOrRemovesAll) {
  FakeSync model;
  SyncWindow window(model);
  window.show();
  EXPECT_EQ(window.windowTitle(), "Files Missing");
  QStringList labels;
  for (QLabel* label : window.findChildren<QLabel*>()) labels.append(label->text());
  for (const char* text : SyncDialog::kTexts) EXPECT_TRUE(labels.contains(text)) << text;
  ASSERT_EQ(window.list()->topLevelItemCount(), 2);
  EXPECT_EQ(window.list()->headerItem()->text(3), "Group Dir");
  EXPECT_EQ(window.list()->topLevelItem(1)->text(3), "Music/Old");
  window.list()->topLevelItem(1)->setCheckState(0, Qt::Checked);
  screenshot(&window, "files-missing");

  window.reshareButton()->click();
  EXPECT_EQ(model.log.calls(), Calls{"reshare 01"});
  EXPECT_EQ(window.reshareButton()->text(), "Stop");
  EXPECT_FALSE(window.removeAllButton()->isEnabled());
  {
    std::scoped_lock lock(model.mutex);
    model.statusText = "Sharing 1 files into 'Music/Old'";
  }
  EXPECT_TRUE(waitUntil([&] { return window.progressBar()->value() >= 1; }, 2s));
  EXPECT_TRUE(waitUntil([&] { return window.statusLine()->text() == "Sharing 1 files into 'Music/Old'"; }, 2s));
  screenshot(&window, "files-missing-running");
  // "Stop" stops; the caption comes back.
  window.reshareButton()->click();
  EXPECT_EQ(model.log.calls().back(), "stop");
  EXPECT_EQ(window.reshareButton()->text(), "Reshare");
  EXPECT_TRUE(window.removeAllButton()->isEnabled());

  // A run that ends by itself gives the caption back too, and shows the end.
  window.reshareButton()->click();
  model.progressValue = 40;
  model.runningFlag = false;
  EXPECT_TRUE(waitUntil([&] { return window.reshareButton()->text() == "Reshare"; }, 2s));
  EXPECT_EQ(window.progressBar()->value(), 40);

  window.selectAllButton()->click();
  EXPECT_EQ(window.list()->topLevelItem(0)->checkState(0), Qt::Checked);
  window.removeAllButton()->click();
  EXPECT_EQ(model.log.calls().back(), "removeAll");
  EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }));
}

class FakeMissing : public MissingFilesDialogModel {
 public:
  std::vector<Row> rows() const override {
    std::scoped_lock lock(mutex);
    return list;
  }
  std::string browseProblem(std::size_t selected) const override {
    return selected == 1 ? "" : selected == 0 ? "Must select one file to browse for" : "Select one file at a time to browse for";
  }
  void replaceWith(const std::string& name, const std::string& path) override {
    log.add("replace " + name + " " + path);
    std::scoped_lock lock(mutex);
    for (Row& row : list) {
      if (row.name == name) row.replacement = path;
    }
  }
  std::string stopSharing(const std::vector<std::string>& names) override {
    if (names.empty()) return "Select at least one file to stop sharing";
    log.add("stopSharing " + names.front());
    return "";
  }
  void autoFind(const std::vector<std::string>& folders, const std::function<void(const std::string&)>& onLine) override {
    log.add("autoFind " + folders.front());
    onLine("Found match for a.mp3 size 1000   -->   /x/a.mp3 size 1000");
    // Searches on until told to stop (bounded, so a broken stop fails the test).
    for (int i = 0; i < 500 && !stopFlag; ++i) std::this_thread::sleep_for(10ms);
  }
  void stopSearching() override { stopFlag = true; }
  std::vector<std::string> stopSharingNames() const override { return {"b.mp3"}; }
  void apply() override { log.add("apply"); }

  mutable std::mutex mutex;
  std::vector<Row> list = {{"a.mp3", 1000, "Stop sharing this file", 0}, {"b.mp3", 2000, "Stop sharing this file", 0}};
  std::atomic<bool> stopFlag{false};
  CallLog log;
};

TEST(MissingFilesWindowTest, BrowseStopSharingAutoFindAndTheConfirmation) {
  FakeMissing model;
  MissingFilesWindow::Choosers choosers{[](QWidget*) { return QString("/new/a.mp3"); },
                                        [](QWidget*) { return QStringList{"/"}; }};
  MissingFilesWindow window(model, nullptr, nullptr, choosers);
  window.show();
  EXPECT_EQ(window.windowTitle(), "Missing Files..");
  ASSERT_EQ(window.list()->topLevelItemCount(), 2);
  EXPECT_EQ(window.list()->topLevelItem(1)->text(1), "2000");
  EXPECT_EQ(window.list()->topLevelItem(1)->text(2), "Stop sharing this file");

  // Nothing selected: the model's warning, and no file dialog.
  {
    QString warned;
    WhenShown warning("Warning", [&](QWidget* box) {
      warned = static_cast<QMessageBox*>(box)->text();
      button(box, "OK")->click();
    });
    window.browseButton()->click();
    EXPECT_EQ(warned, "Must select one file to browse for");
  }
  window.list()->topLevelItem(0)->setSelected(true);
  window.browseButton()->click();
  EXPECT_EQ(model.log.calls(), Calls{"replace a.mp3 /new/a.mp3"});
  EXPECT_EQ(window.list()->topLevelItem(0)->text(2), "/new/a.mp3");
  EXPECT_TRUE(window.list()->topLevelItem(0)->isSelected());
  window.stopSharingButton()->click();
  EXPECT_EQ(model.log.calls().back(), "stopSharing a.mp3");
  screenshot(&window, "missing-files");

  // Auto Find: the lines show while it runs; "Stop Searching" ends it.
  QStringList lines;
  WhenShown stop("Searching", [&](QWidget* searching) {
    ASSERT_TRUE(waitUntil([&] { return searching->findChild<QListWidget*>()->count() == 1; }));
    lines.append(searching->findChild<QListWidget*>()->item(0)->text());
    screenshot(searching, "searching");
    button(searching, "Stop Searching (Keeps current results)")->click();
  });
  window.autoFindButton()->click();
  EXPECT_TRUE(model.stopFlag);
  EXPECT_EQ(lines, QStringList{"Found match for a.mp3 size 1000   -->   /x/a.mp3 size 1000"});
  EXPECT_TRUE(window.isVisible());

  // OK with files to stop sharing asks first: "Go Back!" changes nothing.
  {
    auto back = clickWhenShown("Warning", "Go Back!", "missing-files-confirm");
    window.okButton()->click();
  }
  EXPECT_EQ(model.log.calls().back(), "autoFind /");
  EXPECT_TRUE(window.isVisible());
  auto sure = clickWhenShown("Warning", "I'm sure");
  window.okButton()->click();
  EXPECT_EQ(model.log.calls().back(), "apply");
  EXPECT_FALSE(window.isVisible());
}

class FakeUpdate : public UpdatePrompt {
 public:
  bool pressUpdate(UpdateView& view) override {
    ++presses;
    if (presses == 1) {
      // The download reports from its own worker.
      std::thread([&view] {
        view.setFileLine("vantrel-next.bin");
        view.setProgressRange(200);
        view.setProgressPosition(100);
        view.setProgressLine("50% complete");
        view.setButtons("Continue", "", false);
      }).join();
      return false;
    }
    return true;
  }
  std::atomic<int> presses{0};
};

TEST(UpdateWindowTest, ShowsTheDownloadAndClosesWithTheButtonPressed) {
  FakeUpdate prompt;
  UpdateWindow window("There is a new version", "Faster searches", prompt);
  window.show();
  EXPECT_EQ(window.windowTitle(), "New Version!");
  EXPECT_EQ(window.firstButton()->text(), "Update Now");
  EXPECT_EQ(window.secondButton()->text(), "Update Later");
  screenshot(&window, "new-version");
  window.firstButton()->click();
  EXPECT_TRUE(waitUntil([&] { return window.firstButton()->text() == "Continue"; }));
  EXPECT_EQ(window.fileLine()->text(), "vantrel-next.bin");
  EXPECT_EQ(window.progressLine()->text(), "50% complete");
  EXPECT_EQ(window.progressBar()->maximum(), 200);
  EXPECT_EQ(window.progressBar()->value(), 100);
  EXPECT_FALSE(window.secondButton()->isEnabled());
  screenshot(&window, "new-version-downloading");
  window.firstButton()->click();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), 1);

  FakeUpdate later;
  UpdateWindow second("t", "", later);
  second.show();
  second.secondButton()->click();
  EXPECT_EQ(second.result(), 2);
  EXPECT_EQ(later.presses, 0);
}

TEST(LostConnectionWindowTest, ReconnectShowsTheOutcomeAndTheTimerOrTheSessionCloses) {
  struct Prompt : LostConnectionPrompt {
    bool onTimer() override { return ++ticks >= 2; }
    MessageBox tryReconnect() override {
      ++tries;
      return {"Reconnected!", "Success", MessageIcon::Information};
    }
    std::atomic<int> ticks{0}, tries{0};
  } prompt;
  LostConnectionWindow window(prompt, [] { return false; }, nullptr, nullptr, 40);
  window.show();
  EXPECT_EQ(window.windowTitle(), "Lost Connection To Vantrel");
  EXPECT_EQ(window.reconnectButton()->text(), "Try To Reconnect");
  screenshot(&window, "lost-connection");
  {
    auto ok = clickWhenShown("Success", "OK");
    window.reconnectButton()->click();
    EXPECT_TRUE(ok->done());
  }
  EXPECT_EQ(prompt.tries, 1);
  EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }));
  EXPECT_GE(prompt.ticks, 2);

  // Reconnected: the window goes at once, without waiting for its timer.
  struct Reconnecting : LostConnectionPrompt {
    bool onTimer() override { return reconnected.load(); }
    MessageBox tryReconnect() override {
      reconnected = true;
      return {"Reconnected!", "Success", MessageIcon::Information};
    }
    std::atomic<bool> reconnected{false};
  } reconnecting;
  LostConnectionWindow once(reconnecting, [] { return false; }, nullptr, nullptr, 60000);
  once.show();
  {
    auto ok = clickWhenShown("Success", "OK");
    once.reconnectButton()->click();
    EXPECT_TRUE(ok->done());
  }
  EXPECT_FALSE(once.isVisible());

  std::atomic<bool> closeNow{false};
  Prompt idle;
  LostConnectionWindow closed(idle, [&] { return closeNow.load(); }, nullptr, nullptr, 60000);
  closed.show();
  closeNow = true;
  EXPECT_TRUE(waitUntil([&] { return !closed.isVisible(); }));
}

// "Add Folder..." opens in the home folder, never in the folder the program
// was started from, and next time where the person last picked.
TEST(ShareWindowTest, FolderToShareOpensAtHomeThenWhereThePersonLastWas) {
  const QString base = QDir::tempPath() + "/vantrel-pick-" + QString::number(QCoreApplication::applicationPid());
  const QString home = base + "/home", elsewhere = base + "/started here", albums = home + "/Fotos & Musik #1";
  ASSERT_TRUE(QDir().mkpath(albums + "/Été") && QDir().mkpath(elsewhere));
  vantrel::testing::EnvOverride env;
  env.set("HOME", home.toStdString());
  const QString before = QDir::currentPath();
  QDir::setCurrent(elsewhere);

  SharePicker picker("alice-files");
  picker.show();
  QStringList openedAt;
  for (const QString& pick : {albums + "/Été", QString()}) {
    WhenShown dialog("Folder to share", [&](QWidget* w) {
      auto* files = static_cast<QFileDialog*>(w);
      openedAt << QDir(files->directory()).absolutePath();
      if (pick.isEmpty()) {
        files->reject();
      } else {
        files->setDirectory(pick);
        static_cast<QDialog*>(files)->accept();
      }
    });
    button(&picker, "Add Folder...")->click();
  }
  EXPECT_EQ(openedAt, (QStringList{home, albums}));
  EXPECT_EQ(picker.paths(), (std::vector<std::string>{(albums + "/Été").toStdString()}));

  QDir::setCurrent(before);
  QDir(base).removeRecursively();
}

TEST(ShareWindowTest, PickerReturnsTheChosenPathsAndProgressWaitsForTheWork) {
  QtUserInterface ui;
  WhenShown pick("Share Files", [](QWidget* window) {
    auto* picker = static_cast<SharePicker*>(window);
    EXPECT_FALSE(picker->shareButton()->isEnabled());
    picker->addPaths({"/home/a/music", "/home/a/notes.txt", "/home/a/music"});
    screenshot(picker, "share-files");
    picker->shareButton()->click();
  });
  auto chosen = std::async(std::launch::async, [&] { return ui.chooseFilesToShare("alice-files"); });
  ASSERT_TRUE(waitUntil([&] { return chosen.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(chosen.get(), (std::optional<std::vector<std::string>>{{"/home/a/music", "/home/a/notes.txt"}}));

  auto cancel = clickWhenShown("Share Files", "Cancel");
  auto none = std::async(std::launch::async, [&] { return ui.chooseFilesToShare("alice-files"); });
  ASSERT_TRUE(waitUntil([&] { return none.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(none.get(), std::nullopt);

  struct Work : ProgressDialogModel {
    std::string text() const override { return "Adding files.. this can take a while if there are a lot of directories or subdirectories"; }
    bool finished() const override { return done; }
    void cancel() override { cancelled = true; }
    std::atomic<bool> done{false}, cancelled{false};
  } work;
  ProgressWindow progress(work);
  progress.show();
  screenshot(&progress, "share-progress");
  progress.cancelButton()->click();
  EXPECT_TRUE(work.cancelled);
  pumpFor(150ms);
  EXPECT_TRUE(progress.isVisible());  // open until the work has stopped
  work.done = true;
  EXPECT_TRUE(waitUntil([&] { return !progress.isVisible(); }));
}

TEST(InitialSetupTest, ThePlaceHolderFinishes) {
  QtUserInterface ui;
  auto finish = clickWhenShown("Initial Setup", "Finish", "initial-setup");
  EXPECT_TRUE(ui.runInitialSetup());
  EXPECT_TRUE(finish->done());
}

}  // namespace
}  // namespace vantrel::ui
