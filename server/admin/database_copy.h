// SPDX-License-Identifier: MIT
#pragma once
// copyDatabase: every row of one server database into another that is empty,
// as a community moves from SQLite to PostgreSQL: users with their sealed
// passwords (the same server key opens them), clients and their sessions,
// the catalogue with its groups, members and files, all with their IDs. IDs
// handed out later in the target continue above the source's highest, so a
// file ID is never given twice across the move either.
//
// Both databases must be open at the same schema version (open() migrates
// them). The target is written in one transaction: on failure it stays empty.

#include <cstdint>
#include <string>

#include "server/storage/database.h"

namespace vantrel::server {

struct CopyCounts {
  int64_t users = 0;
  int64_t nodes = 0;
  int64_t files = 0;
  int64_t rows = 0;  // all tables together
};

bool copyDatabase(Database& from, Database& to, CopyCounts& counts, std::string& error);

}  // namespace vantrel::server
