// SPDX-License-Identifier: MIT
#include "protocol/server_session.h"

#include <condition_variable>
#include <mutex>

#include "core/deployment.h"
#include "core/error_table.h"
#include "protocol/http_pinger.h"
#include "protocol/udp_pinger.h"

namespace vantrel {

// The lost-connection window's logic: close once a reply came after it opened,
// and log in again on request.
class ServerSession::Reconnect : public LostConnectionPrompt {
 public:
  Reconnect(ProtocolContext& ctx, PingHandler& handler, Pinger& pinger)
      : m_ctx(ctx), m_handler(handler), m_pinger(pinger), m_openedMs(Pinger::nowMs()) {}

  bool onTimer() override {
    if (m_pinger.lastReplyMs() < m_openedMs) return false;
    if (!m_ctx.state.Connected()) m_handler.Relogin();
    return true;
  }

  MessageBox tryReconnect() override {
    const int code = m_handler.Relogin();
    if (code == 0) {
      // The server answered: that counts as a reply, so the window closes and
      // the watchdog measures the silence from now, not from before the loss.
      m_pinger.markReply();
      m_pinger.setInterval(Pinger::kNormalInterval);
      return {"Reconnected!", "Success", MessageIcon::Information};
    }
    const std::string where = "\n\nThe server is " + m_ctx.target.host() + " port " + std::to_string(m_ctx.target.port()) +
                              "; its address is in Settings, Server.";
    if (code == PingHandler::kReloginBusy) return {"Could not connect to server" + where, "Error", MessageIcon::Error};
    return {"Could not login to server - Error " + std::to_string(code) + "\n" + errorTitle(code) + where, "Error",
            MessageIcon::Error};
  }

 private:
  ProtocolContext& m_ctx;
  PingHandler& m_handler;
  Pinger& m_pinger;
  const int64_t m_openedMs;
};

ServerSession::ServerSession(ProtocolContext& ctx, SessionUi& ui, std::chrono::milliseconds unit)
    : m_ctx(ctx), m_ui(ui), m_unit(unit), m_handler(ctx) {}

ServerSession::~ServerSession() { stop(); }

bool ServerSession::start() {
  stop();
  m_ctx.settings.EnsureDefaults();
  m_period = Pinger::kNormalInterval;
  if (m_ctx.settings.GetSettingNumber("tcppings") == 1) {
    m_pinger = std::make_unique<HttpPinger>(m_ctx, m_handler, m_unit);
  } else {
    auto udp = std::make_unique<UdpPinger>(m_ctx, m_handler, m_unit);
    udp->setServerUdpPort(m_serverUdpPort != 0 ? m_serverUdpPort : deployment::serverUdpPort());
    m_pinger = std::move(udp);
  }
  m_pinger->setInterval(Pinger::kNormalInterval);
  const bool started = m_pinger->start();
  m_watchdogDone = false;
  m_watchdog = std::jthread([this](std::stop_token st) {
    watch(st);
    m_watchdogDone = true;
  });
  return started;
}

uint16_t ServerSession::udpPort() const {
  const auto* udp = dynamic_cast<const UdpPinger*>(m_pinger.get());
  return udp != nullptr ? udp->localPort() : 0;
}

bool ServerSession::pauseUdp() {
  auto* udp = dynamic_cast<UdpPinger*>(m_pinger.get());
  if (udp == nullptr || udp->localPort() == 0) return false;
  udp->pause();
  return true;
}

bool ServerSession::resumeUdp() {
  auto* udp = dynamic_cast<UdpPinger*>(m_pinger.get());
  return udp == nullptr || udp->resume();
}

void ServerSession::stop() {
  m_stopping = true;
  if (m_watchdog.joinable()) {
    m_watchdog.request_stop();
    // The window may be opening right now: keep closing it until the watchdog
    // has left it, so the join below cannot wait on a person.
    for (int i = 0; i < 250 && !m_watchdogDone; ++i) {
      if (m_windowShown) m_ui.closeLostConnection();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (m_pinger) m_pinger->stop();
  if (m_watchdog.joinable()) m_watchdog.join();
  m_pinger.reset();
  m_stopping = false;
}

void ServerSession::watch(std::stop_token st) {
  std::mutex m;
  std::condition_variable_any cv;
  while (!st.stop_requested()) {
    std::unique_lock lock(m);
    for (int i = 0; i < m_period; ++i) {
      if (cv.wait_for(lock, st, m_unit, [&] { return st.stop_requested(); })) return;
    }
    lock.unlock();
    watchdogCheck();
  }
}

void ServerSession::watchdogCheck() {
  if (!m_pinger) return;
  const int64_t age = m_pinger->secondsSinceReply();
  const int interval = m_pinger->interval();
  m_period = interval;
  if (4 * static_cast<int64_t>(interval) >= age) {
    const bool connected = 3 * static_cast<int64_t>(interval) >= 2 * age;  // 1.5 intervals
    if (connected && interval == Pinger::kReconnectInterval) m_pinger->setInterval(Pinger::kNormalInterval);
    const bool lost = !connected && m_ctx.state.Connected();
    m_ctx.state.SetConnected(connected);
    // The window comes with the status bar's "Disconnected", not two and a
    // half intervals after it.
    if (!lost) return;
  }
  if (m_windowShown || m_ctx.state.Connected() || m_stopping) return;
  m_pinger->setInterval(Pinger::kReconnectInterval);
  m_windowShown = true;
  Reconnect prompt(m_ctx, m_handler, *m_pinger);
  m_ui.showLostConnection(prompt);
  m_windowShown = false;
  if (m_ctx.state.Connected()) m_pinger->setInterval(Pinger::kNormalInterval);
}

}  // namespace vantrel
