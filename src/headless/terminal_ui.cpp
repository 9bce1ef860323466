// SPDX-License-Identifier: MIT
#include "headless/terminal_ui.h"

#include <chrono>
#include <thread>

#include "catalogue/sync/sync_dialog.h"

namespace vantrel {
namespace {

const char* answerName(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::Ok:
      return "OK";
    case MessageAnswer::Cancel:
      return "Cancel";
    case MessageAnswer::Yes:
      return "Yes";
    case MessageAnswer::No:
      return "No";
    case MessageAnswer::Retry:
      return "Retry";
  }
  return "OK";
}

}  // namespace

void TerminalUi::setCredentials(std::string user, std::string password) {
  m_credentials.emplace(std::move(user), std::move(password));
}

void TerminalUi::print(std::string_view line) {
  std::scoped_lock lock(m_mutex);
  std::fwrite(line.data(), 1, line.size(), m_out);
  std::fputc('\n', m_out);
  std::fflush(m_out);
}

void TerminalUi::answered(std::string_view title, std::string_view answer) {
  std::string line = "[";
  line.append(title).append("] answered: ").append(answer);
  // With a log the line reaches the terminal through the log's mirror.
  if (Log* log = m_log.load()) {
    log->logText(line, 1);
  } else {
    print(line);
  }
}

MessageAnswer TerminalUi::showMessage(const MessageBox& box) {
  print("[" + box.title + "] " + box.text);
  const MessageAnswer answer = safeAnswer(box.buttons);
  if (box.buttons != MessageButtons::Ok) answered(box.title, answerName(answer));
  return answer;
}

void TerminalUi::runLoginDialog(LoginDialogModel& model) {
  std::string user = model.storedUser();
  std::string password = model.storedPassword();
  if (m_credentials) std::tie(user, password) = *m_credentials;
  if (user.empty()) {
    print("[Logging Into Vantrel] " + m_noUserHint);
    return;
  }
  model.pressLogin(user, password);
  // The worker answers every question itself; wait until it is done.
  while (model.busy()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!model.closeRequested()) model.pressCancel();
}

void TerminalUi::setLoginStatus(std::string_view text) {
  {
    // The transport repeats its texts for every line it reads; show changes only.
    std::scoped_lock lock(m_mutex);
    if (text == m_lastStatus) return;
    m_lastStatus = text;
  }
  print(std::string("[Logging Into Vantrel] ").append(text));
}

AlreadySharingChoice TerminalUi::alreadySharing(std::string_view text, std::string_view detail) {
  print(std::string("[Warning!] ").append(text).append(" ").append(detail));
  answered("Warning!", "Go Back, Keep the files!");
  return AlreadySharingChoice::GoBack;
}

InvalidLoginChoice TerminalUi::invalidLogin(std::string_view text, std::string_view detail) {
  print(std::string("[Invalid login] ").append(text).append(" ").append(detail));
  answered("Invalid login", "OK");
  return InvalidLoginChoice::Ok;
}

void TerminalUi::runSyncDialog(SyncDialogModel& model) {
  const std::string title = SyncDialog::kTitle;
  print("[" + title + "] " + SyncDialog::kTexts[0]);
  const std::vector<SyncDialogModel::Row> rows = model.rows();
  for (const SyncDialogModel::Row& row : rows) {
    print("[" + title + "]   " + row.fileName + "  " + row.localPath + "  " + row.groupName + "  " + row.groupDirPath);
  }
  answered(title, "Reshare");
  model.reshare(std::vector<bool>(rows.size(), true));
  while (model.running()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  print("[" + title + "] " + model.status());
}

ExistingFileChoice TerminalUi::fileAlreadyExists(std::string_view fileName) {
  print(std::string("[File Already Exists] ").append(fileName));
  answered("File Already Exists", "Cancel Transfer");
  return ExistingFileChoice::CancelTransfer;
}

std::optional<std::string> TerminalUi::chooseFolder(std::string_view title) {
  // No folder is picked in a terminal: the file that is there stays as it is.
  answered(std::string(title), "Cancel");
  return std::nullopt;
}

bool TerminalUi::firewallReport(std::string_view report, std::string&, std::string&) {
  print(std::string("[Firewall Check] ").append(report));
  answered("Firewall Check", "Do not send");
  return false;
}

void TerminalUi::openUrl(std::string_view url) { print(std::string("[Open] ").append(url)); }

}  // namespace vantrel
