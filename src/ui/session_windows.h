// SPDX-License-Identifier: MIT
#pragma once
// The server session's windows: "Lost Connection To Vantrel" (OK, "Try To
// Reconnect", the 5 s check) and "New Version!" (the update download with its
// file and percent lines, progress bar and two buttons). Model calls that
// reach the network run off the UI thread. UI thread only; UpdateWindow::view()
// may be called from the download's worker.

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

#include "core/user_interface.h"
#include "ui/port_dialog.h"

namespace vantrel::ui {

class LostConnectionWindow : public PortDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTryAgain = "Try To Reconnect";

  LostConnectionWindow(LostConnectionPrompt& prompt, std::function<bool()> closeRequested, QWidget* parent = nullptr,
                       UiDispatcher* dispatcher = nullptr, int periodMs = 5000);
  QPushButton* okButton() const { return m_ok; }
  QPushButton* reconnectButton() const { return m_reconnect; }

 private:
  void reconnect();
  void check();

  LostConnectionPrompt& m_prompt;
  std::function<bool()> m_closeRequested;
  QPushButton* m_ok;
  QPushButton* m_reconnect;
  QTimer m_period;  // the prompt's timer
  QTimer m_poll;    // 100 ms: the session's close request
  bool m_busy = false;
};

class UpdateWindow : public PortDialog {
  Q_OBJECT
 public:
  static constexpr const char* kUpdateNow = "Update Now";
  static constexpr const char* kUpdateLater = "Update Later";

  UpdateWindow(const QString& text, const QString& comment, UpdatePrompt& prompt, QWidget* parent = nullptr,
               UiDispatcher* dispatcher = nullptr);
  ~UpdateWindow() override;

  // The view the prompt draws through; it outlives the window (a download may
  // still report after it closed) and then draws nothing.
  std::shared_ptr<UpdateView> view() const { return m_view; }

  QPushButton* firstButton() const { return m_first; }
  QPushButton* secondButton() const { return m_second; }
  QLabel* fileLine() const { return m_file; }
  QLabel* progressLine() const { return m_line; }
  QProgressBar* progressBar() const { return m_progress; }

 private:
  friend class WindowUpdateView;
  void pressFirst();

  UpdatePrompt& m_prompt;
  std::shared_ptr<UpdateView> m_view;
  QLabel* m_file;
  QLabel* m_line;
  QProgressBar* m_progress;
  QPushButton* m_first;
  QPushButton* m_second;
  bool m_busy = false;
};

}  // namespace vantrel::ui
