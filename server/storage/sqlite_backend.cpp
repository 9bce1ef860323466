// SPDX-License-Identifier: MIT
#include "server/storage/sqlite_backend.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <array>

#include "platform/unique_fd.h"
#include "server/storage/schema_version.h"

namespace vantrel::server {

namespace {

// Each entry takes the schema from version i to i + 1. Never edit a released
// step; append a new one and raise kSchemaVersion.
constexpr std::array<std::string_view, kSchemaVersion> kMigrations = {
    // 0 -> 1: accounts, sessions and the catalogue.
    R"sql(
CREATE TABLE users (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  password BLOB NOT NULL,            -- sealed with the server key, never plain
  email TEXT NOT NULL DEFAULT '',
  created INTEGER NOT NULL
);
CREATE TABLE clients (
  id INTEGER PRIMARY KEY,            -- the client ID handed out at first login
  user_id INTEGER NOT NULL UNIQUE REFERENCES users(id) ON DELETE CASCADE
);
CREATE TABLE sessions (
  client_id INTEGER PRIMARY KEY REFERENCES clients(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL,
  salt BLOB NOT NULL,
  seen_ip TEXT NOT NULL,
  reported_ip TEXT NOT NULL,
  port INTEGER NOT NULL,
  udp_port INTEGER NOT NULL,
  login_time INTEGER NOT NULL
);
CREATE TABLE login_salts (
  user_id INTEGER NOT NULL,
  salt BLOB NOT NULL,
  used INTEGER NOT NULL,
  PRIMARY KEY (user_id, salt)
) WITHOUT ROWID;
CREATE TABLE web_sessions (
  token TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  created INTEGER NOT NULL
);
-- Categories (kind 1), groups (2) and directories (3) share one ID space, so a
-- "dirid" may name a group (its top level) or a directory.
CREATE TABLE nodes (
  id INTEGER PRIMARY KEY,
  kind INTEGER NOT NULL,
  parent_id INTEGER,
  group_id INTEGER,                  -- groups: their own ID; directories: their group
  name TEXT NOT NULL,
  owner_id INTEGER NOT NULL DEFAULT 0,
  has_groups INTEGER NOT NULL DEFAULT 0,
  created INTEGER NOT NULL
);
CREATE INDEX nodes_parent ON nodes(parent_id);
CREATE TABLE groups (
  id INTEGER PRIMARY KEY REFERENCES nodes(id) ON DELETE CASCADE,
  memb INTEGER NOT NULL,
  perm INTEGER NOT NULL,
  personal INTEGER NOT NULL DEFAULT 0,
  password_hash BLOB,
  description TEXT NOT NULL DEFAULT '',
  keywords TEXT NOT NULL DEFAULT ''
);
CREATE UNIQUE INDEX groups_name ON nodes(name COLLATE NOCASE) WHERE kind = 2;
CREATE TABLE members (
  group_id INTEGER NOT NULL REFERENCES groups(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  status INTEGER NOT NULL,
  comments TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (group_id, user_id)
) WITHOUT ROWID;
CREATE INDEX members_user ON members(user_id);
CREATE TABLE files (
  id INTEGER PRIMARY KEY,
  client_id INTEGER NOT NULL,
  user_id INTEGER NOT NULL,
  dir_id INTEGER NOT NULL,
  group_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  size INTEGER NOT NULL,
  filetype TEXT NOT NULL DEFAULT '',
  keywords TEXT NOT NULL DEFAULT '',
  added INTEGER NOT NULL,
  rating INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX files_client ON files(client_id);
CREATE INDEX files_dir ON files(dir_id);
CREATE INDEX files_group ON files(group_id);
)sql",
    // 1 -> 2: full-text search over file names, kept in step by triggers.
    R"sql(
CREATE VIRTUAL TABLE files_fts USING fts5(name, content='files', content_rowid='id',
                                         tokenize="unicode61 tokenchars '_'");
CREATE TRIGGER files_ai AFTER INSERT ON files BEGIN
  INSERT INTO files_fts(rowid, name) VALUES (new.id, new.name);
END;
CREATE TRIGGER files_ad AFTER DELETE ON files BEGIN
  INSERT INTO files_fts(files_fts, rowid, name) VALUES ('delete', old.id, old.name);
END;
CREATE TRIGGER files_au AFTER UPDATE OF name ON files BEGIN
  INSERT INTO files_fts(files_fts, rowid, name) VALUES ('delete', old.id, old.name);
  INSERT INTO files_fts(rowid, name) VALUES (new.id, new.name);
END;
INSERT INTO files_fts(files_fts) VALUES ('rebuild');
)sql",
    // 2 -> 3: accounts an operator can disable, and the time of each user's last login.
    R"sql(
ALTER TABLE users ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0;
ALTER TABLE users ADD COLUMN last_login INTEGER NOT NULL DEFAULT 0;
)sql",
    // 3 -> 4: file IDs are never handed out twice. Without AUTOINCREMENT a new
    // file could take the ID of the last one removed, and a remove_file sent
    // again (a retry, or a recorded request) would remove the new file. The
    // table is rebuilt with its rows and IDs; the search index keeps its rows,
    // which are keyed by those IDs, and gets its triggers back.
    R"sql(
CREATE TABLE files_new (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  client_id INTEGER NOT NULL,
  user_id INTEGER NOT NULL,
  dir_id INTEGER NOT NULL,
  group_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  size INTEGER NOT NULL,
  filetype TEXT NOT NULL DEFAULT '',
  keywords TEXT NOT NULL DEFAULT '',
  added INTEGER NOT NULL,
  rating INTEGER NOT NULL DEFAULT 0
);
INSERT INTO files_new(id, client_id, user_id, dir_id, group_id, name, size, filetype, keywords, added, rating)
  SELECT id, client_id, user_id, dir_id, group_id, name, size, filetype, keywords, added, rating FROM files;
DROP TABLE files;
ALTER TABLE files_new RENAME TO files;
CREATE INDEX files_client ON files(client_id);
CREATE INDEX files_dir ON files(dir_id);
CREATE INDEX files_group ON files(group_id);
CREATE TRIGGER files_ai AFTER INSERT ON files BEGIN
  INSERT INTO files_fts(rowid, name) VALUES (new.id, new.name);
END;
CREATE TRIGGER files_ad AFTER DELETE ON files BEGIN
  INSERT INTO files_fts(files_fts, rowid, name) VALUES ('delete', old.id, old.name);
END;
CREATE TRIGGER files_au AFTER UPDATE OF name ON files BEGIN
  INSERT INTO files_fts(files_fts, rowid, name) VALUES ('delete', old.id, old.name);
  INSERT INTO files_fts(rowid, name) VALUES (new.id, new.name);
END;
)sql",
    // 4 -> 5: a session's last sign of life and the add_file requests it made
    // live in the database, so that any server process can serve the client.
    R"sql(
ALTER TABLE sessions ADD COLUMN last_ping INTEGER NOT NULL DEFAULT 0;
UPDATE sessions SET last_ping = login_time;
CREATE INDEX sessions_last_ping ON sessions(last_ping);
CREATE TABLE session_additions (
  client_id INTEGER NOT NULL REFERENCES sessions(client_id) ON DELETE CASCADE,
  digest BLOB NOT NULL,
  PRIMARY KEY (client_id, digest)
) WITHOUT ROWID;
)sql",
    // 5 -> 6: the login salts are pruned by age at every login; without an
    // index that read the whole table each time.
    R"sql(
CREATE INDEX IF NOT EXISTS login_salts_used ON login_salts(used);
)sql",
    // 6 -> 7: the session's key kept sealed with the server key, so that a
    // process that did not see the login takes it up without deriving it from
    // the password, and the logins by time, for the processes to pick up the
    // new ones.
    R"sql(
