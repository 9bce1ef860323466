// SPDX-License-Identifier: MIT
#include "protocol/http_pinger.h"

#include "protocol/server_login.h"

namespace vantrel {

bool HttpPinger::start() {
  stop();
  m_thread = std::jthread([this](std::stop_token st) { run(st); });
  return true;
}

void HttpPinger::stop() {
  if (m_thread.joinable()) {
    m_thread.request_stop();
    m_thread.join();
  }
}

void HttpPinger::run(std::stop_token st) {
  // A ping still connecting to an unreachable server gives up as soon as the
  // pinger is stopped, so that stopping (and with it "Exit") never waits for
  // the connect time-out.
  const ClientRequest::Progress untilStopped = [&st](int, long) { return st.stop_requested() ? 0 : 1; };
  while (!st.stop_requested()) {
    markSend();
    std::string reply;
    if (PingRequest(m_ctx, reply, &untilStopped) == 0 && m_handler.HandlePingReply(reply) == 1) markReply();
    if (!sleepUnits(m_interval, st)) return;
  }
}

}  // namespace vantrel
