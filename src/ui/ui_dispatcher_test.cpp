// SPDX-License-Identifier: MIT
// The thread rules of the Qt front end: questions from workers are answered on
// the UI thread, a question asked on the UI thread does not queue to itself,
// and once the client closes every waiting and later question gets its safe
// answer at once, also while a worker waits in a window over its own model.

#include <gtest/gtest.h>

#include <QMessageBox>

#include <future>

#include "ui/qt_user_interface.h"
#include "ui/ui_test_fakes.h"
#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;

// Runs `ask` on a worker thread while this (the UI) thread handles events;
// returns its answer once it came (the test fails when it does not).
template <class R>
R askFromWorker(const std::function<R()>& ask, std::chrono::milliseconds limit = 5s) {
  std::future<R> answer = std::async(std::launch::async, ask);
  EXPECT_TRUE(waitUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }, limit));
  return answer.get();
}

TEST(UiThreadTest, WorkersQuestionsAreAnsweredInWindowsOnTheUiThread) {
  struct Case {
    MessageButtons buttons;
    const char* press;
    MessageAnswer expected;
  } cases[] = {
      {MessageButtons::YesNo, "&Yes", MessageAnswer::Yes},
      {MessageButtons::YesNo, "&No", MessageAnswer::No},
      {MessageButtons::RetryCancel, "&Retry", MessageAnswer::Retry},
      {MessageButtons::OkCancel, "&Cancel", MessageAnswer::Cancel},
  };
  QtUserInterface ui;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.press);
    std::thread::id shownOn;
    WhenShown answer("Question", [&](QWidget* window) {
      shownOn = std::this_thread::get_id();
      screenshot(window, "message-box");
      button(window, c.press)->click();
    });
    const MessageAnswer got = askFromWorker<MessageAnswer>(
        [&] { return ui.showMessage({"Share again?", "Question", MessageIcon::Question, c.buttons}); });
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(shownOn, std::this_thread::get_id());
  }
}

TEST(UiThreadTest, AQuestionAskedOnTheUiThreadIsShownThereAtOnce) {
  QtUserInterface ui;
  auto ok = clickWhenShown("Error", "OK");
  // Queued to itself this would never return.
  EXPECT_EQ(ui.showMessage({"Could not load packed filedata.dat", "Error", MessageIcon::Error}), MessageAnswer::Ok);
  EXPECT_TRUE(ok->done());
}

TEST(UiThreadTest, ClosingAnswersTheWaitingQuestionAndEveryLaterOneAtOnce) {
  QtUserInterface ui;
  WhenShown close("Warning", [&](QWidget*) { ui.beginClosing(); });
  const MessageAnswer waiting = askFromWorker<MessageAnswer>(
      [&] { return ui.showMessage({"Shut down?", "Warning", MessageIcon::Warning, MessageButtons::YesNo}); });
  EXPECT_EQ(waiting, MessageAnswer::No);
  EXPECT_TRUE(waitUntil([] { return shownWindow("Warning") == nullptr; }));

  // Later questions, from a worker and from this thread, show nothing and
  // get the answer that keeps the user's data.
  FakeSync sync;
  struct NoPrompt : LostConnectionPrompt {
    bool onTimer() override { return false; }
    MessageBox tryReconnect() override { return {}; }
  } lost;
  askFromWorker<bool>([&] {
    EXPECT_EQ(ui.showMessage({"Retry?", "Error", MessageIcon::Error, MessageButtons::RetryCancel}),
              MessageAnswer::Cancel);
    EXPECT_EQ(ui.alreadySharing("text", "detail"), AlreadySharingChoice::GoBack);
    EXPECT_EQ(ui.invalidLogin("text", "detail"), InvalidLoginChoice::Ok);
    EXPECT_EQ(ui.chooseFilesToShare("Friends"), std::nullopt);
    EXPECT_TRUE(ui.runLostConnectionWindow(lost, [] { return false; }));
    ui.runSyncDialog(sync);
    return true;
  });
  EXPECT_EQ(ui.showMessage({"Sure?", "Warning", MessageIcon::Warning, MessageButtons::YesNo}), MessageAnswer::No);
  EXPECT_FALSE(ui.runInitialSetup());
  EXPECT_TRUE(sync.log.calls().empty());
}

TEST(UiThreadTest, ExitWhileAWorkerWaitsInAWindowReleasesItsModel) {
  QtUserInterface ui;
  FakeActions actions;
  MainWindow window(actions, false);
  ui.attachWindow(&window);
  // The worker's model goes as soon as the worker has its answer; the window
  // must not call it after that, even while its own loop unwinds.
  auto model = std::make_unique<FakeSync>();
  std::atomic<bool> released{false};
  WhenShown exit("Files Missing", [&](QWidget* shown) {
    screenshot(shown, "files-missing-before-exit");
    window.exitClient();
  });
  std::thread worker([&] {
    ui.runSyncDialog(*model);
    model.reset();
    released = true;
  });
  EXPECT_TRUE(waitUntil([&] { return released.load(); }));
  worker.join();
  EXPECT_TRUE(window.exiting());
  EXPECT_EQ(actions.log.calls(), std::vector<std::string>{"confirmExit"});
  EXPECT_TRUE(ui.closing());
  pumpFor(200ms);  // the window's timers fire once more and must leave the model alone
  EXPECT_EQ(shownWindow("Files Missing"), nullptr);
  clearQuit();
}

TEST(UiThreadTest, StatusAndTraySetBeforeTheWindowCameAreShownWhenItComes) {
  QtUserInterface ui;
  std::thread([&] {
    ui.setStatusText("Connected", "Receiving: 0 files 0 k/s Sending: 0 files 0 k/s");
    ui.setTrayState(175, "Vantrel - 0 connected users, 0 k/s bandwidth used", 0);
  }).join();
  pumpFor(20ms);
  FakeActions actions;
  MainWindow window(actions, false);
  ui.attachWindow(&window);
  EXPECT_EQ(window.connectionPane()->text(), "Connected");
  EXPECT_EQ(window.transfersPane()->text(), "Receiving: 0 files 0 k/s Sending: 0 files 0 k/s");
  EXPECT_EQ(window.tray().icon(), 175);
  EXPECT_EQ(window.tray().tooltip(), "Vantrel - 0 connected users, 0 k/s bandwidth used");
}

}  // namespace
}  // namespace vantrel::ui
