// SPDX-License-Identifier: MIT
#include "server/storage/replica_set.h"

#include <libpq-fe.h>

#include <array>
#include <cstdlib>
#include <deque>
#include <utility>

#include "server/storage/postgres_backend.h"

namespace vantrel::server {

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// Reader connections per replica, as for the primary.
constexpr size_t kMostPerReplica = 8;

struct PgConnCloser {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
using WatchConn = std::unique_ptr<PGconn, PgConnCloser>;

// The watcher's own connection: short time-outs, since a look that hangs
// delays the looks at every other replica.
WatchConn openWatch(const std::string& conninfo) {
  const std::array<const char*, 3> keywords = {"connect_timeout", "dbname", nullptr};
  const std::array<const char*, 3> values = {"2", conninfo.c_str(), nullptr};
  return WatchConn(PQconnectdbParams(keywords.data(), values.data(), 1));
}

// The first row of a query as texts; empty when the query failed (the
// connection is then closed and opened again next time).
std::vector<std::string> firstRow(WatchConn& conn, const std::string& conninfo, const char* sql) {
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK) conn = openWatch(conninfo);
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    conn.reset();
    return {};
  }
  PGresult* r = PQexec(conn.get(), sql);
  std::vector<std::string> row;
  if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1) {
    for (int c = 0; c < PQnfields(r); ++c) row.emplace_back(PQgetvalue(r, 0, c));
  } else {
    conn.reset();
  }
  PQclear(r);
  return row;
}

// Positions in the write-ahead log as byte counts from its start.
constexpr const char* kPrimaryPosition = "SELECT pg_wal_lsn_diff(pg_current_wal_lsn(), '0/0')::bigint";
constexpr const char* kReplicaPosition =
    "SELECT pg_is_in_recovery(), COALESCE(pg_wal_lsn_diff(pg_last_wal_replay_lsn(), '0/0')::bigint, -1)";

}  // namespace

struct ReplicaSet::Replica {
  std::string conninfo;
  std::unique_ptr<StorageBackend> backend;
  // Reads may go here until this steady-clock millisecond.
  std::atomic<int64_t> usableUntil{0};
  std::atomic<bool> failedUnderRead{false};
  std::mutex mutex;
  std::vector<std::unique_ptr<BackendConnection>> idle;  // guarded by mutex
  size_t open = 0;                                       // guarded by mutex
  // The watcher's alone.
  WatchConn watch;
  std::string told;
};

// A replica's connection that moves to the primary when the replica fails
// under a read. The reads of one borrower go to one place after that: a
// replica that failed once is not asked again before the watcher passes it.
class ReplicaConnection final : public BackendConnection {
 public:
  ReplicaConnection(ReplicaSet& set, size_t index, std::unique_ptr<BackendConnection> replica,
                    ReplicaSet::BorrowPrimary borrowPrimary, ReplicaSet::ReturnPrimary returnPrimary)
      : m_set(set), m_index(index), m_replica(std::move(replica)), m_borrowPrimary(std::move(borrowPrimary)),
        m_returnPrimary(std::move(returnPrimary)) {}
  ~ReplicaConnection() override {
    if (m_primary) m_returnPrimary(std::move(m_primary));
    // One that failed may be broken; the pool opens a new one when needed.
    if (!m_failed) m_set.giveBack(m_index, std::move(m_replica));
  }

  std::unique_ptr<BackendStatement> prepare(std::string_view sql) override;
  bool exec(std::string_view sql) override { return current().exec(sql); }
  int64_t changes() const override { return m_failed && m_primary ? m_primary->changes() : m_replica->changes(); }
  const std::string& error() const override { return m_failed && m_primary ? m_primary->error() : m_replica->error(); }

  bool onReplica() const { return !m_failed; }
  void countRead() { m_set.countRead(); }
  // The primary connection from now on; null when none could be had.
  BackendConnection* failOver() {
    if (!m_failed) {
      m_failed = true;
      m_set.markFailed(m_index);
      m_primary = m_borrowPrimary();
    }
    return m_primary.get();
  }

 private:
  BackendConnection& current() {
    if (m_failed && m_primary) return *m_primary;
    return *m_replica;
  }

  ReplicaSet& m_set;
  size_t m_index;
  std::unique_ptr<BackendConnection> m_replica;
  ReplicaSet::BorrowPrimary m_borrowPrimary;
  ReplicaSet::ReturnPrimary m_returnPrimary;
  std::unique_ptr<BackendConnection> m_primary;
  bool m_failed = false;
};

