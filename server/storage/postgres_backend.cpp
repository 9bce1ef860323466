// SPDX-License-Identifier: MIT
#include "server/storage/postgres_backend.h"

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/storage/schema_version.h"

namespace vantrel::server {

namespace {

constexpr unsigned kTextType = 25;
constexpr unsigned kByteaType = 17;
constexpr unsigned kBoolType = 16;

// Each entry takes the schema from version i to i + 1, in step with the
// SQLite steps of the same number. Never edit a released step.
//
// Names compare without case through the "nocase" collation (a
// nondeterministic ICU one), other text in byte order ("C"), as on SQLite.
// File names are searched through "words": the lower-case words of the name
// (letters, digits, "_" and every non-ASCII character make words), indexed
// for prefix matches.
constexpr std::array<std::string_view, kSchemaVersion> kMigrations = {
    // 0 -> 1: accounts, sessions and the catalogue.
    R"sql(
CREATE COLLATION IF NOT EXISTS nocase (provider = icu, locale = 'und-u-ks-level2', deterministic = false);
CREATE TABLE users (
  id BIGSERIAL PRIMARY KEY,
  name TEXT COLLATE nocase NOT NULL UNIQUE,
  password BYTEA NOT NULL,
  email TEXT COLLATE "C" NOT NULL DEFAULT '',
  created BIGINT NOT NULL
);
CREATE TABLE clients (
  id BIGINT PRIMARY KEY,
  user_id BIGINT NOT NULL UNIQUE REFERENCES users(id) ON DELETE CASCADE
);
CREATE TABLE sessions (
  client_id BIGINT PRIMARY KEY REFERENCES clients(id) ON DELETE CASCADE,
  user_id BIGINT NOT NULL,
  salt BYTEA NOT NULL,
  seen_ip TEXT NOT NULL,
  reported_ip TEXT NOT NULL,
  port BIGINT NOT NULL,
  udp_port BIGINT NOT NULL,
  login_time BIGINT NOT NULL
);
CREATE TABLE login_salts (
  user_id BIGINT NOT NULL,
  salt BYTEA NOT NULL,
  used BIGINT NOT NULL,
  PRIMARY KEY (user_id, salt)
);
CREATE INDEX login_salts_used ON login_salts(used);
CREATE TABLE web_sessions (
  token TEXT COLLATE "C" PRIMARY KEY,
  user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  created BIGINT NOT NULL
);
CREATE TABLE nodes (
  id BIGSERIAL PRIMARY KEY,
  kind BIGINT NOT NULL,
  parent_id BIGINT,
  group_id BIGINT,
  name TEXT COLLATE "C" NOT NULL,
  owner_id BIGINT NOT NULL DEFAULT 0,
  has_groups BIGINT NOT NULL DEFAULT 0,
  created BIGINT NOT NULL
);
CREATE INDEX nodes_parent ON nodes(parent_id);
CREATE TABLE groups (
  id BIGINT PRIMARY KEY REFERENCES nodes(id) ON DELETE CASCADE,
  memb BIGINT NOT NULL,
  perm BIGINT NOT NULL,
  personal BIGINT NOT NULL DEFAULT 0,
  password_hash BYTEA,
  description TEXT COLLATE "C" NOT NULL DEFAULT '',
  keywords TEXT COLLATE "C" NOT NULL DEFAULT ''
);
CREATE UNIQUE INDEX groups_name ON nodes((name COLLATE nocase)) WHERE kind = 2;
CREATE TABLE members (
  group_id BIGINT NOT NULL REFERENCES groups(id) ON DELETE CASCADE,
  user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  status BIGINT NOT NULL,
  comments TEXT COLLATE "C" NOT NULL DEFAULT '',
  PRIMARY KEY (group_id, user_id)
);
CREATE INDEX members_user ON members(user_id);
CREATE TABLE files (
  id BIGSERIAL PRIMARY KEY,
  client_id BIGINT NOT NULL,
  user_id BIGINT NOT NULL,
  dir_id BIGINT NOT NULL,
  group_id BIGINT NOT NULL,
  name TEXT COLLATE "C" NOT NULL,
  size BIGINT NOT NULL,
  filetype TEXT COLLATE "C" NOT NULL DEFAULT '',
  keywords TEXT COLLATE "C" NOT NULL DEFAULT '',
  added BIGINT NOT NULL,
  rating BIGINT NOT NULL DEFAULT 0
);
CREATE INDEX files_client ON files(client_id);
CREATE INDEX files_dir ON files(dir_id);
CREATE INDEX files_group ON files(group_id);
CREATE INDEX files_user ON files(user_id);
)sql",
    // 1 -> 2: search over file names.
    R"sql(
ALTER TABLE files ADD COLUMN words tsvector GENERATED ALWAYS AS (array_to_tsvector(array_remove(
  regexp_split_to_array(lower(name), '[\x01-\x2f\x3a-\x40\x5b-\x5e\x60\x7b-\x7f]+'), ''))) STORED;
CREATE INDEX files_words ON files USING gin(words);
)sql",
    // 2 -> 3: accounts an operator can disable, and the time of each user's last login.
    R"sql(
ALTER TABLE users ADD COLUMN disabled BIGINT NOT NULL DEFAULT 0;
ALTER TABLE users ADD COLUMN last_login BIGINT NOT NULL DEFAULT 0;
)sql",
    // 3 -> 4: file IDs are never handed out twice; a sequence never does.
    R"sql(