ALTER TABLE sessions ADD COLUMN sealed_key BLOB NOT NULL DEFAULT x'';
CREATE INDEX sessions_login_time ON sessions(login_time);
)sql",
};

class SqliteStatement final : public BackendStatement {
 public:
  explicit SqliteStatement(sqlite3_stmt* stmt) : m_stmt(stmt) {}
  ~SqliteStatement() override { sqlite3_finalize(m_stmt); }

  void bind(int index, int64_t value) override { sqlite3_bind_int64(m_stmt, index, value); }
  void bindText(int index, std::string_view text) override {
    sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void bindBlob(int index, std::string_view bytes) override {
    sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  }
  void bindNull(int index) override { sqlite3_bind_null(m_stmt, index); }
  Step step() override {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return Step::kRow;
    return rc == SQLITE_DONE ? Step::kDone : Step::kError;
  }
  void rewind() override { sqlite3_reset(m_stmt); }
  void clear() override {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  int64_t integer(int column) const override { return sqlite3_column_int64(m_stmt, column); }
  std::string text(int column) const override {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    const int n = sqlite3_column_bytes(m_stmt, column);
    return p == nullptr ? std::string() : std::string(p, static_cast<size_t>(n));
  }
  bool isNull(int column) const override { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

 private:
  sqlite3_stmt* m_stmt;
};

class SqliteConnection final : public BackendConnection {
 public:
  explicit SqliteConnection(sqlite3* db) : m_db(db) {}
  ~SqliteConnection() override { sqlite3_close_v2(m_db); }

  std::unique_ptr<BackendStatement> prepare(std::string_view sql) override {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
      m_error = sqlite3_errmsg(m_db);
      return nullptr;
    }
    return std::make_unique<SqliteStatement>(stmt);
  }
  bool exec(std::string_view sql) override {
    char* message = nullptr;
    const std::string owned(sql);
    if (sqlite3_exec(m_db, owned.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      m_error = message != nullptr ? message : "unknown error";
      sqlite3_free(message);
      return false;
    }
    return true;
  }
  int64_t changes() const override { return sqlite3_changes(m_db); }
  const std::string& error() const override { return m_error; }
  sqlite3* handle() const { return m_db; }

 private:
  sqlite3* m_db;
  std::string m_error;
};

bool isFile(const std::string& path) { return path != ":memory:" && !path.empty() && path.rfind("file:", 0) != 0; }

class SqliteBackend final : public StorageBackend {
 public:
  explicit SqliteBackend(std::string path) : m_path(std::move(path)) {}

  Dialect dialect() const override { return Dialect::kSqlite; }

  std::unique_ptr<BackendConnection> openWriter(std::string& error) override {
    // The database holds every account and what each user shares: only its
    // owner may read it. SQLite gives its journal files the database's mode.
    if (isFile(m_path)) {
      UniqueFd fd(::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
      struct stat st {};
      if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0) {
        ::fchmod(fd.get(), st.st_mode & 0700);
      }
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
      error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
      sqlite3_close_v2(db);
      return nullptr;
    }
    auto connection = std::make_unique<SqliteConnection>(db);
    sqlite3_busy_timeout(db, 5000);
    if (!connection->exec("PRAGMA journal_mode=WAL") || !connection->exec("PRAGMA synchronous=NORMAL") ||
        !connection->exec("PRAGMA foreign_keys=ON")) {
      error = connection->error();
      return nullptr;
    }
    // Readers need the same file on disk, in WAL mode (a database in memory
    // or one whose file system refuses WAL has only the writer).
    auto mode = connection->prepare("PRAGMA journal_mode");
    m_readersPossible = isFile(m_path) && mode && mode->step() == BackendStatement::Step::kRow && mode->text(0) == "wal";
    return connection;
  }

  std::unique_ptr<BackendConnection> openReader() override {
    if (!m_readersPossible) return nullptr;
    sqlite3* reader = nullptr;
    if (sqlite3_open_v2(m_path.c_str(), &reader, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
      sqlite3_close_v2(reader);
      return nullptr;
    }
    sqlite3_busy_timeout(reader, 5000);
    return std::make_unique<SqliteConnection>(reader);
  }

  int schemaVersion(BackendConnection& writer) override {
    auto st = writer.prepare("PRAGMA user_version");
    return st && st->step() == BackendStatement::Step::kRow ? static_cast<int>(st->integer(0)) : -1;
  }

  bool migrateStep(BackendConnection& writer, int from, std::string& error) override {
    // Each step and its version stamp commit together, so a crash leaves a
    // database at one version or the next, never between.
    std::string sql = "BEGIN IMMEDIATE;";
    sql += kMigrations[static_cast<size_t>(from)];
    sql += "PRAGMA user_version=" + std::to_string(from + 1) + ";COMMIT;";
    if (!writer.exec(sql)) {
      error = writer.error();
      writer.exec("ROLLBACK");
      return false;
    }
    return true;
  }

  size_t maxReaders() const override { return 32; }
  std::string_view beginWrite() const override { return "BEGIN IMMEDIATE"; }

 private:
  std::string m_path;
  bool m_readersPossible = false;
};

}  // namespace

std::unique_ptr<StorageBackend> makeSqliteBackend(const std::string& path) {
  return std::make_unique<SqliteBackend>(path);
}

sqlite3* sqliteHandleOf(BackendConnection& connection) {
  auto* sqlite = dynamic_cast<SqliteConnection*>(&connection);
  return sqlite != nullptr ? sqlite->handle() : nullptr;
}

}  // namespace vantrel::server
