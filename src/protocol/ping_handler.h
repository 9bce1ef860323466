// SPDX-License-Identifier: MIT
#pragma once
// PingHandler: what the client does with a ping reply, and the re-login that a
// lost session needs. The reply is either the plain text "error=1&" (the server
// has lost the session: log in again) or cipher text of up to five name=value
// pairs: "ping", "chk" (the server's checksum of the shared files), "srvAddress"
// (move to another server, port 7001) and "chkmsg" (messages are waiting).
//
// Thread-safe: the UDP receiver, the HTTP pinger, the watchdog and the
// lost-connection window all call in; only one re-login runs at a time, and a
// second caller first asks the running one to stop.

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/protocol_context.h"

namespace vantrel {

// What a decrypted ping reply says; fields that were absent stay empty.
struct PingReplyFields {
  std::optional<long> ping;
  std::optional<long> checksum;
  std::optional<std::string> serverAddress;
  std::optional<long> messages;
};

// Reads at most five name=value pairs ("=" then "&"), names without case.
PingReplyFields parsePingReply(std::string_view plain);

class PingHandler {
 public:
  static constexpr int kMaxPairs = 5;
  static constexpr int kReloginBusy = 211;

  explicit PingHandler(ProtocolContext& ctx) : m_ctx(ctx) {}

  // 1 when the reply was accepted, 0 when not (a failed re-login).
  int HandlePingReply(std::string_view bytes);

  // Logs in again with the stored credentials and the current server target.
  // 211 at once while connected, or when another re-login does not stop in time.
  int Relogin();

  bool reloginRunning() const { return m_running; }
  // How long a second re-login waits for the first to stop: 10 steps of this.
  void setReloginWaitStep(std::chrono::milliseconds step) { m_waitStep = step; }

 private:
  ProtocolContext& m_ctx;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_stopRequest{false};
  std::chrono::milliseconds m_waitStep{400};
};

}  // namespace vantrel
