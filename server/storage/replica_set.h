// SPDX-License-Identifier: MIT
#pragma once
// ReplicaSet: the PostgreSQL hot standbys (--db-replica) that take reads off
// the primary. A watcher thread looks at each replica once a checkEvery: is
// it reachable, still a standby, and has it replayed everything the primary
// had written maxLag ago? Only a replica that passed its last look gets
// reads; one that is down, lags or was promoted is skipped until it passes
// again, and its reads go to the primary.
//
// A replica that goes away between two looks fails under a read: the
// connection borrow() hands out then runs that read, and every later one of
// the same borrower, on a primary connection instead, so the caller never
// sees the replica fail.
//
// Which reads may go to a replica at all is the caller's choice: see
// ReplicaReadScope in database.h.
//
// Threads: every method is thread-safe. The connections handed out belong
// to one thread at a time, like every connection.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/storage/storage_backend.h"

namespace vantrel::server {

class ReplicaSet {
 public:
  struct Timing {
    std::chrono::milliseconds checkEvery{1000};
    // A replica further behind the primary than this is skipped.
    std::chrono::milliseconds maxLag{2000};
  };
  // Where a replica's reads go when it fails under them: a primary reader
  // is borrowed from, and given back to, the owner's pool.
  using BorrowPrimary = std::function<std::unique_ptr<BackendConnection>()>;
  using ReturnPrimary = std::function<void(std::unique_ptr<BackendConnection>)>;

  // `primary` and `replicas` are libpq connection strings. Replica changes
  // (in use, skipped and why) go to `report`.
  ReplicaSet(std::string primary, std::vector<std::string> replicas, StorageReport report, Timing timing);
  ~ReplicaSet();
  ReplicaSet(const ReplicaSet&) = delete;
  ReplicaSet& operator=(const ReplicaSet&) = delete;

  // A connection to a replica that passed its last look, taking turns among
  // them; null when none did (read from the primary then).
  std::unique_ptr<BackendConnection> borrow(BorrowPrimary borrowPrimary, ReturnPrimary returnPrimary);

  // For how long after a client's own change its reads must stay on the
  // primary: a replica in use may miss changes this young.
  std::chrono::milliseconds ownChangeWindow() const;
  // Reads answered by a replica so far (for the log and the tests).
  uint64_t replicaReads() const { return m_replicaReads.load(); }
  // True when at least one replica passed its last look.
  bool anyInUse() const;

 private:
  struct Replica;
  friend class ReplicaConnection;
  void watch(std::stop_token stop);
  void giveBack(size_t index, std::unique_ptr<BackendConnection> connection);
  void markFailed(size_t index);
  void countRead() { ++m_replicaReads; }

  const std::string m_primary;
  const StorageReport m_report;
  const Timing m_timing;
  std::vector<std::unique_ptr<Replica>> m_replicas;
  std::atomic<size_t> m_turn{0};
  std::atomic<uint64_t> m_replicaReads{0};
  std::mutex m_wakeMutex;
  std::condition_variable_any m_wake;
  std::jthread m_watcher;  // last: joined before the replicas go
};

}  // namespace vantrel::server
