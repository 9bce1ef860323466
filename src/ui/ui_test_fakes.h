// SPDX-License-Identifier: MIT
#pragma once

#include <utility>
// Models and window actions that record what the windows call, for the
// window tests. Thread-safe where a window calls them off the UI thread.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/user_interface.h"
#include "ui/main_window.h"

namespace vantrel::ui::testing {

class CallLog {
 public:
  void add(std::string call) {
    std::scoped_lock lock(m_mutex);
    m_calls.push_back(std::move(call));
  }
  std::vector<std::string> calls() const {
    std::scoped_lock lock(m_mutex);
    return m_calls;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_calls;
};

class FakeLogin : public LoginDialogModel {
 public:
  std::string storedUser() const override { return user; }
  std::string storedPassword() const override { return password; }
  bool autoLogin() const override { return automatic; }
  void pressLogin(std::string u, std::string p) override {
    log.add("login " + u + " " + p);
    busyFlag = true;
  }
  void pressCancel() override {
    cancelThread = std::this_thread::get_id();
    log.add("cancel");
    busyFlag = false;
    close = true;
  }
  bool busy() const override { return busyFlag; }
  bool closeRequested() const override { return close; }
  int progressMaximum() const override { return 40; }

  std::string user = "alice", password = "secret";
  bool automatic = false;
  std::atomic<bool> busyFlag{false}, close{false};
  std::thread::id cancelThread;
  CallLog log;
};

class FakeSync : public SyncDialogModel {
 public:
  std::vector<Row> rows() const override {
    return {{"a.txt", "/music/a.txt", "Friends", "Music"}, {"b.txt", "/music/b.txt", "Friends", "Music/Old"}};
  }
  void reshare(std::vector<bool> ticked) override {
    std::string flags;
    for (bool t : ticked) flags += t ? '1' : '0';
    log.add("reshare " + flags);
    runningFlag = true;
  }
  void stop() override {
    log.add("stop");
    runningFlag = false;
  }
  void removeAll() override {
    log.add("removeAll");
    close = true;
  }
  bool running() const override { return runningFlag; }
  std::string status() const override {
    std::scoped_lock lock(mutex);
    return statusText;
  }
  int progress() const override { return progressValue; }
  int progressEnd() const override { return 40; }
  bool closeRequested() const override { return close; }

  mutable std::mutex mutex;
  std::string statusText;  // guarded by mutex
  std::atomic<bool> runningFlag{false}, close{false};
  std::atomic<int> progressValue{0};
  CallLog log;
};

class FakeActions : public WindowActions {
 public:
  void connectAgain() override { log.add("connect"); }
  bool confirmExit() override {
    log.add("confirmExit");
    return exitConfirmed;
  }
  void openMissingFiles() override { log.add("missingFiles"); }
  void openSettings(QWidget*) override { log.add("settings"); }
  void openLog(QWidget*) override { log.add("log"); }
  void openAbout(QWidget*) override { log.add("about"); }
  void openHelp() override { log.add("help"); }
  bool firstTrayProblem() override { return std::exchange(trayProblemFirst, false); }
  void checkFirewall(QWidget*) override { log.add("firewall"); }
  bool exitConfirmed = true;
  bool trayProblemFirst = true;  // as fresh settings answer
  CallLog log;
};

}  // namespace vantrel::ui::testing
