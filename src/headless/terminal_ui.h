// SPDX-License-Identifier: MIT
#pragma once
// TerminalUi: the front end without a window. It prints every message with
// its title, answers every question with the choice that keeps the user's
// data and shares, and logs the answer. Its login window logs in once with
// the credentials it was given (or the stored ones) and closes.
//
// Thread-safe: printing is serialised; the log is optional and must outlive
// the front end once set.

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "core/log.h"
#include "core/user_interface.h"

namespace vantrel {

class TerminalUi : public UserInterface {
 public:
  explicit TerminalUi(std::FILE* out = stdout) : m_out(out) {}

  // Credentials for the login window instead of the stored ones.
  void setCredentials(std::string user, std::string password);
  // What the login window says when there is no user name to log in with.
  void setNoUserHint(std::string hint) { m_noUserHint = std::move(hint); }
  // Answers go to the log, which must mirror its lines to this front end's print.
  void setLog(Log* log) { m_log = log; }

  MessageAnswer showMessage(const MessageBox& box) override;
  void runLoginDialog(LoginDialogModel& model) override;
  void setLoginStatus(std::string_view text) override;
  AlreadySharingChoice alreadySharing(std::string_view text, std::string_view detail) override;
  InvalidLoginChoice invalidLogin(std::string_view text, std::string_view detail) override;
  // Shares every listed file again.
  void runSyncDialog(SyncDialogModel& model) override;
  ExistingFileChoice fileAlreadyExists(std::string_view fileName) override;
  std::optional<std::string> chooseFolder(std::string_view title) override;
  bool firewallReport(std::string_view report, std::string& email, std::string& comments) override;
  void openUrl(std::string_view url) override;

  // Prints one line.
  void print(std::string_view line);

 private:
  void answered(std::string_view title, std::string_view answer);

  std::FILE* const m_out;
  std::mutex m_mutex;  // one line at a time
  std::string m_lastStatus;  // guarded by m_mutex
  std::optional<std::pair<std::string, std::string>> m_credentials;  // set before the login
  std::string m_noUserHint = "no user name: give --user and --password-file";  // set before the login
  std::atomic<Log*> m_log{nullptr};
};

}  // namespace vantrel
