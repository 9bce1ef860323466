// SPDX-License-Identifier: MIT
#pragma once
// Database: the server's storage (SQLite or PostgreSQL, see storage_backend.h)
// with small RAII helpers for statements and transactions, and the versioned
// schema.
//
// One writer connection makes every change of this process. A sequence of
// statements that belongs together (a lookup followed by an update) must not
// interleave with another thread's, so every writer holds mutex() for the
// length of its work; Transaction takes it for you. Several processes on one
// PostgreSQL database each have their own writer; their transactions keep
// them apart.
//
// Reads that stand alone (searches, listings, logins, pings) go through a
// ReadConnection instead: a connection of their own, borrowed from a small
// pool, so that they run in parallel with each other and with the writer. A
// thread that holds the writer's mutex reads through the writer, so it sees
// its own uncommitted changes; a SQLite database in memory has no second
// connection and reads through the writer too.
//
// On PostgreSQL, reads may also go to hot standbys (addReplicas): only those
// made under a ReplicaReadScope, by a thread that holds no writer, and only
// while a replica is close behind the primary (see replica_set.h).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/storage/schema_version.h"
#include "server/storage/storage_backend.h"

namespace vantrel::server {

class Database;
class ReadConnection;
class ReplicaSet;

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

// A prepared statement; reset and reusable. Columns count from 0 and
// parameters from 1. A statement that failed to compile or to run stays
// failed: ok() turns false and step() and run() answer false.
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
  // Runs a statement that returns no rows (or ignores them); true on success.
  // The parameters stay bound.
  bool run();
  // Runs an INSERT .. RETURNING id: the new row's ID, 0 on failure. The
  // parameters stay bound.
  int64_t runReturningId();
  // Clears the parameters too.
  void reset();

  int64_t integer(int column) const;
  std::string text(int column) const;
  bool isNull(int column) const;
  bool ok() const { return m_ok; }

 private:
  std::unique_ptr<BackendStatement> m_stmt;
  bool m_ok = true;
};

class Database {
 public:
  Database();
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens or creates the SQLite file (":memory:" works) or connects to the
  // PostgreSQL database, and brings the schema up to date. Returns false
  // with a message in error() on failure.
  bool open(const std::string& target);
  // After open() on PostgreSQL: reads under a ReplicaReadScope may go to
  // these hot standbys (libpq connection strings). checkEveryMs and
  // maxLagMs tune how often each is looked at and how far behind it may be.
  void addReplicas(const std::string& primary, std::vector<std::string> replicas, int checkEveryMs = 1000,
                   int maxLagMs = 2000);
  // Null without replicas.
  ReplicaSet* replicas() const { return m_replicas.get(); }
  // Where the backend reports lost and restored connections; set before open().
  void setReport(StorageReport report) { m_report = std::move(report); }
  const std::string& error() const { return m_error; }
  // True when open() found no schema at all: the database was new (or empty).
  bool created() const { return m_created; }
  Dialect dialect() const { return m_dialect; }

  bool exec(std::string_view sql);
  // Rows changed by the writer's last statement.
  int64_t changes() const;
  int schemaVersion();

  BackendConnection& writer() { return *m_writer; }
  WriterMutex& mutex() { return m_mutex; }
  // False sends every read through the writer, one at a time, as a database
  // in memory does; for measuring what the readers gain.
  void setParallelReads(bool on) { m_parallelReads = on; }
  // The statement text that begins a transaction that writes.
  std::string_view beginWrite() const { return m_backend->beginWrite(); }

 private:
  friend class ReadConnection;
  bool migrate();
  // A reader connection, or null when this database cannot have one.
  std::unique_ptr<BackendConnection> borrowReader();
  void returnReader(std::unique_ptr<BackendConnection> reader);

  WriterMutex m_mutex;
  std::unique_ptr<StorageBackend> m_backend;
  std::unique_ptr<BackendConnection> m_writer;
  Dialect m_dialect = Dialect::kSqlite;
  std::atomic<bool> m_parallelReads{true};
  std::mutex m_readerMutex;
  std::condition_variable m_readerFree;
  std::vector<std::unique_ptr<BackendConnection>> m_idleReaders;  // guarded by m_readerMutex
  size_t m_openReaders = 0;                                       // guarded by m_readerMutex
  bool m_readersPossible = true;                                  // guarded by m_readerMutex
  std::string m_error;
  bool m_created = false;
  StorageReport m_report;
  std::unique_ptr<ReplicaSet> m_replicas;  // after the pool: its connections go back there
};

// While one lives, the ReadConnections this thread opens may read from a
// replica: for reads that need not see this request's own latest changes.
class ReplicaReadScope {
 public:
  explicit ReplicaReadScope(bool allowed = true);
  ~ReplicaReadScope();
  ReplicaReadScope(const ReplicaReadScope&) = delete;
  ReplicaReadScope& operator=(const ReplicaReadScope&) = delete;

 private:
  bool m_previous;
};

// A connection for reads that need no writer: see Database. Held for the
// length of the statements that use it.
class ReadConnection {
 public:
  explicit ReadConnection(Database& db);
  ~ReadConnection();
  ReadConnection(const ReadConnection&) = delete;
  ReadConnection& operator=(const ReadConnection&) = delete;
  BackendConnection& connection() const { return *m_connection; }

 private:
  Database& m_db;
  BackendConnection* m_connection = nullptr;
  std::unique_ptr<BackendConnection> m_borrowed;  // from the pool; else the writer, whose mutex we hold
  bool m_fromReplica = false;                     // m_borrowed gives itself back
  bool m_nested = false;                          // the connection of an outer ReadConnection on this thread
  const ReadConnection* m_outerReader = nullptr;
  const Database* m_outerDatabase = nullptr;
};

// A write transaction under the database mutex; rolls back unless commit()
// was called.
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
