// SPDX-License-Identifier: MIT
#pragma once
// What the server sends to clients on its own initiative: the firewall
// probes (a TCP greeting to the file-server port and a UDP datagram to the
// UDP port), and "remove_file" orders to a client's file server when files
// leave the catalogue without that client asking.
//
// Probes run on the calling thread, bounded by short time-outs. Removal
// orders go through a queue served by one worker thread, so the request that
// caused them never waits for a slow or absent client; the queue is bounded
// and orders beyond it are dropped (the client's checksum comparison catches
// up on them). Thread-safe.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::server {

inline constexpr char kProbeGreeting[] = "I am your FATHER!";

// Connects to ip:port and sends the greeting line; true when it was sent.
bool probeTcp(const std::string& ip, int port, int timeoutMs = 5000);
// Sends one datagram holding the greeting to ip:port; true when it was sent.
bool probeUdp(const std::string& ip, int port);

class RemovalNotifier {
 public:
  static constexpr size_t kMaxQueued = 1000;

  RemovalNotifier();
  ~RemovalNotifier();
  RemovalNotifier(const RemovalNotifier&) = delete;
  RemovalNotifier& operator=(const RemovalNotifier&) = delete;

  // Queues "GET /remove_file/?fileid=..." to the file server at ip:port.
  void notify(const std::string& ip, int port, const std::vector<int64_t>& fileIds);
  // Orders sent so far (successful or not), for tests.
  uint64_t sentCount() const;

 private:
  struct Order {
    std::string ip;
    int port = 0;
    std::vector<int64_t> fileIds;
  };
  void run(std::stop_token stop);

  mutable std::mutex m_mutex;
  std::condition_variable_any m_wake;
  std::deque<Order> m_queue;  // guarded by m_mutex
  uint64_t m_sent = 0;        // guarded by m_mutex
  std::jthread m_worker;
};

}  // namespace vantrel::server
