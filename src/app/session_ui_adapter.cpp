// SPDX-License-Identifier: MIT
#include "app/session_ui_adapter.h"

#include "protocol/client_update.h"

namespace vantrel {
namespace {

// The update window's texts, as status lines of the login window.
class StatusUpdateView : public UpdateView {
 public:
  explicit StatusUpdateView(UserInterface& ui) : m_ui(ui) {}
  void setFileLine(const std::string& text) override { m_ui.setLoginStatus(text); }
  void setProgressLine(const std::string& text) override { m_ui.setLoginStatus(text); }
  void setProgressRange(long) override {}
  void setProgressPosition(long) override {}
  void setButtons(const std::string&, const std::string&, bool) override {}
  void showNotice(const MessageBox& box) override { m_ui.showMessage(box); }

 private:
  UserInterface& m_ui;
};

}  // namespace

void SessionUiAdapter::showLostConnection(LostConnectionPrompt& prompt) {
  // A close that came before the window opened still counts: the session
  // stops by closing first and joining second, and must not wait for ever.
  {
    std::scoped_lock lock(m_mutex);
    if (m_closeLost) return;
  }
  auto closed = [this] {
    std::scoped_lock lock(m_mutex);
    return m_closeLost;
  };
  if (m_ui.runLostConnectionWindow(prompt, closed)) return;
  m_ui.showMessage(MessageBox{kLostText, kLostTitle, MessageIcon::Warning, MessageButtons::Ok, true});
  std::unique_lock lock(m_mutex);
  while (!m_closeLost) {
    if (m_changed.wait_for(lock, m_period, [this] { return m_closeLost; })) break;
    lock.unlock();
    const bool close = prompt.onTimer();
    lock.lock();
    if (close) break;
  }
}

void SessionUiAdapter::rearm() {
  std::scoped_lock lock(m_mutex);
  m_closeLost = false;
}

void SessionUiAdapter::closeLostConnection() {
  {
    std::scoped_lock lock(m_mutex);
    m_closeLost = true;
  }
  m_changed.notify_all();
}

int SessionUiAdapter::showUpdate(const std::string& comment, UpdatePrompt& prompt) {
  if (const int button = m_ui.runUpdateWindow(kUpdateText, comment, prompt); button >= 0) return button;
  std::string text = kUpdateText;
  if (!comment.empty()) text += "\n" + comment;
  const MessageAnswer answer =
      m_ui.showMessage(MessageBox{text, kUpdateTitle, MessageIcon::Question, MessageButtons::YesNo, true});
  if (answer != MessageAnswer::Yes) return 2;
  StatusUpdateView view(m_ui);
  // The first press starts the download; a press while it runs would stop it,
  // so wait for the worker to finish, then press again to close the window.
  if (prompt.pressUpdate(view)) return 1;
  auto* download = dynamic_cast<UpdateDownload*>(&prompt);
  if (download != nullptr) {
    std::unique_lock lock(m_mutex);
    while (download->downloading()) m_changed.wait_for(lock, std::chrono::milliseconds(100));
  }
  prompt.pressUpdate(view);
  return download == nullptr || download->error() == 0 ? 1 : 2;
}

}  // namespace vantrel
