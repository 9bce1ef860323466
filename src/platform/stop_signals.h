// SPDX-License-Identifier: MIT
#pragma once
// StopSignals: the system's requests to stop (SIGINT, SIGTERM), taken by a
// thread of its own so that they reach the program as a plain value instead of
// interrupting whatever runs. SIGPIPE is ignored: a peer that went away is a
// failed send, not the end of the program.
//
// blockInThisProcess() must run before any thread starts, so that every thread
// inherits the blocked signals. The destructor wakes and joins the waiting
// thread. Thread-safe.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vantrel {

class StopSignals {
 public:
  static constexpr int kInterrupt = 2;  // SIGINT
  static constexpr int kTerminate = 15;  // SIGTERM

  static void blockInThisProcess();

  // `onSignal` runs on the waiting thread when a signal arrives (may be empty).
  explicit StopSignals(std::function<void()> onSignal = {});
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal taken, or 0 while none came.
  int received() const { return m_received; }
  // Blocks until a signal came; returns it.
  int wait();

 private:
  void run();

  std::function<void()> m_onSignal;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::atomic<int> m_received{0};
  std::thread m_thread;  // last: starts once the rest exists
};

}  // namespace vantrel
