// SPDX-License-Identifier: MIT
#pragma once
// ProtocolContext: what every exchange with the central server needs, gathered
// in one place so that requests, pingers and the session take one reference.
// Owned by the application for the life of the process; everything it refers
// to must outlive it. The hooks are set before the session starts and not
// changed while it runs; they are called on the session's worker threads.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

#include "core/log.h"
#include "crypto/session_key.h"
#include "protocol/contest_table.h"
#include "protocol/server_target.h"
#include "settings/settings_store.h"
#include "state/client_state.h"

namespace vantrel {

struct ProtocolContext {
  ProtocolContext(ClientState& s, SettingsStore& st, SessionKey& k, ServerTarget& t, ContestTable& c,
                  Log* l = nullptr)
      : state(s), settings(st), key(k), target(t), contest(c), log(l) {}
  ProtocolContext(const ProtocolContext&) = delete;
  ProtocolContext& operator=(const ProtocolContext&) = delete;

  ClientState& state;
  SettingsStore& settings;
  SessionKey& key;
  ServerTarget& target;
  ContestTable& contest;
  Log* log;

  // Set by the login window to abandon a login that is waiting for the server.
  std::atomic<int> loginAbort{0};
  // The ports this client uses now, -1 until known: the file server's (the
  // login tells the server this one) and the UDP ping socket's. They differ
  // from the settings when another client on this computer holds those.
  std::atomic<int> fileServerPort{-1};
  std::atomic<int> udpPort{-1};
  // The file server's port as peers outside reach it: the one the home router
  // forwards to it, -1 when no router does. The login tells the server this one.
  std::atomic<int> announcedTcpPort{-1};
  // Download tokens are checked while this is on (the debug settings turn it off).
  std::atomic<bool> fileSecurity{true};

  // The checksum of the local shared-file list (the sum of its IDs mod 1,000,000).
  std::function<int32_t()> localChecksum;
  // Compares the shared-file list with the server's again (normal mode).
  std::function<void()> compareWithServer;
  // Saves the contest table (the ping sender calls it every fourth ping while
  // the contest runs); the application knows the file.
  std::function<void()> saveContest;

  void logText(std::string_view text, int level) const {
    if (log != nullptr) log->logText(text, level);
  }
};

}  // namespace vantrel
