// SPDX-License-Identifier: MIT
#include "server/storage/backend_factory.h"

#include "server/storage/postgres_backend.h"
#include "server/storage/sqlite_backend.h"

namespace vantrel::server {

bool isPostgresTarget(std::string_view target) {
  if (target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0) return true;
  // A libpq keyword string: "host=... dbname=...". A file name has no "=" before its first space.
  const size_t eq = target.find('=');
  if (eq == std::string_view::npos) return false;
  std::string_view key = target.substr(0, eq);
  while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
  for (const std::string_view known : {"host", "hostaddr", "port", "dbname", "user", "service", "password"}) {
    if (key == known) return true;
  }
  return false;
}

std::unique_ptr<StorageBackend> makeBackend(const std::string& target) {
  if (isPostgresTarget(target)) return makePostgresBackend(target);
  return makeSqliteBackend(target);
}

}  // namespace vantrel::server