SELECT 1;
)sql",
    // 4 -> 5: a session's last sign of life and the add_file requests it made.
    R"sql(
ALTER TABLE sessions ADD COLUMN last_ping BIGINT NOT NULL DEFAULT 0;
UPDATE sessions SET last_ping = login_time;
CREATE INDEX sessions_last_ping ON sessions(last_ping);
CREATE TABLE session_additions (
  client_id BIGINT NOT NULL REFERENCES sessions(client_id) ON DELETE CASCADE,
  digest BYTEA NOT NULL,
  PRIMARY KEY (client_id, digest)
);
)sql",
    // 5 -> 6: the login salts' index by age (made with the table here).
    R"sql(
CREATE INDEX IF NOT EXISTS login_salts_used ON login_salts(used);
)sql",
    // 6 -> 7: the session's sealed key, and the logins by time.
    R"sql(
ALTER TABLE sessions ADD COLUMN sealed_key BYTEA NOT NULL DEFAULT ''::bytea;
CREATE INDEX sessions_login_time ON sessions(login_time);
)sql",
};

// After a lost connection the request that noticed it waits this long for
// the database to come back. While it stays away the process tries again
// after a pause that doubles up to kLongestPause, and every request in
// between fails at once instead of opening a connection of its own.
constexpr auto kReconnectWait = std::chrono::seconds(3);
constexpr auto kReconnectPause = std::chrono::milliseconds(200);
constexpr auto kLongestPause = std::chrono::seconds(2);

// Defaults under the operator's connection string (which may override
// them): a database host that is gone without a word (a failover, a cable)
// costs a connection attempt 5 s and an open connection about a minute,
// rather than the system's TCP time-outs of minutes to hours.
constexpr std::array<const char*, 4> kLinkKeywords = {"connect_timeout", "keepalives_idle", "keepalives_interval",
                                                      "keepalives_count"};
constexpr std::array<const char*, 4> kLinkValues = {"5", "30", "10", "3"};

PGconn* openConnection(const std::string& conninfo) {
  std::array<const char*, kLinkKeywords.size() + 2> keywords{};
  std::array<const char*, kLinkKeywords.size() + 2> values{};
  for (size_t i = 0; i < kLinkKeywords.size(); ++i) {
    keywords[i] = kLinkKeywords[i];
    values[i] = kLinkValues[i];
  }
  // The connection string comes after the defaults, so its own values win.
  keywords[kLinkKeywords.size()] = "dbname";
  values[kLinkKeywords.size()] = conninfo.c_str();
  return PQconnectdbParams(keywords.data(), values.data(), 1);
}

