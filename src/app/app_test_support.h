// SPDX-License-Identifier: MIT
#pragma once
// Test doubles of the application: a UserInterface that records what it was
// shown and answers from a script, and a CoreOperations whose codes a test
// sets. Thread-safe where the login worker needs it. Tests only.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <optional>
#include <vector>

#include "app/client_core.h"
#include "core/user_interface.h"

namespace vantrel::app_testing {

class RecordingUi : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override {
    std::scoped_lock lock(mutex);
    messages.push_back(box.title + "|" + box.text);
    return box.buttons == MessageButtons::YesNo ? yesNo : safeAnswer(box.buttons);
  }
  void runLoginDialog(LoginDialogModel& model) override {
    ++dialogs;
    if (!pressLogin) return;
    model.pressLogin(user, password);
    while (model.busy()) std::this_thread::yield();
  }
  void setLoginStatus(std::string_view text) override {
    std::scoped_lock lock(mutex);
    statuses.emplace_back(text);
  }
  void showLoginPrompt() override { ++prompts; }
  AlreadySharingChoice alreadySharing(std::string_view, std::string_view) override {
    ++sharingWarnings;
    return sharingChoice;
  }
  InvalidLoginChoice invalidLogin(std::string_view, std::string_view) override {
    ++invalidLogins;
    return invalidChoice;
  }
  void openUrl(std::string_view url) override {
    std::scoped_lock lock(mutex);
    urls.emplace_back(url);
  }
  void bringToFront() override { ++fronts; }
  void runSyncDialog(SyncDialogModel& model) override {
    std::scoped_lock lock(mutex);
    syncRows.push_back(model.rows().size());
  }
  void setStatusText(std::string_view connection, std::string_view transfers) override {
    std::scoped_lock lock(mutex);
    status = std::string(connection) + "|" + std::string(transfers);
  }
  // "File Already Exists": answered from `existingAnswers` in turn (then
  // "Cancel Transfer"); the folder chooser from `folders` (then cancelled).
  ExistingFileChoice fileAlreadyExists(std::string_view fileName) override {
    std::scoped_lock lock(mutex);
    asked.push_back("exists " + std::string(fileName));
    if (existingAnswers.empty()) return ExistingFileChoice::CancelTransfer;
    const ExistingFileChoice choice = existingAnswers.front();
    existingAnswers.erase(existingAnswers.begin());
    return choice;
  }
  std::optional<std::string> chooseFolder(std::string_view title) override {
    std::scoped_lock lock(mutex);
    asked.push_back("folder " + std::string(title));
    if (folders.empty()) return std::nullopt;
    std::optional<std::string> folder = folders.front();
    folders.erase(folders.begin());
    return folder;
  }
  std::vector<std::string> askedList() {
    std::scoped_lock lock(mutex);
    return asked;
  }
  std::vector<std::string> messageList() {
    std::scoped_lock lock(mutex);
    return messages;
  }

  std::mutex mutex;
  std::vector<std::string> messages, statuses, urls;  // guarded by mutex
  std::vector<std::size_t> syncRows;                  // guarded by mutex: rows of each "Files Missing" shown
  std::string status;                                // guarded by mutex
  std::vector<std::string> asked;                    // guarded by mutex: download questions in order
  std::vector<ExistingFileChoice> existingAnswers;   // guarded by mutex
  std::vector<std::optional<std::string>> folders;   // guarded by mutex
  MessageAnswer yesNo = MessageAnswer::No;
  AlreadySharingChoice sharingChoice = AlreadySharingChoice::GoBack;
  InvalidLoginChoice invalidChoice = InvalidLoginChoice::Ok;
  bool pressLogin = false;
  std::string user = "bob", password = "pw";
  std::atomic<int> dialogs{0}, prompts{0}, sharingWarnings{0}, invalidLogins{0}, fronts{0};
};

class FakeCore : public CoreOperations {
 public:
  int Prepare() override { return record("Prepare", prepareCode); }
  int Login(const std::string& user, const std::string& password, const ClientRequest::Progress* progress) override {
    if (progress != nullptr) (*progress)(103, 0);
    int code = loginCode;
    {
      std::scoped_lock lock(mutex);
      logins.push_back(user + "/" + password);
      if (!loginCodes.empty()) {
        code = loginCodes.front();
        loginCodes.erase(loginCodes.begin());
      }
    }
    if (code == 0 && onLogin) onLogin();
    return record("Login", code);
  }
  void AcceptLogin(const std::string&, const std::string&) override { record("AcceptLogin", 0); }
  int StartSharing(bool checkUpdate) override {
    return record(checkUpdate ? "StartSharing" : "StartSharing(no update)", checkUpdate ? startCode : 0);
  }
  int Shutdown(bool force) override { return record(force ? "Shutdown(force)" : "Shutdown", 0); }
  int Logout() override { return record("Logout", logoutCode); }
  int RunUpdate() override { return record("RunUpdate", updateCode); }
  bool StartLauncher() override { return record("StartLauncher", launcherStarts ? 1 : 0) == 1; }

  std::vector<std::string> callList() {
    std::scoped_lock lock(mutex);
    return calls;
  }

  std::vector<std::string> loginList() {
    std::scoped_lock lock(mutex);
    return logins;
  }

  int prepareCode = 0, loginCode = 0, startCode = 0, logoutCode = 0, updateCode = 0;
  std::vector<int> loginCodes;  // guarded by mutex: the codes of the next logins, before loginCode
  bool launcherStarts = true;
  std::function<void()> onLogin;  // what a successful login does besides (e.g. set connected)

 private:
  int record(const char* name, int code) {
    std::scoped_lock lock(mutex);
    calls.emplace_back(name);
    return code;
  }
  std::mutex mutex;
  std::vector<std::string> calls;   // guarded by mutex
  std::vector<std::string> logins;  // guarded by mutex: "user/password" of each Login
};

}  // namespace vantrel::app_testing
