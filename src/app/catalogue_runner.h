// SPDX-License-Identifier: MIT
#pragma once
// CatalogueRunner: does the catalogue's network work off the UI thread. A job
// runs on one of the runner's worker threads and returns the closure that
// hands its result back; the poster moves that closure to the front end's UI
// thread. Jobs still queued when the runner is destroyed are dropped; running
// ones are joined, so whatever a job uses must outlive the runner.
//
// ViewGuard is how a view ignores a late answer: a request takes a stamp, and
// the answer is used only while the stamp is still current. Leaving the view,
// or a newer request of the same kind, makes older stamps stale; so does the
// view's end, since the answer only holds a weak reference to the guard.
//
// run() may be called from any thread; ViewGuard is for one thread (the UI's).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrel {

class CatalogueRunner {
 public:
  using Delivery = std::function<void()>;
  using Job = std::function<Delivery()>;
  using Poster = std::function<void(Delivery)>;

  static constexpr int kDefaultWorkers = 2;

  explicit CatalogueRunner(Poster post, int workers = kDefaultWorkers);
  ~CatalogueRunner();
  CatalogueRunner(const CatalogueRunner&) = delete;
  CatalogueRunner& operator=(const CatalogueRunner&) = delete;

  // Queues `job`; its delivery (when not empty) goes to the poster.
  void run(Job job);
  // Jobs queued or running.
  int pending() const;

 private:
  void loop(std::stop_token stop);

  const Poster m_post;
  mutable std::mutex m_mutex;
  std::condition_variable_any m_wake;
  std::deque<Job> m_jobs;  // guarded by m_mutex
  int m_running = 0;       // guarded by m_mutex
  std::vector<std::jthread> m_workers;  // declared last: joined before the queue goes
};

class ViewGuard {
 public:
  struct Stamp {
    std::weak_ptr<const uint64_t> guard;
    uint64_t value = 0;
  };

  ViewGuard() : m_counter(std::make_shared<uint64_t>(0)) {}
  // A new request: older stamps become stale.
  Stamp stamp() { return {m_counter, ++*m_counter}; }
  // The stamp of what runs now, without making others stale.
  Stamp current() const { return {m_counter, *m_counter}; }
  // The view was left: every answer on its way is late.
  void leave() { ++*m_counter; }
  static bool fresh(const Stamp& stamp) {
    const auto counter = stamp.guard.lock();
    return counter && *counter == stamp.value;
  }

 private:
  std::shared_ptr<uint64_t> m_counter;
};

}  // namespace vantrel