bool startsWithWord(std::string_view sql, std::string_view word) {
  while (!sql.empty() && (sql.front() == ' ' || sql.front() == '\n')) sql.remove_prefix(1);
  if (sql.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    const char c = sql[i] >= 'a' && sql[i] <= 'z' ? static_cast<char>(sql[i] - 'a' + 'A') : sql[i];
    if (c != word[i]) return false;
  }
  return true;
}

// A statement that changes nothing may run again on a new connection.
bool changesNothing(std::string_view sql) { return startsWithWord(sql, "SELECT") || startsWithWord(sql, "BEGIN"); }

// The state of the database link that every connection of the process
// shares: whether it is down, and where losses and recoveries are told.
struct PgLink {
  std::string conninfo;
  StorageReport report;
  std::mutex mutex;
  bool down = false;  // guarded by mutex
  // Counts the losses: a connection that broke in a loss already told
  // reconnects without telling it again.
  uint64_t generation = 0;                         // guarded by mutex
  std::chrono::steady_clock::time_point lostAt;    // guarded by mutex
  std::chrono::steady_clock::time_point nextTry;   // guarded by mutex
  std::chrono::milliseconds pause{0};              // guarded by mutex
  // How long the request that notices a loss waits for the database. A
  // read replica waits not at all: its reads have the primary to go to.
  std::chrono::milliseconds reconnectWait = kReconnectWait;

  void tell(bool error, const std::string& line) {
    if (report) report(error, line);
  }
};

class PgConnection;

class PgStatement final : public BackendStatement {
 public:
  PgStatement(PgConnection& connection, std::string sql, int parameters)
      : m_connection(connection), m_sql(std::move(sql)), m_values(static_cast<size_t>(parameters)),
        m_binary(static_cast<size_t>(parameters), 0) {}
  ~PgStatement() override { PQclear(m_result); }

  void bind(int index, int64_t value) override { set(index, std::to_string(value), false); }
  void bindText(int index, std::string_view text) override { set(index, std::string(text), false); }
  void bindBlob(int index, std::string_view bytes) override { set(index, std::string(bytes), true); }
  void bindNull(int index) override {
    if (index >= 1 && static_cast<size_t>(index) <= m_values.size()) m_values[static_cast<size_t>(index - 1)].reset();
  }
  Step step() override;
  void rewind() override {
    PQclear(m_result);
    m_result = nullptr;
    m_row = -1;
  }
  void clear() override {
    rewind();
    for (auto& v : m_values) v.reset();
  }
  int64_t integer(int column) const override {
    const char* v = PQgetvalue(m_result, m_row, column);
    if (PQftype(m_result, column) == kBoolType) return v[0] == 't' ? 1 : 0;
    return std::strtoll(v, nullptr, 10);
  }
  std::string text(int column) const override {
    const char* v = PQgetvalue(m_result, m_row, column);
    if (PQftype(m_result, column) != kByteaType) return std::string(v, static_cast<size_t>(PQgetlength(m_result, m_row, column)));
    size_t length = 0;
    unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(v), &length);
    std::string out(reinterpret_cast<const char*>(bytes), length);
    PQfreemem(bytes);
    return out;
  }
  bool isNull(int column) const override { return PQgetisnull(m_result, m_row, column) != 0; }

 private:
  void set(int index, std::string value, bool binary) {
    if (index < 1 || static_cast<size_t>(index) > m_values.size()) return;
    m_values[static_cast<size_t>(index - 1)] = std::move(value);
    m_binary[static_cast<size_t>(index - 1)] = binary ? 1 : 0;
  }

  PgConnection& m_connection;
  std::string m_sql;
  std::vector<std::optional<std::string>> m_values;
  std::vector<int> m_binary;
  PGresult* m_result = nullptr;
  int m_row = -1;
};

// Session settings every connection starts with.
// Quiet notices ("relation already exists, skipping") stay out of the log.
// Requests are short and many run at once: a parallel plan would start
// worker processes for a few milliseconds of work, taking the cores from
// the other requests. (Which statements are planned each time: see
// PgConnection::plannedEachTime.)
constexpr const char* kSessionSettings =
    "SET client_min_messages = warning; SET max_parallel_workers_per_gather = 0";

