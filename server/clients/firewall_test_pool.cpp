// SPDX-License-Identifier: MIT
#include "server/clients/firewall_test_pool.h"

namespace vantrel::server {

namespace {
constexpr auto kWindow = std::chrono::minutes(1);
}  // namespace

FirewallTestPool::FirewallTestPool(std::function<Clock::time_point()> now) : m_now(std::move(now)) {
  for (int i = 0; i < kThreads; ++i) {
    m_threads.emplace_back([this](std::stop_token st) { worker(st); });
  }
}

FirewallTestPool::~FirewallTestPool() { stop(); }

void FirewallTestPool::forgetOld(Clock::time_point now) {
  for (auto it = m_addresses.begin(); it != m_addresses.end();) {
    auto& starts = it->second.starts;
    while (!starts.empty() && now - starts.front() >= kWindow) starts.pop_front();
    if (!it->second.running && starts.empty()) {
      it = m_addresses.erase(it);
    } else {
      ++it;
    }
  }
}

bool FirewallTestPool::admit(const std::string& address) {
  const auto now = m_now();
  std::scoped_lock lock(m_mutex);
  if (m_stopping || m_pending >= kMaxQueued + kThreads) return false;
  if (m_addresses.size() >= kMaxAddresses) forgetOld(now);
  auto found = m_addresses.find(address);
  if (found == m_addresses.end()) {
    if (m_addresses.size() >= kMaxAddresses) return false;
    found = m_addresses.emplace(address, Entry{}).first;
  }
  Entry& entry = found->second;
  while (!entry.starts.empty() && now - entry.starts.front() >= kWindow) entry.starts.pop_front();
  if (entry.running || entry.starts.size() >= static_cast<size_t>(kPerMinute)) return false;
  entry.running = true;
  entry.starts.push_back(now);
  ++m_pending;
  return true;
}

void FirewallTestPool::run(const std::string& address, std::function<void()> job) {
  std::scoped_lock lock(m_mutex);
  if (m_stopping) {
    // Dropped unrun: the connection the job holds closes with it.
    --m_pending;
    if (auto it = m_addresses.find(address); it != m_addresses.end()) it->second.running = false;
    return;
  }
  m_queue.push_back({address, std::move(job)});
  m_wake.notify_one();
}

void FirewallTestPool::stop() {
  std::deque<Job> dropped;
  {
    std::scoped_lock lock(m_mutex);
    if (m_stopping) return;
    m_stopping = true;
    dropped.swap(m_queue);
  }
  m_wake.notify_all();
  for (auto& t : m_threads) t.request_stop();
  m_threads.clear();  // joins; a running probe ends within its own time-out
}

void FirewallTestPool::worker(std::stop_token stop) {
  while (true) {
    Job job;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
      if (m_stopping) return;
      job = std::move(m_queue.front());
      m_queue.pop_front();
    }
    if (!stop.stop_requested()) job.work();
    std::scoped_lock lock(m_mutex);
    --m_pending;
    if (auto it = m_addresses.find(job.address); it != m_addresses.end()) it->second.running = false;
  }
}

}  // namespace vantrel::server
