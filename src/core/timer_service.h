// SPDX-License-Identifier: MIT
#pragma once
// TimerService: periodic callbacks on one worker thread of its own, timed by
// the steady clock in milliseconds (the replacement for thread timers).
//
// A callback first runs one period after it was scheduled, then every period
// measured from its previous due time; a callback that overruns is not run
// twice to catch up. Callbacks run one at a time on the worker thread, never
// with the service's lock held, so they may schedule or cancel timers.
// Threads: every method may be called from any thread. The destructor stops
// the worker and joins it; callbacks must not outlive what they use, so
// owners cancel their timers (or destroy the service) before they go.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

namespace vantrel {

// Milliseconds of the steady clock: for measuring intervals, never dates.
int64_t steadyMillis();

class TimerService {
 public:
  using TimerId = uint64_t;
  static constexpr TimerId kNoTimer = 0;

  TimerService();
  ~TimerService();
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;

  // Runs `callback` every `period` (at least 1 ms) until cancelled.
  TimerId schedule(std::chrono::milliseconds period, std::function<void()> callback);

  // Stops the timer. When it returns, the callback is not running and will not
  // run again — except when called from that very callback, which then simply
  // finishes. Returns false for an unknown or already cancelled timer.
  bool cancel(TimerId id);

  // Ends the worker (joining it) and drops every timer; schedule() then does nothing.
  void stop();

 private:
  struct Timer {
    std::chrono::milliseconds period;
    std::chrono::steady_clock::time_point due;
    std::function<void()> callback;
  };

  void run(std::stop_token stop);

  std::mutex m_mutex;
  std::condition_variable_any m_changed;
  std::map<TimerId, Timer> m_timers;  // guarded by m_mutex
  TimerId m_nextId = 1;               // guarded by m_mutex
  TimerId m_running = kNoTimer;       // guarded by m_mutex: whose callback runs now
  bool m_stopped = false;             // guarded by m_mutex
  std::condition_variable m_callbackDone;
  std::jthread m_worker;
};

}  // namespace vantrel