// A connection that heals itself: a lost connection is opened again before
// the next statement (waiting a bounded time for the database), a statement
// that changes nothing is sent again once when the connection broke under
// it, and a transaction that lost its connection fails to its end.
//
// A transaction is the caller's from BEGIN to COMMIT or ROLLBACK, whether
// or not its BEGIN went through: its statements never run outside it on a
// connection opened again meanwhile, where each would be kept on its own
// and the change end up half made.
class PgConnection final : public BackendConnection {
 public:
  PgConnection(PGconn* conn, PgLink& link) : m_conn(conn), m_link(link) {
    std::scoped_lock lock(m_link.mutex);
    m_generation = m_link.generation;
  }
  ~PgConnection() override { PQfinish(m_conn); }

  std::unique_ptr<BackendStatement> prepare(std::string_view sql) override {
    const std::string key(sql);
    if (!usable()) return nullptr;
    const Prepared* prepared = preparedFor(key);
    if (prepared == nullptr && !m_inTransaction && lost(nullptr) && reconnect()) prepared = preparedFor(key);
    if (prepared == nullptr) {
      if (lost(nullptr)) storage_fault::note();
      return nullptr;
    }
    return std::make_unique<PgStatement>(*this, key, prepared->parameters);
  }

  bool exec(std::string_view sql) override {
    const bool begins = startsWithWord(sql, "BEGIN");
    const bool commits = sql == "COMMIT";
    const bool ends = commits || sql == "ROLLBACK";
    if (m_inTransaction && (m_broken || !alive())) {
      // The transaction went with the connection (or never began): nothing
      // of it stays, and a commit says so.
      if (ends) m_inTransaction = m_broken = false;
      m_error = "the connection to the database was lost during the transaction";
      if (!ends) storage_fault::note();
      return !commits && ends;
    }
    if (!usable()) {
      if (begins) m_inTransaction = m_broken = true;
      return false;
    }
    const std::string text(sql);
    for (int attempt = 0;; ++attempt) {
      PGresult* r = PQexec(m_conn, text.c_str());
      const auto status = PQresultStatus(r);
      const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
      if (ok) {
        // A commit of a transaction that failed on the way is taken as a
        // rollback; the caller must not take it for a change made.
        const bool rolledBack = commits && std::string_view(PQcmdStatus(r)) == "ROLLBACK";
        m_changes = std::strtoll(PQcmdTuples(r), nullptr, 10);
        PQclear(r);
        if (begins) m_inTransaction = true;
        if (ends) m_inTransaction = false;
        if (rolledBack) m_error = "the transaction failed and was rolled back";
        return !rolledBack;
      }
      m_error = PQresultErrorMessage(r);
      const bool broke = lost(r);
      PQclear(r);
      if (ends) m_inTransaction = false;
      if (!broke) {
        // A BEGIN that failed leaves no transaction open, so every statement
        // until the caller's end of it has to fail here instead.
        if (begins) m_inTransaction = m_broken = true;
        return false;
      }
      if (m_inTransaction) m_broken = true;
      if (attempt > 0 || m_inTransaction || !changesNothing(sql) || !reconnect()) {
        if (begins) m_inTransaction = m_broken = true;
        storage_fault::note();
        return false;
      }
    }
  }

  int64_t changes() const override { return m_changes; }
  const std::string& error() const override { return m_error; }

