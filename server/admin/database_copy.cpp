// SPDX-License-Identifier: MIT
#include "server/admin/database_copy.h"

#include <algorithm>
#include <string_view>

namespace vantrel::server {

namespace {

// The tables in an order that their references allow, each with its columns
// and what they hold: 'i' integer, 't' text, 'b' bytes. Keep in step with the
// schema of both backends.
struct Table {
  std::string_view name;
  std::string_view columns;
  std::string_view types;
};

constexpr Table kTables[] = {
    {"users", "id, name, password, email, created, disabled, last_login", "itbtiii"},
    {"clients", "id, user_id", "ii"},
    {"sessions", "client_id, user_id, salt, seen_ip, reported_ip, port, udp_port, login_time, last_ping, sealed_key",
     "iibttiiiib"},
    {"session_additions", "client_id, digest", "ib"},
    {"login_salts", "user_id, salt, used", "ibi"},
    {"web_sessions", "token, user_id, created", "tii"},
    {"nodes", "id, kind, parent_id, group_id, name, owner_id, has_groups, created", "iiiitiii"},
    {"groups", "id, memb, perm, personal, password_hash, description, keywords", "iiiibtt"},
    {"members", "group_id, user_id, status, comments", "iiit"},
    {"files", "id, client_id, user_id, dir_id, group_id, name, size, filetype, keywords, added, rating",
     "iiiiitittii"},
};

int64_t count(Database& db, std::string_view table) {
  Statement st(db, "SELECT COUNT(*) FROM " + std::string(table));
  return st.step() ? st.integer(0) : -1;
}

// The highest ID the table has handed out: its largest row, or more where
// SQLite remembers a larger one that was removed.
int64_t highestId(Database& db, std::string_view table) {
  int64_t highest = 0;
  {
    Statement st(db, "SELECT COALESCE(MAX(id), 0) FROM " + std::string(table));
    if (st.step()) highest = st.integer(0);
  }
  if (db.dialect() == Dialect::kSqlite) {
    Statement seq(db, "SELECT seq FROM sqlite_sequence WHERE name = ?");
    seq.bind(1, table);
    if (seq.step()) highest = std::max(highest, seq.integer(0));
  }
  return highest;
}

}  // namespace

bool copyDatabase(Database& from, Database& to, CopyCounts& counts, std::string& error) {
  if (from.schemaVersion() != to.schemaVersion()) {
    error = "the two databases are at different schema versions";
    return false;
  }
  std::scoped_lock readLock(from.mutex());
  Transaction tx(to);
  for (const Table& t : kTables) {
    if (count(to, t.name) != 0) {
      error = "the target database is not empty (table " + std::string(t.name) + ")";
      return false;
    }
  }
  for (const Table& t : kTables) {
    std::string marks;
    for (size_t i = 0; i < t.types.size(); ++i) marks += i == 0 ? "?" : ", ?";
    Statement read(from, "SELECT " + std::string(t.columns) + " FROM " + std::string(t.name));
    Statement write(to, "INSERT INTO " + std::string(t.name) + "(" + std::string(t.columns) + ") VALUES (" + marks +
                            ")");
    while (read.step()) {
      write.reset();
      for (size_t i = 0; i < t.types.size(); ++i) {
        const int column = static_cast<int>(i);
        const int parameter = column + 1;
        if (read.isNull(column)) {
          write.bindNull(parameter);
        } else if (t.types[i] == 'i') {
          write.bind(parameter, read.integer(column));
        } else if (t.types[i] == 'b') {
          write.bindBlob(parameter, read.text(column));
        } else {
          write.bind(parameter, read.text(column));
        }
      }
      if (!write.run()) {
        error = "cannot copy a row of " + std::string(t.name) + ": " + to.writer().error();
        return false;
      }
      ++counts.rows;
    }
    if (!read.ok()) {
      error = "cannot read " + std::string(t.name) + ": " + from.writer().error();
      return false;
    }
  }
  // New IDs continue above the old ones.
  for (const std::string_view table : {"users", "nodes", "files"}) {
    const int64_t highest = highestId(from, table);
    bool ok = true;
    if (to.dialect() == Dialect::kPostgres) {
      Statement st(to, "SELECT setval(pg_get_serial_sequence('" + std::string(table) + "', 'id'), ?, ?)");
      st.bind(1, std::max<int64_t>(highest, 1)).bind(2, highest > 0 ? 1 : 0);
      ok = st.step();
    } else if (table == "files") {
      Statement add(to, "INSERT INTO sqlite_sequence(name, seq) SELECT 'files', 0 WHERE NOT EXISTS "
                        "(SELECT 1 FROM sqlite_sequence WHERE name = 'files')");
      Statement st(to, "UPDATE sqlite_sequence SET seq = ? WHERE name = 'files'");
      st.bind(1, highest);
      ok = add.run() && st.run();
    }
    if (!ok) {
      error = "cannot carry the IDs of " + std::string(table) + " over: " + to.writer().error();
      return false;
    }
  }
  counts.users = count(to, "users");
  counts.nodes = count(to, "nodes");
  counts.files = count(to, "files");
  if (!tx.commit()) {
    error = "cannot commit the copy: " + to.writer().error();
    return false;
  }
  // PostgreSQL plans searches by statistics of the words, and counts from the
  // index only on pages it has vacuumed: both are due after a bulk load (the
  // copy is complete without them, so a failure here is not one of the copy).
  if (to.dialect() == Dialect::kPostgres) to.exec("VACUUM ANALYZE");
  return true;
}

}  // namespace vantrel::server
