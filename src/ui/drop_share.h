// SPDX-License-Identifier: MIT
#pragma once
// DropShare: files and folders dropped on a window are offered for sharing
// into the user's personal group. After the person agrees the sharing runs on
// a worker (it talks to the server) and its result shows in a box of its own.
// One run at a time. UI thread only; the host's functions are called on the
// UI thread except share(), which runs on the worker. The destructor waits
// for a run that is under way.

#include <QObject>
#include <QWidget>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::ui {

class DropShare : public QObject {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Share Files";

  struct Host {
    std::function<bool()> loggedIn;
    std::function<std::string()> groupName;  // the personal group's name
    // Shares the paths; 0 or the error code. Called on the worker.
    std::function<int(const std::vector<std::string>&)> share;
    std::function<std::string(int)> errorText;  // the title of an error code
  };

  explicit DropShare(Host host, QObject* parent = nullptr);
  ~DropShare() override;

  // Makes `window` take drops.
  void attach(QWidget& window);
  // What a drop of these local paths does (asks, then shares).
  void offer(QWidget* parent, const std::vector<std::string>& paths);
  bool running() const { return m_running; }
  // Waits for a run under way (before what it shares into goes).
  void finish() {
    if (m_worker.joinable()) m_worker.join();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void finished(int code, const QString& group, QWidget* parent);

  Host m_host;
  std::atomic<bool> m_running{false};
  std::jthread m_worker;  // declared last: joined before the rest goes
};

}  // namespace vantrel::ui
