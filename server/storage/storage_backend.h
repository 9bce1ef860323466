// SPDX-License-Identifier: MIT
#pragma once
// The storage interface under Database: a backend opens connections to one
// database and owns its schema steps; a connection prepares statements and
// runs plain SQL. SQLite (a file, embedded) and PostgreSQL (a server, several
// processes on one database) implement it.
//
// The stores write one SQL text for both backends: "?" or "?N" parameters,
// INSERT .. RETURNING for new IDs, ON CONFLICT for upserts, COLLATE NOCASE
// for names compared without case. Where the two really differ (search,
// schema) the store asks Database::dialect().
//
// Threads: a connection and its statements belong to one thread at a time;
// Database hands them out.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel::server {

enum class Dialect { kSqlite, kPostgres };

// How a backend tells the log about its connection: lost, restored, given up.
using StorageReport = std::function<void(bool error, const std::string& line)>;

// A request that met a database it could not reach. The backend notes it on
// the thread that met it; whoever answers the request clears the note before
// and looks at it after, and answers with a server error rather than with
// what the failed reads seemed to say (no rows is not "no such user").
namespace storage_fault {
void clear();
void note();
bool noted();
}  // namespace storage_fault

class BackendStatement {
 public:
  enum class Step { kRow, kDone, kError };
  virtual ~BackendStatement() = default;

  // Parameters count from 1, columns from 0.
  virtual void bind(int index, int64_t value) = 0;
  virtual void bindText(int index, std::string_view text) = 0;
  virtual void bindBlob(int index, std::string_view bytes) = 0;
  virtual void bindNull(int index) = 0;
  // The first call runs the statement; each call moves to the next row.
  virtual Step step() = 0;
  // Ready to run again with the same parameters.
  virtual void rewind() = 0;
  // Ready to run again with no parameters bound.
  virtual void clear() = 0;
  virtual int64_t integer(int column) const = 0;
  virtual std::string text(int column) const = 0;
  virtual bool isNull(int column) const = 0;
};

class BackendConnection {
 public:
  virtual ~BackendConnection() = default;
  // Null when the text does not compile; the reason in error().
  virtual std::unique_ptr<BackendStatement> prepare(std::string_view sql) = 0;
  // Runs one or more statements that return nothing.
  virtual bool exec(std::string_view sql) = 0;
  // Rows changed by the last statement that ran on this connection.
  virtual int64_t changes() const = 0;
  virtual const std::string& error() const = 0;
};

class StorageBackend {
 public:
  virtual ~StorageBackend() = default;
  virtual Dialect dialect() const = 0;
  // The connection that makes every change of this process.
  virtual std::unique_ptr<BackendConnection> openWriter(std::string& error) = 0;
  // A connection for reads beside the writer; null when there can be none
  // (a SQLite database in memory).
  virtual std::unique_ptr<BackendConnection> openReader() = 0;
  // The schema version stored in the database, -1 when unreadable.
  virtual int schemaVersion(BackendConnection& writer) = 0;
  // Takes the schema from `from` to `from + 1` with its version stamp in one
  // transaction.
  virtual bool migrateStep(BackendConnection& writer, int from, std::string& error) = 0;
  // At most this many reader connections per process.
  virtual size_t maxReaders() const = 0;
  // How a transaction that will write begins.
  virtual std::string_view beginWrite() const = 0;
  // Where connection losses and recoveries are reported; none by default.
  virtual void setReport(StorageReport) {}
};

}  // namespace vantrel::server
