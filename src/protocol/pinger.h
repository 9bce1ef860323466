// SPDX-License-Identifier: MIT
#pragma once
// Pinger: what the UDP and the HTTP pinger share — the ping interval, the times
// of the last send and the last accepted reply, and a stop-aware sleep. Times
// are counted in "seconds" of a unit that is one real second except in tests.
// The interval and the time stamps are atomics, written by the pinger's
// threads and read by the session's watchdog.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>

#include "protocol/ping_handler.h"
#include "protocol/protocol_context.h"

namespace vantrel {

class Pinger {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kNormalInterval = 50;
  static constexpr int kReconnectInterval = 600;

  Pinger(ProtocolContext& ctx, PingHandler& handler, std::chrono::milliseconds unit)
      : m_ctx(ctx), m_handler(handler), m_unit(unit), m_lastReply(nowMs()), m_lastSend(nowMs()) {}
  virtual ~Pinger() = default;
  Pinger(const Pinger&) = delete;
  Pinger& operator=(const Pinger&) = delete;

  // Starts the pinger's threads; false when it cannot (logged).
  virtual bool start() = 0;
  // Stops and joins the threads. Idempotent.
  virtual void stop() = 0;

  int interval() const { return m_interval; }
  void setInterval(int seconds) { m_interval = seconds; }
  // Whole units since the last accepted reply (or since the pinger was made).
  int64_t secondsSinceReply() const { return (nowMs() - m_lastReply) / unitMs(); }
  int64_t lastReplyMs() const { return m_lastReply; }
  int64_t lastSendMs() const { return m_lastSend; }
  void markReply() { m_lastReply = nowMs(); }
  void markSend() { m_lastSend = nowMs(); }
  std::chrono::milliseconds unit() const { return m_unit; }

  static int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
  }

 protected:
  int64_t unitMs() const { return std::max<int64_t>(1, m_unit.count()); }
  // Sleeps `units` one unit at a time, re-reading nothing; false when stopped.
  bool sleepUnits(int units, std::stop_token st) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    for (int i = 0; i < units; ++i) {
      if (cv.wait_for(lock, st, m_unit, [&] { return st.stop_requested(); })) return false;
    }
    return !st.stop_requested();
  }

  ProtocolContext& m_ctx;
  PingHandler& m_handler;
  const std::chrono::milliseconds m_unit;
  std::atomic<int> m_interval{kNormalInterval};
  std::atomic<int64_t> m_lastReply;
  std::atomic<int64_t> m_lastSend;
};

}  // namespace vantrel
