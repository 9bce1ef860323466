// SPDX-License-Identifier: MIT
#pragma once
// LoginModel: the logic of the login window and its worker. The worker logs
// out a running login, prepares the core, logs in, starts sharing, and turns
// each result code into the user's message through the login and start
// outcome tables; the front end only draws what it is told.
//
// Owned by the application while the window is open. Every method is
// thread-safe; the worker runs on a std::jthread of its own and is joined by
// pressCancel and the destructor. CoreOperations, the context and the
// UserInterface must outlive the dialog.

#include <atomic>
#include <mutex>
#include <optional>
#include <utility>
#include <string>
#include <thread>

#include "app/client_core.h"
#include "core/user_interface.h"
#include "protocol/protocol_context.h"

namespace vantrel {

class LoginModel : public LoginDialogModel {
 public:
  // The texts of the outcomes; kept here so the tests and front ends share them.
  static constexpr const char* kNoTemplates = "Could not load packed filedata.dat";
  static constexpr const char* kCannotConnect = "Cannot connect to server";
  static constexpr const char* kSharingElsewhere =
      "You are already sharing files from another File Manager, on another IP.";
  static constexpr const char* kSharingElsewhereDetail = "If you continue *ALL* of those files will no longer be shared!";
  static constexpr const char* kStopSharingQuestion = "You have chosen to stop sharing the files, are you sure?";
  static constexpr const char* kInvalidLogin = "Bad username or password, Could not log into server.";
  static constexpr const char* kInvalidLoginDetail =
      "If your do not have an Vantrel user please create one now.  Otherwise click ok and try to re-login.";
  static constexpr const char* kPortFailed = "Could not initialize file manager TCP port";
  static constexpr const char* kLauncherFailed =
      "Could not run vantrel, could not finish update.\nPlease restart the File Manager to finish the update";

  LoginModel(CoreOperations& core, ProtocolContext& ctx, UserInterface& ui);
  ~LoginModel() override;
  LoginModel(const LoginModel&) = delete;
  LoginModel& operator=(const LoginModel&) = delete;

  // At the start of the program the user picked for the automatic login, when
  // their password is stored, logs in at once; "Connect" always asks.
  void setAtStart(bool atStart) { m_atStart = atStart; }

  std::string storedUser() const override;
  std::string storedPassword() const override;
  bool autoLogin() const override;
  void pressLogin(std::string user, std::string password) override;
  void pressCancel() override;
  bool busy() const override { return m_busy; }
  bool closeRequested() const override { return m_close; }
  int progressMaximum() const override;

  // The process must end when the window closes: an update went to the launcher.
  bool quit() const { return m_quit; }
  // The code of the last login or start that did not succeed (0 after a success).
  int lastCode() const { return m_lastCode; }
  // The message of the last start-up step that failed after the login (or
  // before it: the page archive), "" when none did. Its codes are the core's
  // own, not login codes, so a front end that reports in one line prints this.
  std::string startFailure() const;
  // Waits for a running worker to end.
  void waitIdle();

  // The sign-up page opened by "Create New Vantrel User".
  static std::string signupUrl();
  // "Cannot connect to server" with the address that was tried and where to change it.
  std::string cannotConnectText() const;

 private:
  void work(const std::string& user, const std::string& password);
  bool loginOutcome(int code, const std::string& user, const std::string& password);  // true: go on
  bool startOutcome(int code, const std::string& user, const std::string& password);
  void storeLogin(const std::string& user, const std::string& password);
  // After a failed "Connect": the login that ran before is made again.
  void restore(const std::string& user, const std::string& password);
  // The user to log in automatically as, "" for none.
  std::string automaticUser() const;
  void message(std::string text, MessageIcon icon, bool foreground);
  void startFailed(std::string text, MessageIcon icon, bool foreground);

  CoreOperations& m_core;
  ProtocolContext& m_ctx;
  UserInterface& m_ui;
  bool m_atStart = false;
  std::mutex m_abortMutex;  // orders Cancel's abort against the login made again
  bool m_restoring = false;  // guarded by m_abortMutex
  std::atomic<bool> m_busy{false};
  std::atomic<bool> m_close{false};
  std::atomic<bool> m_quit{false};
  std::atomic<int> m_lastCode{0};
  mutable std::mutex m_failureMutex;
  std::string m_startFailure;  // guarded by m_failureMutex
  std::mutex m_workerMutex;  // serialises starting and joining the worker
  std::jthread m_worker;     // guarded by m_workerMutex
};

}  // namespace vantrel
