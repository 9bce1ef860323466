// SPDX-License-Identifier: MIT
#include "platform/registry_hive.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/app_paths.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

// Keys are rows named by their full case-folded path; the parent column makes
// enumeration one indexed range scan, and a subtree is the range of paths
// between "p\" and "p]" (']' follows '\' in byte order).
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    "  path TEXT PRIMARY KEY,"    // folded full path
    "  parent TEXT NOT NULL,"     // folded parent path, '' for top-level keys
    "  name TEXT NOT NULL"        // last component as created
    ") WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS reg_keys_by_parent ON reg_keys(parent, path);"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  key TEXT NOT NULL,"        // folded full path of the key
    "  fold TEXT NOT NULL,"       // folded value name
    "  name TEXT NOT NULL,"       // value name as written
    "  type INTEGER NOT NULL,"
    "  data,"                     // INTEGER for DWORD, BLOB for text
    "  PRIMARY KEY(key, fold)"
    ") WITHOUT ROWID;";

struct StmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

Stmt prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    return nullptr;
  }
  return Stmt(s);
}

}  // namespace

// Prepared statements of one connection, prepared on first use and kept until
// the hive closes. Keyed by the address of the SQL literal.
class StatementCache {
 public:
  explicit StatementCache(sqlite3* db) : m_db(db) {}
  ~StatementCache() {
    for (auto& entry : m_statements) sqlite3_finalize(entry.second);
  }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  sqlite3_stmt* get(const char* sql) {
    auto it = m_statements.find(sql);
    if (it != m_statements.end()) return it->second;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
      sqlite3_finalize(s);
      return nullptr;
    }
    m_statements.emplace(sql, s);
    return s;
  }

 private:
  sqlite3* m_db;
  std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

