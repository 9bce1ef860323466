// SPDX-License-Identifier: MIT
#pragma once
// Which storage back end serves a --db value, and the back end itself: the
// one place that knows both SQLite and PostgreSQL. Functions; thread-safe.

#include <memory>
#include <string>
#include <string_view>

#include "server/storage/storage_backend.h"

namespace vantrel::server {

// The backend for a --db value: PostgreSQL for "postgresql://", "postgres://"
// or a libpq keyword string ("host=... dbname=..."), SQLite for anything else.
bool isPostgresTarget(std::string_view target);
std::unique_ptr<StorageBackend> makeBackend(const std::string& target);

}  // namespace vantrel::server
