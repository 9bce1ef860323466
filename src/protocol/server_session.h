// SPDX-License-Identifier: MIT
#pragma once
// ServerSession: keeps the session with the central server alive while the
// client shares: one pinger (UDP, or HTTP when "tcppings" is 1) and a watchdog
// that marks the client connected or not from the age of the last ping reply,
// slows the pings to 600 s and shows the lost-connection window after four
// intervals without a reply, and logs in again from that window.
//
// Owned by the application for the life of a login; start and stop from the
// owner's thread. The watchdog runs the lost-connection window on its own
// thread; stop closes it through the SessionUi first.

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "protocol/ping_handler.h"
#include "protocol/pinger.h"
#include "protocol/protocol_context.h"
#include "protocol/session_ui.h"

namespace vantrel {

class ServerSession {
 public:
  // `unit` is one "second" of the session's timing; tests make it short.
  ServerSession(ProtocolContext& ctx, SessionUi& ui, std::chrono::milliseconds unit = std::chrono::seconds(1));
  ~ServerSession();
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // Writes the default settings, starts the pinger and the watchdog. False when
  // the pinger could not start (the watchdog runs anyway, so the window shows).
  bool start();
  // Closes the window, stops the pinger and the watchdog. Idempotent.
  void stop();

  // The server's UDP ping port, in place of the deployment value
  // (deployment::serverUdpPort); called before start.
  void setServerUdpPort(uint16_t port) { m_serverUdpPort = port; }

  // The local UDP port of the pings; 0 without a UDP pinger.
  uint16_t udpPort() const;
  // The firewall check listens on the ping port: the session lets it go and
  // takes it again. pauseUdp is true when a UDP pinger was running.
  bool pauseUdp();
  bool resumeUdp();

  PingHandler& pingHandler() { return m_handler; }
  Pinger* pinger() { return m_pinger.get(); }
  int period() const { return m_period; }
  bool windowShown() const { return m_windowShown; }

  // One watchdog check, as the thread makes it after each period.
  void watchdogCheck();

 private:
  class Reconnect;
  void watch(std::stop_token st);

  ProtocolContext& m_ctx;
  SessionUi& m_ui;
  const std::chrono::milliseconds m_unit;
  PingHandler m_handler;
  std::unique_ptr<Pinger> m_pinger;
  uint16_t m_serverUdpPort = 0;  // 0: the deployment value, read at start
  std::atomic<int> m_period{Pinger::kNormalInterval};
  std::atomic<bool> m_windowShown{false};
  std::atomic<bool> m_stopping{false};
  std::atomic<bool> m_watchdogDone{true};
  std::jthread m_watchdog;
};

}  // namespace vantrel