  PGresult* run(const std::string& sql, const std::vector<std::optional<std::string>>& values,
                const std::vector<int>& binary) {
    std::vector<const char*> pointers(values.size());
    std::vector<int> lengths(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      pointers[i] = values[i] ? values[i]->data() : nullptr;
      lengths[i] = values[i] ? static_cast<int>(values[i]->size()) : 0;
    }
    for (int attempt = 0;; ++attempt) {
      if (m_inTransaction && m_broken) {
        m_error = "the connection to the database was lost during the transaction";
        storage_fault::note();
        return nullptr;
      }
      if (!usable()) return nullptr;
      const Prepared* prepared = preparedFor(sql);
      PGresult* r = nullptr;
      if (prepared != nullptr) {
        r = prepared->name.empty()
                ? PQexecParams(m_conn, prepared->text.c_str(), static_cast<int>(values.size()),
                               prepared->types.data(), pointers.data(), lengths.data(), binary.data(), 0)
                : PQexecPrepared(m_conn, prepared->name.c_str(), static_cast<int>(values.size()), pointers.data(),
                                 lengths.data(), binary.data(), 0);
        const auto status = PQresultStatus(r);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
          m_changes = std::strtoll(PQcmdTuples(r), nullptr, 10);
          return r;
        }
        m_error = PQresultErrorMessage(r);
      }
      const bool broke = lost(r);
      PQclear(r);
      if (!broke) return nullptr;
      if (m_inTransaction) m_broken = true;
      // A statement that changes nothing is safe to send again; a change may
      // or may not have reached the database, so it fails as it is.
      if (attempt > 0 || m_inTransaction || !changesNothing(sql) || !reconnect()) {
        storage_fault::note();
        return nullptr;
      }
    }
  }

  // Opens the connection again; false when the database is still away. The
  // first connection to miss it waits up to kReconnectWait and tells the
  // log; while it stays away one try is made per pause, whichever
  // connection comes first, and the others fail at once.
  bool reconnect() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(m_link.mutex);
    bool first = false;
    if (m_link.down) {
      if (Clock::now() < m_link.nextTry) {
        lock.unlock();
        m_error = "the database is unreachable: " + firstLine(PQerrorMessage(m_conn));
        return false;
      }
    } else if (m_generation == m_link.generation) {
      first = true;
      markDown();
    }
    // Otherwise this connection broke in a loss that was told and is over.
    lock.unlock();
    if (first) {
      m_link.tell(true, "database connection lost (" + firstLine(PQerrorMessage(m_conn)) + "); reconnecting");
    }
    const auto deadline = Clock::now() + (first ? Clock::duration(m_link.reconnectWait) : Clock::duration::zero());
    for (;;) {
      if (reset()) {
        lock.lock();
        m_generation = m_link.generation;
        const bool report = m_link.down;
        m_link.down = false;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_link.lostAt);
        lock.unlock();
        if (report) m_link.tell(false, "database connection restored after " + std::to_string(took.count()) + " ms");
        return true;
      }
      if (Clock::now() + kReconnectPause > deadline) break;
      std::this_thread::sleep_for(kReconnectPause);
    }
    m_error = "the database is unreachable: " + firstLine(PQerrorMessage(m_conn));
    lock.lock();
    const bool news = !m_link.down;  // it was back, and is gone again
    if (news) markDown();
    m_link.nextTry = Clock::now() + m_link.pause;
    m_link.pause = std::min<std::chrono::milliseconds>(m_link.pause * 2, kLongestPause);
    lock.unlock();
    if (news) {
      m_link.tell(true, "database connection lost (" + firstLine(PQerrorMessage(m_conn)) + ")");
    } else if (first) {
      m_link.tell(true, "database still unreachable after " + std::to_string(kReconnectWait.count()) + " s (" +
                            firstLine(PQerrorMessage(m_conn)) +
                            "); requests are answered with a server error until it is back");
    }
    return false;
  }

 private:
  // A statement prepared once, or (planned) sent whole each time.
  struct Prepared {
    std::string name;  // empty: sent with its text each time
    int parameters = 0;
    std::string text;
    std::vector<unsigned> types;
  };

  // Under m_link.mutex: a new loss begins.
  void markDown() {
    m_link.down = true;
    ++m_link.generation;
    m_link.lostAt = std::chrono::steady_clock::now();
    m_link.nextTry = m_link.lostAt;
    m_link.pause = kReconnectPause;
  }

  // A fresh connection with the session settings; what was prepared on the
  // old one is gone with it.
  bool reset() {
    m_prepared.clear();
    m_inTransaction = m_broken = false;
    PQreset(m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK) return false;
    PGresult* r = PQexec(m_conn, kSessionSettings);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    return ok;
  }

  static std::string firstLine(const char* text) {
    std::string line = text == nullptr ? "" : text;
    line = line.substr(0, line.find('\n'));
    return line.empty() ? "no connection" : line;
  }

  // Reads what the server may have sent meanwhile (the notice of a shutdown,
  // the end of the connection) so that a dead connection is known before a
  // statement is sent on it.
  bool alive() {
    if (PQstatus(m_conn) != CONNECTION_OK) return false;
    PQconsumeInput(m_conn);
    return PQstatus(m_conn) == CONNECTION_OK;
  }

  // Ready for a statement: alive, or opened again outside a transaction.
  bool usable() {
    if (alive()) return true;
    if (m_inTransaction) {
      m_error = "the connection to the database was lost during the transaction";
    } else if (reconnect()) {
      return true;
    }
    storage_fault::note();
    return false;
  }

  // True when a failure came from the connection rather than the statement:
  // the connection is gone, or the server ended it (a shutdown or restart).
  bool lost(const PGresult* r) {
    if (PQstatus(m_conn) != CONNECTION_OK) return true;
    const char* state = r != nullptr ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    if (state == nullptr) return false;
    const std::string_view code(state);
    return code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0;
  }

  const Prepared* preparedFor(const std::string& key) {
    auto it = m_prepared.find(key);
    if (it != m_prepared.end()) return &it->second;
    int count = 0;
    const std::string text = postgresParameters(key, &count);
    // A parameter the text never names still needs a type.
    std::vector<unsigned> types(static_cast<size_t>(count), kTextType);
    for (int i = 1; i <= count; ++i) {
      if (text.find("$" + std::to_string(i)) != std::string::npos) types[static_cast<size_t>(i - 1)] = 0;
    }
    if (plannedEachTime(key)) return &m_prepared.emplace(key, Prepared{{}, count, text, types}).first->second;
    const std::string name = "s" + std::to_string(++m_preparedCount);
    PGresult* r = PQprepare(m_conn, name.c_str(), text.c_str(), count, types.data());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok) m_error = PQresultErrorMessage(r);
    PQclear(r);
    if (!ok) return nullptr;
    return &m_prepared.emplace(key, Prepared{name, count, {}, {}}).first->second;
  }

  // A statement over the files is planned for its own values each time: a
  // search for a common word is best answered walking the newest files, one
  // for a rare word through the word index, and a large group's listing
  // differs from a small one's, while a plan made once for any value would
  // walk a million files for the rare word. Sent whole, it is planned with
  // its values. Every other statement is prepared once, and PostgreSQL keeps
  // its plan once the plan does not depend on the values (a lookup by key):
  // planning took more of a login than running its statements.
  static bool plannedEachTime(std::string_view sql) {
    const auto inName = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; };
    for (size_t at = sql.find("files"); at != std::string_view::npos; at = sql.find("files", at + 1)) {
      const size_t end = at + 5;
      if ((at == 0 || !inName(sql[at - 1])) && (end == sql.size() || !inName(sql[end]))) return true;
    }
    return false;
  }

  PGconn* m_conn;
  PgLink& m_link;
  std::unordered_map<std::string, Prepared> m_prepared;
  int m_preparedCount = 0;
  bool m_inTransaction = false;
  bool m_broken = false;  // the transaction cannot complete: its BEGIN failed or its connection was lost
  uint64_t m_generation = 0;  // the link's loss this connection was opened after
  int64_t m_changes = 0;
  std::string m_error;
};