namespace {

// A statement on a replica that runs again on the primary when the replica
// fails before its first row: PostgreSQL hands over a statement's rows
// whole, so a statement that gave one row has all of them.
class ReplicaStatement final : public BackendStatement {
 public:
  ReplicaStatement(ReplicaConnection& owner, std::string sql, std::unique_ptr<BackendStatement> inner)
      : m_owner(owner), m_sql(std::move(sql)), m_inner(std::move(inner)) {}

  void bind(int index, int64_t value) override {
    m_bound.push_back({index, Kind::kInteger, value, {}});
    m_inner->bind(index, value);
  }
  void bindText(int index, std::string_view text) override {
    m_bound.push_back({index, Kind::kText, 0, std::string(text)});
    m_inner->bindText(index, text);
  }
  void bindBlob(int index, std::string_view bytes) override {
    m_bound.push_back({index, Kind::kBlob, 0, std::string(bytes)});
    m_inner->bindBlob(index, bytes);
  }
  void bindNull(int index) override {
    m_bound.push_back({index, Kind::kNull, 0, {}});
    m_inner->bindNull(index);
  }

  Step step() override {
    if (m_onReplica && !m_started) {
      // The replica's failure is not the request's: the read goes on.
      const bool faultBefore = storage_fault::noted();
      const Step r = m_inner->step();
      if (r != Step::kError) {
        m_started = true;
        m_owner.countRead();
        return r;
      }
      if (!faultBefore) storage_fault::clear();
      if (!moveToPrimary()) return Step::kError;
    }
    m_started = true;
    return m_inner->step();
  }
  void rewind() override {
    m_inner->rewind();
    m_started = false;
  }
  void clear() override {
    m_inner->clear();
    m_bound.clear();
    m_started = false;
  }
  int64_t integer(int column) const override { return m_inner->integer(column); }
  std::string text(int column) const override { return m_inner->text(column); }
  bool isNull(int column) const override { return m_inner->isNull(column); }

 private:
  enum class Kind { kInteger, kText, kBlob, kNull };
  struct Bound {
    int index;
    Kind kind;
    int64_t integer;
    std::string bytes;
  };

  bool moveToPrimary() {
    m_onReplica = false;
    BackendConnection* primary = m_owner.failOver();
    auto moved = primary != nullptr ? primary->prepare(m_sql) : nullptr;
    if (!moved) {
      storage_fault::note();
      return false;
    }
    m_inner = std::move(moved);
    for (const Bound& b : m_bound) {
      switch (b.kind) {
        case Kind::kInteger: m_inner->bind(b.index, b.integer); break;
        case Kind::kText: m_inner->bindText(b.index, b.bytes); break;
        case Kind::kBlob: m_inner->bindBlob(b.index, b.bytes); break;
        case Kind::kNull: m_inner->bindNull(b.index); break;
      }
    }
    return true;
  }

  ReplicaConnection& m_owner;
  std::string m_sql;
  std::unique_ptr<BackendStatement> m_inner;
  std::vector<Bound> m_bound;
  bool m_onReplica = true;
  bool m_started = false;
};

}  // namespace

std::unique_ptr<BackendStatement> ReplicaConnection::prepare(std::string_view sql) {
  if (!m_failed) {
    const bool faultBefore = storage_fault::noted();
    if (auto inner = m_replica->prepare(sql)) return std::make_unique<ReplicaStatement>(*this, std::string(sql), std::move(inner));
    if (!faultBefore) storage_fault::clear();
  }
  BackendConnection* primary = failOver();
  if (primary == nullptr) {
    storage_fault::note();
    return nullptr;
  }
  return primary->prepare(sql);
}

ReplicaSet::ReplicaSet(std::string primary, std::vector<std::string> replicas, StorageReport report, Timing timing)
    : m_primary(std::move(primary)), m_report(std::move(report)), m_timing(timing) {
  for (auto& conninfo : replicas) {
    auto r = std::make_unique<Replica>();
    r->backend = makePostgresReplicaBackend(conninfo);
    r->conninfo = std::move(conninfo);
    m_replicas.push_back(std::move(r));
  }
  m_watcher = std::jthread([this](std::stop_token st) { watch(st); });
}

