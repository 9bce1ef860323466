// SPDX-License-Identifier: MIT
#pragma once
// SqliteBackend: the embedded store, one database file (WAL journal, foreign
// keys on) or a database in memory. Readers are read-only connections to the
// same file; a database in memory has none.

#include <memory>
#include <string>

#include "server/storage/storage_backend.h"

struct sqlite3;

namespace vantrel::server {

std::unique_ptr<StorageBackend> makeSqliteBackend(const std::string& path);
// The SQLite handle of a connection this backend made; null for any other.
sqlite3* sqliteHandleOf(BackendConnection& connection);

}  // namespace vantrel::server