BackendStatement::Step PgStatement::step() {
  if (m_result == nullptr) {
    m_result = m_connection.run(m_sql, m_values, m_binary);
    if (m_result == nullptr) return Step::kError;
    m_row = -1;
  }
  ++m_row;
  return m_row < PQntuples(m_result) ? Step::kRow : Step::kDone;
}

class PostgresBackend final : public StorageBackend {
 public:
  PostgresBackend(std::string conninfo, std::chrono::milliseconds reconnectWait) {
    m_link.conninfo = std::move(conninfo);
    m_link.reconnectWait = reconnectWait;
  }

  Dialect dialect() const override { return Dialect::kPostgres; }

  std::unique_ptr<BackendConnection> openWriter(std::string& error) override { return connect(&error); }
  // A reader that cannot connect now (the database restarting) is still
  // handed out: it connects when it is used, and a pool without readers
  // would send every read through the writer for good.
  std::unique_ptr<BackendConnection> openReader() override {
    if (auto reader = connect(nullptr)) return reader;
    return std::make_unique<PgConnection>(openConnection(m_link.conninfo), m_link);
  }

  int schemaVersion(BackendConnection& writer) override {
    if (!writer.exec("CREATE TABLE IF NOT EXISTS schema_version (version BIGINT NOT NULL)")) return -1;
    auto st = writer.prepare("SELECT COALESCE(MAX(version), 0) FROM schema_version");
    return st && st->step() == BackendStatement::Step::kRow ? static_cast<int>(st->integer(0)) : -1;
  }

