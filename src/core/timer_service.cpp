// SPDX-License-Identifier: MIT
#include "core/timer_service.h"

#include <algorithm>

namespace vantrel {

int64_t steadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TimerService::TimerService() : m_worker([this](std::stop_token stop) { run(stop); }) {}

TimerService::~TimerService() { stop(); }

TimerService::TimerId TimerService::schedule(std::chrono::milliseconds period, std::function<void()> callback) {
  period = std::max(period, std::chrono::milliseconds(1));
  TimerId id = kNoTimer;
  {
    std::scoped_lock lock(m_mutex);
    if (m_stopped || !callback) return kNoTimer;
    id = m_nextId++;
    m_timers.emplace(id, Timer{period, std::chrono::steady_clock::now() + period, std::move(callback)});
  }
  m_changed.notify_all();
  return id;
}

bool TimerService::cancel(TimerId id) {
  std::unique_lock lock(m_mutex);
  const bool found = m_timers.erase(id) > 0;
  if (std::this_thread::get_id() != m_worker.get_id()) {
    // The callback may be running right now on the worker; wait it out so that
    // the caller can free what it uses as soon as we return.
    m_callbackDone.wait(lock, [&] { return m_running != id; });
  }
  lock.unlock();
  m_changed.notify_all();
  return found;
}

void TimerService::stop() {
  {
    std::scoped_lock lock(m_mutex);
    m_stopped = true;
    m_timers.clear();
  }
  m_worker.request_stop();
  m_changed.notify_all();
  if (m_worker.joinable() && std::this_thread::get_id() != m_worker.get_id()) m_worker.join();
}

void TimerService::run(std::stop_token stop) {
  std::unique_lock lock(m_mutex);
  while (!stop.stop_requested()) {
    if (m_timers.empty()) {
      m_changed.wait(lock, stop, [&] { return !m_timers.empty(); });
      continue;
    }
    auto next = std::min_element(m_timers.begin(), m_timers.end(),
                                 [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
    const TimerId id = next->first;
    const auto due = next->second.due;
    // Wake early when a timer is added or removed: it may change what is next.
    const std::size_t count = m_timers.size();
    if (m_changed.wait_until(lock, stop, due, [&] {
          auto it = m_timers.find(id);
          return m_timers.size() != count || it == m_timers.end() || it->second.due != due;
        })) {
      continue;
    }
    if (stop.stop_requested()) break;
    auto it = m_timers.find(id);
    if (it == m_timers.end()) continue;
    const auto now = std::chrono::steady_clock::now();
    if (now < it->second.due) continue;  // woke early without a change
    it->second.due += it->second.period;
    if (it->second.due <= now) it->second.due = now + it->second.period;  // overran: no catching up
    std::function<void()> callback = it->second.callback;
    m_running = id;
    lock.unlock();
    callback();
    lock.lock();
    m_running = kNoTimer;
    m_callbackDone.notify_all();
  }
}

}  // namespace vantrel
