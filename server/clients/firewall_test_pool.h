// SPDX-License-Identifier: MIT
#pragma once
// FirewallTestPool: the clients' firewall tests (connect back to the client's
// ports) run here, on a few threads of their own, so that the listener's
// request workers never wait on a probe. Each client address may have one
// test running at a time and start at most kPerMinute in a minute; a test
// beyond that, or beyond what the queue holds, is refused at once.
//
// Threads: admit() and run() from any thread; jobs run on the pool's threads.
// stop() (or the destructor) drops queued jobs and waits for running ones.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vantrel::server {

class FirewallTestPool {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kThreads = 4;
  static constexpr size_t kMaxQueued = 64;
  static constexpr int kPerMinute = 4;
  static constexpr size_t kMaxAddresses = 10000;

  explicit FirewallTestPool(std::function<Clock::time_point()> now = Clock::now);
  ~FirewallTestPool();
  FirewallTestPool(const FirewallTestPool&) = delete;
  FirewallTestPool& operator=(const FirewallTestPool&) = delete;

  // Reserves a test for the address: false when the address has one running,
  // has started kPerMinute in the last minute, or the pool is full. An
  // admitted test must be passed to run().
  bool admit(const std::string& address);
  // Queues the admitted test's job; the address is free again when it ends.
  void run(const std::string& address, std::function<void()> job);
  void stop();

 private:
  struct Entry {
    bool running = false;
    std::deque<Clock::time_point> starts;  // within the last minute
  };
  struct Job {
    std::string address;
    std::function<void()> work;
  };
  void worker(std::stop_token stop);
  void forgetOld(Clock::time_point now);  // under m_mutex

  std::function<Clock::time_point()> m_now;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::unordered_map<std::string, Entry> m_addresses;  // guarded by m_mutex
  std::deque<Job> m_queue;                             // guarded by m_mutex
  size_t m_pending = 0;  // admitted and not yet finished; guarded by m_mutex
  bool m_stopping = false;                             // guarded by m_mutex
  std::vector<std::jthread> m_threads;
};

}  // namespace vantrel::server