// Watches the header of the WAL's shared-memory index ("<file>-shm"), which
// every commit to the file rewrites, whichever process makes it: the first
// copy of the header (its first 48 bytes) holds the frame count and running
// checksum of the log, and the salts that change when the log starts over, so
// no commit leaves it as it was. Read through a mapping of our own; while any
// connection holds the file open (ours does, for the hive's lifetime) the
// index is neither truncated nor replaced. A header read while a writer is
// rewriting it only looks changed, which costs one real read.
class CommitWatch {
 public:
  static std::unique_ptr<CommitWatch> open(const std::string& databasePath) {
    UniqueFd fd(::open((databasePath + "-shm").c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_size < static_cast<off_t>(kHeaderBytes)) return nullptr;
    void* at = ::mmap(nullptr, kHeaderBytes, PROT_READ, MAP_SHARED, fd.get(), 0);
    if (at == MAP_FAILED) return nullptr;
    return std::unique_ptr<CommitWatch>(new CommitWatch(static_cast<const uint32_t*>(at)));
  }
  ~CommitWatch() { ::munmap(const_cast<uint32_t*>(m_header), kHeaderBytes); }
  CommitWatch(const CommitWatch&) = delete;
  CommitWatch& operator=(const CommitWatch&) = delete;

  // Whether the header differs from the one the previous call saw.
  bool changed() {
    std::array<uint32_t, kWords> now;
    for (std::size_t i = 0; i < kWords; ++i) now[i] = __atomic_load_n(&m_header[i], __ATOMIC_ACQUIRE);
    if (now == m_seen) return false;
    m_seen = now;
    return true;
  }

 private:
  static constexpr std::size_t kWords = 12;  // the first copy of the index header
  static constexpr std::size_t kHeaderBytes = 136;  // both copies and the checkpoint record

  explicit CommitWatch(const uint32_t* header) : m_header(header) {}

  const uint32_t* m_header;
  std::array<uint32_t, kWords> m_seen{};  // all zero: the first call reports a change
};

namespace {

// More distinct values than the client ever reads: past this, start over.
constexpr std::size_t kMaxKeptValues = 512;

// A value name as asked for, not yet folded.
struct ValueProbe {
  std::string_view key;
  std::string_view name;
};

// The use of one cached statement; resets it and its bindings when done, so
// that no statement stays active across operations.
class Lease {
 public:
  explicit Lease(sqlite3_stmt* s) : m_s(s) {}
  ~Lease() {
    if (m_s != nullptr) {
      sqlite3_reset(m_s);
      sqlite3_clear_bindings(m_s);
    }
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  sqlite3_stmt* get() const { return m_s; }
  explicit operator bool() const { return m_s != nullptr; }

 private:
  sqlite3_stmt* m_s;
};

bool stepDone(sqlite3_stmt* s) {
  if (s == nullptr) return false;
  Lease lease(s);
  return sqlite3_step(s) == SQLITE_DONE;
}

void bindText(sqlite3_stmt* s, int i, std::string_view t) {
  sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

std::string columnBytes(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  int n = sqlite3_column_bytes(s, i);
  return p != nullptr && n > 0 ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

char foldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = foldChar(c);
  return out;
}

// A key path split into its components; empty path = the root of the hive.
struct KeyPath {
  std::vector<std::string_view> parts;
  std::string folded;  // components joined by '\', folded
};

std::optional<KeyPath> parseKey(std::string_view key) {
  KeyPath kp;
  if (key.empty()) return kp;
  size_t pos = 0;
  for (;;) {
    size_t bs = key.find('\\', pos);
    std::string_view part = key.substr(pos, bs == std::string_view::npos ? std::string_view::npos : bs - pos);
    if (part.empty() || part.size() > RegistryHive::kMaxKeyNameBytes ||
        part.find('\0') != std::string_view::npos) {
      return std::nullopt;
    }
    kp.parts.push_back(part);
    if (bs == std::string_view::npos) break;
    pos = bs + 1;
  }
  kp.folded = fold(key);
  return kp;
}

bool validValueName(std::string_view name) {
  return name.size() <= RegistryHive::kMaxValueNameBytes && name.find('\0') == std::string_view::npos;
}

// One transaction; rolls back unless committed.
class Transaction {
 public:
  Transaction(StatementCache& cache, bool write) : m_cache(cache) {
    m_open = stepDone(cache.get(write ? "BEGIN IMMEDIATE" : "BEGIN"));
  }
  ~Transaction() {
    if (m_open) stepDone(m_cache.get("ROLLBACK"));
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool ok() const { return m_open; }
  bool commit() {
    if (!m_open) return false;
    bool done = stepDone(m_cache.get("COMMIT"));
    // A failed COMMIT (busy) leaves the transaction open; the destructor rolls back.
    if (done) m_open = false;
    return done;
  }

 private:
  StatementCache& m_cache;
  bool m_open = false;
};

// Whether a key row exists: 1 yes, 0 no, -1 error. The root always exists.
int keyRowExists(StatementCache& cache, const KeyPath& kp) {
  if (kp.parts.empty()) return 1;
  Lease s(cache.get("SELECT 1 FROM reg_keys WHERE path = ?1"));
  if (!s) return -1;
  bindText(s.get(), 1, kp.folded);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) return 1;
  return rc == SQLITE_DONE ? 0 : -1;
}

int compareFolded(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(foldChar(a[i]));
    const auto y = static_cast<unsigned char>(foldChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

template <typename A, typename B>
bool RegistryHive::FoldedLess::operator()(const A& a, const B& b) const {
  const int byKey = compareFolded(a.key, b.key);
  return byKey != 0 ? byKey < 0 : compareFolded(a.name, b.name) < 0;
}

RegistryHive::RegistryHive() : RegistryHive(configDirectory()) {}

RegistryHive::RegistryHive(const std::string& directory) { m_status = openFile(directory); }

RegistryHive::~RegistryHive() {
  m_watch.reset();
  m_cache.reset();  // statements first, or the connection stays open
  if (m_db != nullptr) sqlite3_close_v2(m_db);
}

int RegistryHive::openFile(const std::string& directory) {
  if (directory.empty() || !makeDirectories(directory)) return reg::kIoError;
  m_path = withTrailingSlash(directory) + kFileName;
  // The hive holds stored passwords: create it readable by its owner only.
  // SQLite gives the -wal and -shm files the mode of the database file.
  UniqueFd created(::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!created) return reg::kIoError;
  created.reset();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) return reg::kIoError;
  sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
  m_cache = std::make_unique<StatementCache>(m_db);
  // Switching to WAL needs a moment of exclusive access; the busy timeout covers
  // another process doing the same at the same time.
  Stmt wal = prepare(m_db, "PRAGMA journal_mode=WAL");
  if (!wal || sqlite3_step(wal.get()) != SQLITE_ROW) return reg::kIoError;
  wal.reset();
  // In WAL mode NORMAL still commits atomically and never corrupts the file on
  // a crash or power cut; it only lets the newest commits roll back after a
  // power cut. FULL would fsync on every commit, which the client's running
  // totals do on every file sent.
  if (sqlite3_exec(m_db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK) return reg::kIoError;
  Transaction tx(*m_cache, true);
  if (!tx.ok() || sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK || !tx.commit()) {
    return reg::kIoError;
  }
  // The schema transaction made the shared-memory index; without it reads
  // simply go to the file each time.
  m_watch = CommitWatch::open(m_path);
  return reg::kOk;
}

bool RegistryHive::keptValuesCurrent() {
  if (m_watch == nullptr) return false;
  if (m_watch->changed()) m_kept.clear();
  return true;
}

int RegistryHive::openKey(std::string_view key) {
  auto kp = parseKey(key);
  if (!kp) return reg::kBadPath;
  std::scoped_lock lock(m_mutex);
  if (m_status != reg::kOk) return reg::kIoError;
  int e = keyRowExists(*m_cache, *kp);
  return e < 0 ? reg::kIoError : e == 1 ? reg::kOk : reg::kKeyNotFound;
}

int RegistryHive::createKey(std::string_view key) {
  auto kp = parseKey(key);
  if (!kp) return reg::kBadPath;
  std::scoped_lock lock(m_mutex);
  m_kept.clear();
  if (m_status != reg::kOk) return reg::kIoError;
  if (kp->parts.empty()) return reg::kOk;
  Transaction tx(*m_cache, true);
  Lease s(m_cache->get("INSERT OR IGNORE INTO reg_keys(path, parent, name) VALUES(?1, ?2, ?3)"));
  if (!tx.ok() || !s) return reg::kIoError;
  std::string parent;
  std::string path;
  for (std::string_view part : kp->parts) {
    path = parent.empty() ? fold(part) : parent + '\\' + fold(part);
    sqlite3_reset(s.get());
    bindText(s.get(), 1, path);
    bindText(s.get(), 2, parent);
    bindText(s.get(), 3, part);
    if (sqlite3_step(s.get()) != SQLITE_DONE) return reg::kIoError;
    parent = path;
  }
  return tx.commit() ? reg::kOk : reg::kIoError;
}

int RegistryHive::deleteKey(std::string_view key) {
  auto kp = parseKey(key);
  if (!kp || kp->parts.empty()) return reg::kBadPath;
  std::scoped_lock lock(m_mutex);
  m_kept.clear();
  if (m_status != reg::kOk) return reg::kIoError;
  Transaction tx(*m_cache, true);
  if (!tx.ok()) return reg::kIoError;
  int e = keyRowExists(*m_cache, *kp);
  if (e < 0) return reg::kIoError;
  if (e == 0) return reg::kKeyNotFound;
  const std::string below = kp->folded + '\\';
  const std::string after = kp->folded + ']';
  for (const char* sql : {"DELETE FROM reg_values WHERE key = ?1 OR (key > ?2 AND key < ?3)",
                          "DELETE FROM reg_keys WHERE path = ?1 OR (path > ?2 AND path < ?3)"}) {
    Lease s(m_cache->get(sql));
    if (!s) return reg::kIoError;
    bindText(s.get(), 1, kp->folded);
    bindText(s.get(), 2, below);
    bindText(s.get(), 3, after);
    if (sqlite3_step(s.get()) != SQLITE_DONE) return reg::kIoError;
  }
  return tx.commit() ? reg::kOk : reg::kIoError;
}

int RegistryHive::enumSubKey(std::string_view key, uint32_t index, std::string& name) {
  auto kp = parseKey(key);
  if (!kp) return reg::kBadPath;
  std::scoped_lock lock(m_mutex);
  if (m_status != reg::kOk) return reg::kIoError;
  Transaction tx(*m_cache, false);
  if (!tx.ok()) return reg::kIoError;
  int e = keyRowExists(*m_cache, *kp);
  if (e < 0) return reg::kIoError;
  if (e == 0) return reg::kKeyNotFound;
  Lease s(m_cache->get("SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY path LIMIT 1 OFFSET ?2"));
  if (!s) return reg::kIoError;
  bindText(s.get(), 1, kp->folded);
  sqlite3_bind_int64(s.get(), 2, index);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return reg::kNoMoreItems;
  if (rc != SQLITE_ROW) return reg::kIoError;
  name = columnBytes(s.get(), 0);
  return reg::kOk;
}

std::vector<std::string> RegistryHive::subKeys(std::string_view key) {
  std::vector<std::string> out;
  auto kp = parseKey(key);
  if (!kp) return out;
  std::scoped_lock lock(m_mutex);
  if (m_status != reg::kOk) return out;
  Lease s(m_cache->get("SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY path"));
  if (!s) return out;
  bindText(s.get(), 1, kp->folded);
  while (sqlite3_step(s.get()) == SQLITE_ROW) out.push_back(columnBytes(s.get(), 0));
  return out;
}

int RegistryHive::readValue(std::string_view key, std::string_view name, RegValue& out) {
  std::scoped_lock lock(m_mutex);
  // Checked before the file is read: a commit after this point changes the
  // header again, so what is kept below is never older than what it is kept for.
  const bool keep = keptValuesCurrent();
  if (keep) {
    const auto kept = m_kept.find(ValueProbe{key, name});
    if (kept != m_kept.end()) {
      if (kept->second.result == reg::kOk) out = kept->second.value;
      return kept->second.result;
    }
  }
  auto kp = parseKey(key);
  if (!kp || !validValueName(name)) return reg::kBadPath;
  if (m_status != reg::kOk) return reg::kIoError;
  KeptValue found{reg::kIoError, {}};
  {
    Transaction tx(*m_cache, false);
    if (!tx.ok()) return reg::kIoError;
    Lease s(m_cache->get("SELECT type, data FROM reg_values WHERE key = ?1 AND fold = ?2"));
    if (!s) return reg::kIoError;
    bindText(s.get(), 1, kp->folded);
    bindText(s.get(), 2, fold(name));
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW) {
      found.result = reg::kOk;
      if (sqlite3_column_int(s.get(), 0) == static_cast<int>(RegType::Dword)) {
        found.value = RegValue::ofNumber(static_cast<int32_t>(sqlite3_column_int64(s.get(), 1)));
      } else {
        found.value = RegValue{RegType::Text, 0, columnBytes(s.get(), 1)};
      }
    } else if (rc == SQLITE_DONE) {
      int e = keyRowExists(*m_cache, *kp);
      found.result = e < 0 ? reg::kIoError : e == 1 ? reg::kValueNotFound : reg::kKeyNotFound;
    }
  }
  const int result = found.result;
  if (result == reg::kOk) out = found.value;
  if (keep && result != reg::kIoError) {
    if (m_kept.size() >= kMaxKeptValues) m_kept.clear();
    m_kept.emplace(ValueName{kp->folded, fold(name)}, std::move(found));
  }
  return result;
}

int RegistryHive::writeValue(std::string_view key, std::string_view name, const RegValue& value) {
  return writeLocked(key, name, value, false);
}

int RegistryHive::writeValueIfAbsent(std::string_view key, std::string_view name, const RegValue& value) {
  return writeLocked(key, name, value, true);
}

int RegistryHive::writeLocked(std::string_view key, std::string_view name, const RegValue& value,
                              bool onlyIfAbsent) {
  auto kp = parseKey(key);
  if (!kp || !validValueName(name)) return reg::kBadPath;
  std::scoped_lock lock(m_mutex);
  m_kept.clear();
  if (m_status != reg::kOk) return reg::kIoError;
  Transaction tx(*m_cache, true);
  if (!tx.ok()) return reg::kIoError;
  int e = keyRowExists(*m_cache, *kp);
  if (e < 0) return reg::kIoError;
  if (e == 0) return reg::kKeyNotFound;
  Lease s(m_cache->get(onlyIfAbsent
                             ? "INSERT OR IGNORE INTO reg_values(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
                             : "INSERT OR REPLACE INTO reg_values(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"));
  if (!s) return reg::kIoError;
  bindText(s.get(), 1, kp->folded);
  bindText(s.get(), 2, fold(name));
  bindText(s.get(), 3, name);
  sqlite3_bind_int(s.get(), 4, static_cast<int>(value.type));
  if (value.type == RegType::Dword) {
    sqlite3_bind_int64(s.get(), 5, value.number);
  } else {
    // std::string::data() is never null, so an empty text stays an empty blob, not NULL.
    sqlite3_bind_blob(s.get(), 5, value.text.data(), static_cast<int>(value.text.size()), SQLITE_TRANSIENT);
  }
  if (sqlite3_step(s.get()) != SQLITE_DONE) return reg::kIoError;
  bool written = sqlite3_changes(m_db) > 0;
  if (!tx.commit()) return reg::kIoError;
  return written || !onlyIfAbsent ? reg::kOk : reg::kAlreadyExists;
}

int RegistryHive::deleteValue(std::string_view key, std::string_view name) {
  auto kp = parseKey(key);
  if (!kp || !validValueName(name)) return reg::kBadPath;
  std::scoped_lock lock(m_mutex);
  m_kept.clear();
  if (m_status != reg::kOk) return reg::kIoError;
  Transaction tx(*m_cache, true);
  if (!tx.ok()) return reg::kIoError;
  int e = keyRowExists(*m_cache, *kp);
  if (e < 0) return reg::kIoError;
  if (e == 0) return reg::kKeyNotFound;
  Lease s(m_cache->get("DELETE FROM reg_values WHERE key = ?1 AND fold = ?2"));
  if (!s) return reg::kIoError;
  bindText(s.get(), 1, kp->folded);
  bindText(s.get(), 2, fold(name));
  if (sqlite3_step(s.get()) != SQLITE_DONE) return reg::kIoError;
  bool deleted = sqlite3_changes(m_db) > 0;
  if (!tx.commit()) return reg::kIoError;
  return deleted ? reg::kOk : reg::kValueNotFound;
}

std::vector<std::string> RegistryHive::valueNames(std::string_view key) {
  std::vector<std::string> out;
  auto kp = parseKey(key);
  if (!kp) return out;
  std::scoped_lock lock(m_mutex);
  if (m_status != reg::kOk) return out;
  Lease s(m_cache->get("SELECT name FROM reg_values WHERE key = ?1 ORDER BY fold"));
  if (!s) return out;
  bindText(s.get(), 1, kp->folded);
  while (sqlite3_step(s.get()) == SQLITE_ROW) out.push_back(columnBytes(s.get(), 0));
  return out;
}

}  // namespace vantrel
