// SPDX-License-Identifier: MIT
#include "server/database.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>

#include "platform/unique_fd.h"

namespace vantrel::server {

namespace {

// Each entry takes the schema from version i to i + 1. Never edit a released
// step; append a new one and raise kSchemaVersion.
constexpr std::array<std::string_view, Database::kSchemaVersion> kMigrations = {
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
};

}  // namespace

void WriterMutex::lock() {
  m_mutex.lock();
  if (m_depth++ == 0) m_owner = std::this_thread::get_id();
}

bool WriterMutex::try_lock() {
  if (!m_mutex.try_lock()) return false;
  if (m_depth++ == 0) m_owner = std::this_thread::get_id();
  return true;
}

void WriterMutex::unlock() {
  if (--m_depth == 0) m_owner = std::thread::id();
  m_mutex.unlock();
}

Statement::Statement(Database& db, std::string_view sql) : m_db(db.handle()) { prepare(sql); }

Statement::Statement(const ReadConnection& connection, std::string_view sql) : m_db(connection.handle()) {
  prepare(sql);
}

void Statement::prepare(std::string_view sql) {
  if (sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr) != SQLITE_OK) {
    m_ok = false;
    m_stmt = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement& Statement::bind(int index, int64_t value) {
  if (m_stmt != nullptr) sqlite3_bind_int64(m_stmt, index, value);
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  if (m_stmt != nullptr) sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
  if (m_stmt != nullptr) sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bindNull(int index) {
  if (m_stmt != nullptr) sqlite3_bind_null(m_stmt, index);
  return *this;
}

bool Statement::step() {
  if (m_stmt == nullptr) return false;
  const int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) m_ok = false;
  return false;
}

bool Statement::run() {
  if (m_stmt == nullptr) return false;
  const int rc = sqlite3_step(m_stmt);
  sqlite3_reset(m_stmt);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) m_ok = false;
  return m_ok;
}

void Statement::reset() {
  if (m_stmt == nullptr) return;
  sqlite3_reset(m_stmt);
  sqlite3_clear_bindings(m_stmt);
}

int64_t Statement::integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

std::string Statement::text(int column) const {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
  const int n = sqlite3_column_bytes(m_stmt, column);
  return p == nullptr ? std::string() : std::string(p, static_cast<size_t>(n));
}

bool Statement::isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

Database::~Database() {
  for (sqlite3* reader : m_idleReaders) sqlite3_close_v2(reader);
  sqlite3_close_v2(m_db);
}

sqlite3* Database::borrowReader() {
  if (!m_readersPossible || !m_parallelReads) return nullptr;
  std::unique_lock lock(m_readerMutex);
  m_readerFree.wait(lock, [&] { return !m_idleReaders.empty() || m_openReaders < kMaxReaders; });
  if (!m_idleReaders.empty()) {
    sqlite3* reader = m_idleReaders.back();
    m_idleReaders.pop_back();
    return reader;
  }
  ++m_openReaders;
  lock.unlock();
  sqlite3* reader = nullptr;
  if (sqlite3_open_v2(m_path.c_str(), &reader, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(reader);
    lock.lock();
    --m_openReaders;
    m_readerFree.notify_one();
    return nullptr;
  }
  sqlite3_busy_timeout(reader, 5000);
  return reader;
}

void Database::returnReader(sqlite3* reader) {
  std::scoped_lock lock(m_readerMutex);
  m_idleReaders.push_back(reader);
  m_readerFree.notify_one();
}

namespace {
// The reader this thread borrowed last, so that a read inside another read
// uses the same connection instead of taking a second one from the pool.
thread_local const ReadConnection* t_activeReader = nullptr;
thread_local const Database* t_activeDatabase = nullptr;
}  // namespace

ReadConnection::ReadConnection(Database& db) : m_db(db) {
  if (t_activeReader != nullptr && t_activeDatabase == &db && !db.mutex().heldByThisThread()) {
    m_handle = t_activeReader->handle();
    m_nested = true;
    return;
  }
  if (!db.mutex().heldByThisThread()) {
    m_handle = db.borrowReader();
    m_borrowed = m_handle != nullptr;
  }
  if (!m_borrowed) {
    db.mutex().lock();
    m_handle = db.handle();
    return;
  }
  m_outerReader = t_activeReader;
  m_outerDatabase = t_activeDatabase;
  t_activeReader = this;
  t_activeDatabase = &db;
}

ReadConnection::~ReadConnection() {
  if (m_nested) return;
  if (m_borrowed) {
    t_activeReader = m_outerReader;
    t_activeDatabase = m_outerDatabase;
    m_db.returnReader(m_handle);
  } else {
    m_db.mutex().unlock();
  }
}

bool Database::open(const std::string& path) {
  std::scoped_lock lock(m_mutex);
  // The database holds every account and what each user shares: only its
  // owner may read it. SQLite gives its journal files the database's mode.
  if (path != ":memory:" && path.rfind("file:", 0) != 0) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    struct stat st {};
    if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0) {
      ::fchmod(fd.get(), st.st_mode & 0700);
    }
  }
  if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    m_error = m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory";
    return false;
  }
  sqlite3_busy_timeout(m_db, 5000);
  if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") || !exec("PRAGMA foreign_keys=ON")) {
    return false;
  }
  if (!migrate()) return false;
  // Readers need the same file on disk, in WAL mode (a database in memory
  // or one whose file system refuses WAL has only the writer).
  m_path = path;
  Statement mode(*this, "PRAGMA journal_mode");
  m_readersPossible = path != ":memory:" && !path.empty() && path.rfind("file:", 0) != 0 && mode.step() &&
                      mode.text(0) == "wal";
  return true;
}

bool Database::exec(std::string_view sql) {
  std::scoped_lock lock(m_mutex);
  char* message = nullptr;
  const std::string owned(sql);
  if (sqlite3_exec(m_db, owned.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    m_error = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    return false;
  }
  return true;
}

int64_t Database::lastInsertId() const { return sqlite3_last_insert_rowid(m_db); }

int Database::changes() const { return sqlite3_changes(m_db); }

int Database::schemaVersion() {
  Statement st(*this, "PRAGMA user_version");
  return st.step() ? static_cast<int>(st.integer(0)) : -1;
}

bool Database::migrate() {
  const int from = schemaVersion();
  if (from < 0) {
    m_error = "cannot read the schema version";
    return false;
  }
  if (from > kSchemaVersion) {
    m_error = "the database was written by a newer server (schema " + std::to_string(from) + ")";
    return false;
  }
  m_created = from == 0;
  for (int v = from; v < kSchemaVersion; ++v) {
    // Each step and its version stamp commit together, so a crash leaves a
    // database at one version or the next, never between.
    std::string sql = "BEGIN IMMEDIATE;";
    sql += kMigrations[static_cast<size_t>(v)];
    sql += "PRAGMA user_version=" + std::to_string(v + 1) + ";COMMIT;";
    if (!exec(sql)) {
      const std::string why = m_error;
      exec("ROLLBACK");
      m_error = "schema step " + std::to_string(v + 1) + ": " + why;
      return false;
    }
  }
  return true;
}

Transaction::Transaction(Database& db) : m_lock(db.mutex()), m_db(db) { m_db.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (!m_done) m_db.exec("ROLLBACK");
}

bool Transaction::commit() {
  m_done = true;
  return m_db.exec("COMMIT");
}

}  // namespace vantrel::server
