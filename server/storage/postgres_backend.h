// SPDX-License-Identifier: MIT
#pragma once
// PostgresBackend: a PostgreSQL database through libpq, for a community that
// outgrows one machine: several server processes may share it. Every
// connection prepares each statement text once and keeps it; the schema is
// versioned in a table of its own.

#include <memory>
#include <string>

#include "server/storage/storage_backend.h"

namespace vantrel::server {

std::unique_ptr<StorageBackend> makePostgresBackend(const std::string& conninfo);
// The same for a read replica: a connection that finds the replica gone
// fails at once instead of waiting for it, and nothing is told to the log.
std::unique_ptr<StorageBackend> makePostgresReplicaBackend(const std::string& conninfo);

// The statement text with "?" and "?N" parameters written as PostgreSQL's
// "$N"; *count is the highest parameter number. Text in quotes is left alone.
std::string postgresParameters(std::string_view sql, int* count);

}  // namespace vantrel::server
