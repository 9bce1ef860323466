// SPDX-License-Identifier: MIT
#pragma once
// ServerContext: the stores and services that the request handlers share,
// passed by reference. Everything in it is thread-safe and is owned by
// CentralServer, which outlives every handler.

#include <cstdint>
#include <functional>
#include <string>

#include "server/clients/firewall_test_pool.h"
#include "server/clients/outbound.h"
#include "server/clients/server_log.h"
#include "server/clients/update_offer.h"
#include "server/http/login_throttle.h"
#include "server/sessions/session_table.h"
#include "server/store/account_store.h"
#include "server/store/catalogue_store.h"

namespace vantrel::server {

// The version of the clients this server was written with: announcing it
// offers no update.
inline constexpr int kDefaultClientVersion = 201;

struct ServerContext {
  AccountStore& accounts;
  CatalogueStore& catalogue;
  SessionTable& sessions;
  RemovalNotifier& notifier;
  // The newest client version announced at login ("clientver").
  int clientVersion = kDefaultClientVersion;
  // Calendar seconds; replaceable so that tests can move time.
  std::function<int64_t()> now;
  // One line per notable event (logins and failed logins, update requests,
  // dropped sessions, errors); none when empty. Never given a password, key
  // or session text.
  std::function<void(LogLevel, const std::string&)> log;
  // The update handed to "getupdate"; none (a bare result) when null. Not owned.
  const UpdateOffer* update = nullptr;
  // Where firewall tests run; null runs them on the caller's thread. Not owned.
  FirewallTestPool* firewallTests = nullptr;
  // How long a firewall test waits for the client's TCP port to answer.
  int probeTimeoutMs = 5000;
  // With read replicas: for how many milliseconds after a client's own
  // change its reads stay on the primary. Below 0: there are no replicas.
  int64_t replicaWindowMs = -1;
  // Password guessing, counted across the web site and the client protocol.
  LoginThrottle loginThrottle;
};

}  // namespace vantrel::server
