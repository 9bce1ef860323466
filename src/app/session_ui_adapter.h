// SPDX-License-Identifier: MIT
#pragma once
// SessionUiAdapter: the server session's windows (lost connection, new
// version) drawn through the application's UserInterface. The lost-connection
// window is a warning box; while it is up the adapter keeps calling the
// prompt's timer every 5 seconds until the connection is back or the session
// closes it. The update window asks whether to update now and then runs the
// download through the prompt, reporting its progress as status lines.
//
// Called on the session's watchdog thread and on the login worker; blocks
// while a window is open. closeLostConnection may come from any thread.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/user_interface.h"
#include "protocol/session_ui.h"

namespace vantrel {

class SessionUiAdapter : public SessionUi {
 public:
  explicit SessionUiAdapter(UserInterface& ui, std::chrono::milliseconds timerPeriod = std::chrono::seconds(5))
      : m_ui(ui), m_period(timerPeriod) {}

  void showLostConnection(LostConnectionPrompt& prompt) override;
  void closeLostConnection() override;
  int showUpdate(const std::string& comment, UpdatePrompt& prompt) override;
  MessageAnswer showMessage(const MessageBox& box) override { return m_ui.showMessage(box); }
  // A new session starts: its lost-connection window may open again. A close
  // stays in force until then, also when it came before the window opened.
  void rearm();

 private:
  UserInterface& m_ui;
  const std::chrono::milliseconds m_period;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_closeLost = false;  // guarded by m_mutex: set by close, cleared by rearm
};

}  // namespace vantrel