  bool migrateStep(BackendConnection& writer, int from, std::string& error) override {
    // The lock keeps a second server process that starts at the same moment
    // from running the same step; it then finds the step done.
    std::string sql = "BEGIN; LOCK TABLE schema_version IN EXCLUSIVE MODE;";
    if (!writer.exec(sql)) {
      error = writer.error();
      writer.exec("ROLLBACK");
      return false;
    }
    auto current = writer.prepare("SELECT COALESCE(MAX(version), 0) FROM schema_version");
    if (current && current->step() == BackendStatement::Step::kRow && current->integer(0) > from) {
      current.reset();
      return writer.exec("COMMIT");
    }
    current.reset();
    sql = std::string(kMigrations[static_cast<size_t>(from)]);
    sql += "DELETE FROM schema_version; INSERT INTO schema_version VALUES (" + std::to_string(from + 1) + ");";
    if (!writer.exec(sql) || !writer.exec("COMMIT")) {
      error = writer.error();
      writer.exec("ROLLBACK");
      return false;
    }
    return true;
  }

  // Each is a server process on the database's machine: a few serve the
  // request threads, and several server processes fit under its limit.
  size_t maxReaders() const override { return 8; }
  std::string_view beginWrite() const override { return "BEGIN"; }
  void setReport(StorageReport report) override { m_link.report = std::move(report); }

 private:
  std::unique_ptr<PgConnection> connect(std::string* error) {
    PGconn* conn = openConnection(m_link.conninfo);
    if (PQstatus(conn) != CONNECTION_OK) {
      if (error != nullptr) *error = PQerrorMessage(conn);
      PQfinish(conn);
      return nullptr;
    }
    auto connection = std::make_unique<PgConnection>(conn, m_link);
    if (!connection->exec(kSessionSettings)) {
      if (error != nullptr) *error = connection->error();
      return nullptr;
    }
    return connection;
  }

  PgLink m_link;
};

}  // namespace

std::string postgresParameters(std::string_view sql, int* count) {
  std::string out;
  out.reserve(sql.size() + 16);
  int next = 0;
  int highest = 0;
  char quote = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote != 0) {
      out += c;
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      out += c;
      continue;
    }
    if (c != '?') {
      out += c;
      continue;
    }
    size_t j = i + 1;
    int number = 0;
    while (j < sql.size() && sql[j] >= '0' && sql[j] <= '9') number = number * 10 + (sql[j++] - '0');
    if (j == i + 1) number = ++next;
    highest = std::max(highest, number);
    out += '$' + std::to_string(number);
    i = j - 1;
  }
  if (count != nullptr) *count = highest;
  return out;
}

std::unique_ptr<StorageBackend> makePostgresBackend(const std::string& conninfo) {
  return std::make_unique<PostgresBackend>(conninfo, kReconnectWait);
}

std::unique_ptr<StorageBackend> makePostgresReplicaBackend(const std::string& conninfo) {
  return std::make_unique<PostgresBackend>(conninfo, std::chrono::milliseconds(0));
}

}  // namespace vantrel::server