ReplicaSet::~ReplicaSet() {
  m_watcher.request_stop();
  m_wake.notify_all();
}

std::chrono::milliseconds ReplicaSet::ownChangeWindow() const {
  // A replica in use had everything older than maxLag at a look at most two
  // checks old; one check more for the look itself.
  return m_timing.maxLag + 3 * m_timing.checkEvery;
}

bool ReplicaSet::anyInUse() const {
  const int64_t now = nowMs();
  for (const auto& r : m_replicas) {
    if (r->usableUntil.load() > now) return true;
  }
  return false;
}

std::unique_ptr<BackendConnection> ReplicaSet::borrow(BorrowPrimary borrowPrimary, ReturnPrimary returnPrimary) {
  const int64_t now = nowMs();
  const size_t count = m_replicas.size();
  const size_t first = m_turn.fetch_add(1);
  for (size_t k = 0; k < count; ++k) {
    const size_t index = (first + k) % count;
    Replica& r = *m_replicas[index];
    if (r.usableUntil.load() <= now) continue;
    std::unique_ptr<BackendConnection> connection;
    {
      std::scoped_lock lock(r.mutex);
      if (!r.idle.empty()) {
        connection = std::move(r.idle.back());
        r.idle.pop_back();
      } else if (r.open >= kMostPerReplica) {
        continue;
      } else {
        ++r.open;
      }
    }
    if (!connection) connection = r.backend->openReader();
    if (!connection) {
      std::scoped_lock lock(r.mutex);
      --r.open;
      continue;
    }
    return std::make_unique<ReplicaConnection>(*this, index, std::move(connection), std::move(borrowPrimary),
                                               std::move(returnPrimary));
  }
  return nullptr;
}

void ReplicaSet::giveBack(size_t index, std::unique_ptr<BackendConnection> connection) {
  Replica& r = *m_replicas[index];
  std::scoped_lock lock(r.mutex);
  r.idle.push_back(std::move(connection));
}

void ReplicaSet::markFailed(size_t index) {
  Replica& r = *m_replicas[index];
  r.usableUntil = 0;
  r.failedUnderRead = true;
  std::scoped_lock lock(r.mutex);
  --r.open;
  // The others opened to it are most likely broken too.
  r.open -= r.idle.size();
  r.idle.clear();
}

void ReplicaSet::watch(std::stop_token stop) {
  // The primary's log positions of the last moments: a replica is close
  // enough when it has replayed what the primary had written maxLag ago.
  struct Sample {
    Clock::time_point at;
    int64_t position;
  };
  std::deque<Sample> samples;
  WatchConn primary;
  while (!stop.stop_requested()) {
    const auto now = Clock::now();
    const auto row = firstRow(primary, m_primary, kPrimaryPosition);
    if (row.size() == 1) {
      samples.push_back({now, std::strtoll(row[0].c_str(), nullptr, 10)});
    } else {
      samples.clear();
    }
    while (samples.size() > 1 && samples[1].at <= now - m_timing.maxLag) samples.pop_front();
    for (size_t i = 0; i < m_replicas.size(); ++i) {
      Replica& r = *m_replicas[i];
      std::string state;
      const auto seen = firstRow(r.watch, r.conninfo, kReplicaPosition);
      if (samples.empty()) {
        state = "skipped: the primary cannot be reached to measure its lag";
      } else if (seen.size() != 2) {
        state = "skipped: unreachable";
      } else if (seen[0] != "t") {
        state = "skipped: it is no standby (promoted?)";
      } else if (std::strtoll(seen[1].c_str(), nullptr, 10) < samples.front().position) {
        state = "skipped: more than " + std::to_string(m_timing.maxLag.count()) + " ms behind the primary";
      } else {
        state = "in use";
      }
      const bool usable = state == "in use";
      const bool failed = r.failedUnderRead.exchange(false);
      r.usableUntil = usable ? nowMs() + 2 * m_timing.checkEvery.count() : 0;
      if (failed && r.told == "in use") r.told = "failed under a read";
      if (state != r.told && m_report) {
        m_report(!usable, "read replica " + std::to_string(i + 1) + " " + state);
      }
      r.told = state;
    }
    std::unique_lock lock(m_wakeMutex);
    m_wake.wait_for(lock, stop, m_timing.checkEvery, [] { return false; });
  }
}

}  // namespace vantrel::server
