// SPDX-License-Identifier: MIT
#include "protocol/ping_handler.h"

#include <strings.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "protocol/server_login.h"

namespace vantrel {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

long numberOf(std::string_view value) { return std::strtol(std::string(value).c_str(), nullptr, 10); }

}  // namespace

int PingHandler::HandlePingReply(std::string_view bytes) {
  if (bytes.size() == 8 && ::strncasecmp(bytes.data(), "error=1&", 8) == 0) return Relogin() == 0 ? 1 : 0;

  const std::string plain = m_ctx.key.DecryptText(bytes);
  std::string_view rest = plain;
  for (int pair = 0; pair < kMaxPairs; ++pair) {
    const std::size_t eq = rest.find('=');
    if (eq == std::string_view::npos) break;
    const std::string_view name = rest.substr(0, eq);
    rest.remove_prefix(eq + 1);
    const std::size_t amp = rest.find('&');
    const std::string_view value = rest.substr(0, amp);
    rest.remove_prefix(amp == std::string_view::npos ? rest.size() : amp + 1);

    if (equalsNoCase(name, "ping")) {
      const long ms = numberOf(value);
      if (ms > 10000 && ms < 600000) m_ctx.logText("Setting new ping time " + std::to_string(ms), 2);
    } else if (equalsNoCase(name, "chk")) {
      const long checksum = numberOf(value);
      if (checksum == -1) {
        m_ctx.logText("Error getting server checksum from ping", 2);
      } else {
        m_ctx.state.SetServerChecksum(static_cast<int32_t>(checksum));
        if (m_ctx.localChecksum && m_ctx.compareWithServer && m_ctx.localChecksum() != checksum) {
          m_ctx.compareWithServer();
        }
      }
    } else if (equalsNoCase(name, "srvAddress")) {
      m_ctx.target.SetServer(value, ServerTarget::kRedirectPort);
      const int code = LoginRequest(m_ctx, m_ctx.state.UserName(), m_ctx.state.Password(), nullptr);
      m_ctx.logText(code == 0 ? std::string("Login successful") : "Login unsuccessful " + std::to_string(code), 2);
    } else if (equalsNoCase(name, "chkmsg")) {
      if (numberOf(value) > 0) m_ctx.state.SetMessagesWaiting(true);
    }
    if (amp == std::string_view::npos) break;
  }
  return 1;
}

int PingHandler::Relogin() {
  if (m_ctx.state.Connected()) return kReloginBusy;
  bool expected = false;
  if (!m_running.compare_exchange_strong(expected, true)) {
    // Another re-login runs: ask it to stop and take over once it has.
    m_stopRequest = true;
    bool acquired = false;
    for (int i = 0; i < 10 && !acquired; ++i) {
      std::this_thread::sleep_for(m_waitStep);
      bool idle = false;
      acquired = m_running.compare_exchange_strong(idle, true);
    }
    if (!acquired) return kReloginBusy;
  }
  m_stopRequest = false;
  const ClientRequest::Progress watchStop = [this](int, long) { return m_stopRequest ? 0 : 1; };
  const int code = LoginRequest(m_ctx, m_ctx.state.UserName(), m_ctx.state.Password(), &watchStop);
  if (code == 0) {
    m_ctx.logText("Login successful", 2);
    m_ctx.state.SetConnected(true);
  }
  m_running = false;
  return code;
}

}  // namespace vantrel
