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

PingReplyFields parsePingReply(std::string_view plain) {
  PingReplyFields fields;
  std::string_view rest = plain;
  for (int pair = 0; pair < PingHandler::kMaxPairs; ++pair) {
    const std::size_t eq = rest.find('=');
    if (eq == std::string_view::npos) break;
    const std::string_view name = rest.substr(0, eq);
    rest.remove_prefix(eq + 1);
    const std::size_t amp = rest.find('&');
    const std::string_view value = rest.substr(0, amp);
    rest.remove_prefix(amp == std::string_view::npos ? rest.size() : amp + 1);
    if (equalsNoCase(name, "ping")) {
      fields.ping = numberOf(value);
    } else if (equalsNoCase(name, "chk")) {
      fields.checksum = numberOf(value);
    } else if (equalsNoCase(name, "srvAddress")) {
      fields.serverAddress = std::string(value);
    } else if (equalsNoCase(name, "chkmsg")) {
      fields.messages = numberOf(value);
    }
    if (amp == std::string_view::npos) break;
  }
  return fields;
}

int PingHandler::HandlePingReply(std::string_view bytes) {
  if (bytes.size() == 8 && ::strncasecmp(bytes.data(), "error=1&", 8) == 0) return Relogin() == 0 ? 1 : 0;

  const PingReplyFields fields = parsePingReply(m_ctx.key.DecryptText(bytes));
  if (fields.ping && *fields.ping > 10000 && *fields.ping < 600000) {
    m_ctx.logText("Setting new ping time " + std::to_string(*fields.ping), 2);
  }
  if (fields.checksum) {
    if (*fields.checksum == -1) {
      m_ctx.logText("Error getting server checksum from ping", 2);
    } else {
      m_ctx.state.SetServerChecksum(static_cast<int32_t>(*fields.checksum));
      if (m_ctx.localChecksum && m_ctx.compareWithServer && m_ctx.localChecksum() != *fields.checksum) {
        m_ctx.compareWithServer();
      }
    }
  }
  if (fields.serverAddress) {
    m_ctx.target.SetServer(*fields.serverAddress, ServerTarget::kRedirectPort);
    const int code = LoginRequest(m_ctx, m_ctx.state.UserName(), m_ctx.state.Password(), nullptr);
    m_ctx.logText(code == 0 ? std::string("Login successful") : "Login unsuccessful " + std::to_string(code), 2);
  }
  if (fields.messages && *fields.messages > 0) m_ctx.state.SetMessagesWaiting(true);
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
