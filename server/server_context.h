// SPDX-License-Identifier: MIT
#pragma once
// ServerContext: the stores and services that the request handlers share,
// passed by reference. Everything in it is thread-safe and is owned by
// CentralServer, which outlives every handler.

#include <cstdint>
#include <functional>
#include <string>

#include "server/account_store.h"
#include "server/catalogue_store.h"
#include "server/outbound.h"
#include "server/session_table.h"
#include "server/update_offer.h"

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
  // One line per notable event (logins, update requests); none when empty.
  std::function<void(const std::string&)> log;
  // The update handed to "getupdate"; none (a bare result) when null. Not owned.
  const UpdateOffer* update = nullptr;
};

}  // namespace vantrel::server
