// SPDX-License-Identifier: MIT
#pragma once
// Database: the server's SQLite connections (WAL, foreign keys on) with small
// RAII helpers for statements and transactions, and the versioned schema.
//
// One writer connection makes every change. A sequence of statements that
// belongs together (a lookup followed by an update) must not interleave with
// another thread's, so every writer holds mutex() for the length of its work;
// Transaction takes it for you.
//
// Reads that stand alone (searches, listings, logins, pings) go through a
// ReadConnection instead: a read-only connection of their own, borrowed from a
// small pool, so that WAL lets them run in parallel with each other and with
// the writer. A thread that holds the writer's mutex reads through the writer,
// so it sees its own uncommitted changes; a database in memory has no second
// connection and reads through the writer too.

#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::server {

class Database;
class ReadConnection;

// A recursive mutex that knows whether the calling thread holds it.
class WriterMutex {
 public:
  void lock();
  bool try_lock();
  void unlock();
  bool heldByThisThread() const { return m_owner.load() == std::this_thread::get_id(); }

 private:
  std::recursive_mutex m_mutex;
  std::atomic<std::thread::id> m_owner{};
  int m_depth = 0;  // guarded by m_mutex
};

// A prepared statement; reset and reusable. Columns and parameters count from 0
// for columns and 1 for parameters, as SQLite does.
class Statement {
 public:
  Statement(Database& db, std::string_view sql);
  Statement(const ReadConnection& connection, std::string_view sql);
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
  void prepare(std::string_view sql);

  sqlite3* m_db;
  sqlite3_stmt* m_stmt = nullptr;
  bool m_ok = true;
};

class Database {
 public:
  // Schema version this build writes; older databases are migrated on open.
  static constexpr int kSchemaVersion = 4;

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
  WriterMutex& mutex() { return m_mutex; }
  // False sends every read through the writer, one at a time, as a database
  // in memory does; for measuring what the readers gain.
  void setParallelReads(bool on) { m_parallelReads = on; }

 private:
  friend class ReadConnection;
  static constexpr size_t kMaxReaders = 32;

  bool migrate();
  // A read-only connection, or null when this database cannot have one.
  sqlite3* borrowReader();
  void returnReader(sqlite3* reader);

  WriterMutex m_mutex;
  sqlite3* m_db = nullptr;
  std::string m_path;
  bool m_readersPossible = false;
  std::atomic<bool> m_parallelReads{true};
  std::mutex m_readerMutex;
  std::condition_variable m_readerFree;
  std::vector<sqlite3*> m_idleReaders;  // guarded by m_readerMutex
  size_t m_openReaders = 0;             // guarded by m_readerMutex
  std::string m_error;
  bool m_created = false;
};

// A connection for reads that need no writer: see Database. Held for the
// length of the statements that use it.
class ReadConnection {
 public:
  explicit ReadConnection(Database& db);
  ~ReadConnection();
  ReadConnection(const ReadConnection&) = delete;
  ReadConnection& operator=(const ReadConnection&) = delete;
  sqlite3* handle() const { return m_handle; }

 private:
  Database& m_db;
  sqlite3* m_handle = nullptr;
  bool m_borrowed = false;  // from the pool; otherwise the writer, whose mutex we hold
  bool m_nested = false;    // the connection of an outer ReadConnection on this thread
  const ReadConnection* m_outerReader = nullptr;
  const Database* m_outerDatabase = nullptr;
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
  std::scoped_lock<WriterMutex> m_lock;
  Database& m_db;
  bool m_done = false;
};

}  // namespace vantrel::server
