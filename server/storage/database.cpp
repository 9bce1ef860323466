// SPDX-License-Identifier: MIT
#include "server/storage/database.h"

#include "server/storage/backend_factory.h"
#include "server/storage/replica_set.h"

namespace vantrel::server {

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

Statement::Statement(Database& db, std::string_view sql) : m_stmt(db.writer().prepare(sql)), m_ok(m_stmt != nullptr) {}

Statement::Statement(const ReadConnection& connection, std::string_view sql)
    : m_stmt(connection.connection().prepare(sql)), m_ok(m_stmt != nullptr) {}

Statement::~Statement() = default;

Statement& Statement::bind(int index, int64_t value) {
  if (m_stmt) m_stmt->bind(index, value);
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  if (m_stmt) m_stmt->bindText(index, text);
  return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
  if (m_stmt) m_stmt->bindBlob(index, bytes);
  return *this;
}

Statement& Statement::bindNull(int index) {
  if (m_stmt) m_stmt->bindNull(index);
  return *this;
}

bool Statement::step() {
  if (!m_stmt) return false;
  const auto rc = m_stmt->step();
  if (rc == BackendStatement::Step::kRow) return true;
  if (rc == BackendStatement::Step::kError) m_ok = false;
  return false;
}

bool Statement::run() {
  if (!m_stmt) return false;
  const auto rc = m_stmt->step();
  m_stmt->rewind();
  if (rc == BackendStatement::Step::kError) m_ok = false;
  return m_ok;
}

int64_t Statement::runReturningId() {
  if (!m_stmt) return 0;
  const auto rc = m_stmt->step();
  const int64_t id = rc == BackendStatement::Step::kRow ? m_stmt->integer(0) : 0;
  m_stmt->rewind();
  if (rc == BackendStatement::Step::kError) m_ok = false;
  return id;
}

void Statement::reset() {
  if (m_stmt) m_stmt->clear();
}

int64_t Statement::integer(int column) const { return m_stmt->integer(column); }

std::string Statement::text(int column) const { return m_stmt->text(column); }

bool Statement::isNull(int column) const { return m_stmt->isNull(column); }

Database::Database() = default;

Database::~Database() {
  m_replicas.reset();
  m_idleReaders.clear();
  m_writer.reset();
}

std::unique_ptr<BackendConnection> Database::borrowReader() {
  if (!m_parallelReads) return nullptr;
  std::unique_lock lock(m_readerMutex);
  if (!m_readersPossible) return nullptr;
  m_readerFree.wait(lock, [&] { return !m_idleReaders.empty() || m_openReaders < m_backend->maxReaders(); });
  if (!m_idleReaders.empty()) {
    auto reader = std::move(m_idleReaders.back());
    m_idleReaders.pop_back();
    return reader;
  }
  ++m_openReaders;
  lock.unlock();
  auto reader = m_backend->openReader();
  if (!reader) {
    lock.lock();
    --m_openReaders;
    // A backend that cannot open one now (a database in memory) never will.
    if (m_openReaders == 0 && m_idleReaders.empty()) m_readersPossible = false;
    m_readerFree.notify_one();
  }
  return reader;
}

void Database::returnReader(std::unique_ptr<BackendConnection> reader) {
  std::scoped_lock lock(m_readerMutex);
  m_idleReaders.push_back(std::move(reader));
  m_readerFree.notify_one();
}

void Database::addReplicas(const std::string& primary, std::vector<std::string> replicas, int checkEveryMs,
                           int maxLagMs) {
  if (replicas.empty()) return;
  ReplicaSet::Timing timing;
  timing.checkEvery = std::chrono::milliseconds(checkEveryMs);
  timing.maxLag = std::chrono::milliseconds(maxLagMs);
  m_replicas = std::make_unique<ReplicaSet>(primary, std::move(replicas), m_report, timing);
}

namespace {
thread_local bool t_replicaReads = false;
}  // namespace

ReplicaReadScope::ReplicaReadScope(bool allowed) : m_previous(t_replicaReads) { t_replicaReads = allowed; }

ReplicaReadScope::~ReplicaReadScope() { t_replicaReads = m_previous; }

namespace {
// The reader this thread borrowed last, so that a read inside another read
// uses the same connection instead of taking a second one from the pool.
thread_local const ReadConnection* t_activeReader = nullptr;
thread_local const Database* t_activeDatabase = nullptr;
}  // namespace

ReadConnection::ReadConnection(Database& db) : m_db(db) {
  if (t_activeReader != nullptr && t_activeDatabase == &db && !db.mutex().heldByThisThread()) {
    m_connection = &t_activeReader->connection();
    m_nested = true;
    return;
  }
  if (t_replicaReads && db.m_replicas && !db.mutex().heldByThisThread()) {
    m_borrowed = db.m_replicas->borrow([&db] { return db.borrowReader(); },
                                       [&db](std::unique_ptr<BackendConnection> c) { db.returnReader(std::move(c)); });
    m_fromReplica = m_borrowed != nullptr;
  }
  if (!m_borrowed && !db.mutex().heldByThisThread()) m_borrowed = db.borrowReader();
  if (!m_borrowed) {
    db.mutex().lock();
    m_connection = &db.writer();
    return;
  }
  m_connection = m_borrowed.get();
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
    if (m_fromReplica) {
      m_borrowed.reset();
    } else {
      m_db.returnReader(std::move(m_borrowed));
    }
  } else {
    m_db.mutex().unlock();
  }
}

bool Database::open(const std::string& target) {
  std::scoped_lock lock(m_mutex);
  m_backend = makeBackend(target);
  if (m_report) m_backend->setReport(m_report);
  m_dialect = m_backend->dialect();
  m_writer = m_backend->openWriter(m_error);
  if (!m_writer) return false;
  return migrate();
}

bool Database::exec(std::string_view sql) {
  std::scoped_lock lock(m_mutex);
  if (!m_writer->exec(sql)) {
    m_error = m_writer->error();
    return false;
  }
  return true;
}

int64_t Database::changes() const { return m_writer->changes(); }

int Database::schemaVersion() {
  std::scoped_lock lock(m_mutex);
  return m_backend->schemaVersion(*m_writer);
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
    std::string why;
    if (!m_backend->migrateStep(*m_writer, v, why)) {
      m_error = "schema step " + std::to_string(v + 1) + ": " + why;
      return false;
    }
  }
  return true;
}

Transaction::Transaction(Database& db) : m_lock(db.mutex()), m_db(db) { m_db.exec(m_db.beginWrite()); }

Transaction::~Transaction() {
  if (!m_done) m_db.exec("ROLLBACK");
}

bool Transaction::commit() {
  m_done = true;
  return m_db.exec("COMMIT");
}

}  // namespace vantrel::server
