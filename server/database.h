// SPDX-License-Identifier: MIT
#pragma once
// Database: the server's SQLite connection (WAL, foreign keys on) with small
// RAII helpers for statements and transactions, and the versioned schema.
//
// One connection serves the whole process. SQLite is built serialized, but a
// sequence of statements that belongs together (a lookup followed by an update)
// must not interleave with another thread's, so every caller holds mutex()
// for the length of its work; Transaction takes it for you.

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::server {

class Database;

// A prepared statement; reset and reusable. Columns and parameters count from 0
// for columns and 1 for parameters, as SQLite does.
class Statement {
 public:
  Statement(Database& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, int64_t value);
  Statement& bind(int index, std::string_view text);
  Statement& bindBlob(int index, std::string_view bytes);
  Statement& bindNull(int index);

  // True while a row is available. Errors end the iteration and are kept in ok().
  bool step();
  // Runs a statement that returns no rows; true on success.
  bool run();
  void reset();

  int64_t integer(int column) const;
  std::string text(int column) const;
  bool isNull(int column) const;
  bool ok() const { return m_ok; }

 private:
  sqlite3* m_db;
  sqlite3_stmt* m_stmt = nullptr;
  bool m_ok = true;
};

class Database {
 public:
  // Schema version this build writes; older databases are migrated on open.
  static constexpr int kSchemaVersion = 3;

  Database() = default;
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens or creates the file (":memory:" works) and brings the schema up to
  // date. Returns false with a message in error() on failure.
  bool open(const std::string& path);
  const std::string& error() const { return m_error; }
  // True when open() found no schema at all: the file was new (or empty).
  bool created() const { return m_created; }

  bool exec(std::string_view sql);
  int64_t lastInsertId() const;
  int changes() const;
  int schemaVersion();

  sqlite3* handle() const { return m_db; }
  std::recursive_mutex& mutex() { return m_mutex; }

 private:
  bool migrate();

  std::recursive_mutex m_mutex;
  sqlite3* m_db = nullptr;
  std::string m_error;
  bool m_created = false;
};

// BEGIN IMMEDIATE .. COMMIT under the database mutex; rolls back unless
// commit() was called.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool commit();

 private:
  std::scoped_lock<std::recursive_mutex> m_lock;
  Database& m_db;
  bool m_done = false;
};

}  // namespace vantrel::server
