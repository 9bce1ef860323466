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

namespace vantrel::server {

struct ServerContext {
  AccountStore& accounts;
  CatalogueStore& catalogue;
  SessionTable& sessions;
  RemovalNotifier& notifier;
  // The newest client version announced at login ("clientver").
  int clientVersion = 201;
  // Calendar seconds; replaceable so that tests can move time.
  std::function<int64_t()> now;
  // One line per notable event (logins); none when empty.
  std::function<void(const std::string&)> log;
};

}  // namespace vantrel::server
