// SPDX-License-Identifier: MIT
#pragma once
// HttpListener: the server's TCP front door. One thread accepts and reads
// every request as its bytes come, many connections at once, so a sender that
// trickles holds a socket but never a worker; a fixed pool of workers then
// hands each complete request to the handler, writes the reply and closes,
// HTTP/1.0 style. Bounds: each request must arrive within its deadline
// (shorter while many wait), one address may have only so many requests in
// the making, and when the reader is full the oldest unfinished request makes
// room for the new one. Replies beyond what the queue holds are 503 at once,
// so a flood cannot grow memory or threads.
//
// Threads: the handler runs on the worker threads, several at once. start()
// and stop() belong to the owner's thread; the destructor stops.

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "server/http/http_request.h"

namespace vantrel::server {

class HttpListener {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest& request, const std::string& peerIp)>;

  static constexpr int kWorkers = 16;
  static constexpr size_t kMaxQueued = 512;
  static constexpr int kReadTimeoutMs = 10000;
  // Requests being read at once, in all and from one address; past half of
  // kMaxReading a new request gets kBusyReadTimeoutMs to arrive.
  static constexpr size_t kMaxReading = 768;
  static constexpr size_t kMaxReadingPerAddress = 32;
  static constexpr int kBusyReadTimeoutMs = 2000;
  // Bytes held for requests still being read, in all.
  static constexpr size_t kMaxReadingBytes = 64 * 1024 * 1024;

  explicit HttpListener(Handler handler) : m_handler(std::move(handler)) {}
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  // Binds and listens on the IPv4 or IPv6 address and port (0: the system
  // picks); an IPv6 address takes IPv4 connections too.
  bool listen(const std::string& address, uint16_t port, std::string& error);
  // Writes the reply and closes the connection as a worker does; for whoever
  // took a connection over through HttpResponse::handOff.
  static void answer(UniqueFd connection, const HttpResponse& response);
  uint16_t port() const { return m_port; }
  // Before start(): connections from these addresses are a proxy's. Their
  // requests are seen from the address of a PROXY line in front of them or,
  // without one, from the last address of their X-Forwarded-For header;
  // both are ignored from anyone else. Nor do a proxy's connections count
  // against the limit of one address.
  void setProxies(std::vector<std::string> addresses) { m_proxies = std::move(addresses); }
  void start();
  void stop();

 private:
  // A request whose bytes are still coming in.
  struct Reading {
    UniqueFd fd;
    std::string peerIp;
    std::string data;
    std::chrono::steady_clock::time_point deadline;
    bool fromProxy = false;
    bool proxyLineRead = false;  // a proxy's PROXY line came (peerIp is its address)
    bool proxyLineChecked = false;
  };
  // A request read whole (or found bad), waiting for a worker.
  struct Accepted {
    UniqueFd fd;
    std::string peerIp;
    HttpRequest request;
    ParseStatus status = ParseStatus::kBad;
    bool fromProxy = false;
    bool proxyLineRead = false;
  };

  void acceptLoop(std::stop_token stop);
  // Accepts what waits on the listening socket into `reading`.
  void acceptReady(std::vector<Reading>& reading);
  // Reads what `r` has sent; true when it is done with (queued or dropped).
  bool readSome(Reading& r, size_t& bufferedBytes);
  void enqueue(Accepted accepted);
  void workerLoop(std::stop_token stop);
  void serve(Accepted& connection);

  bool isProxy(const std::string& ip) const;

  Handler m_handler;
  std::vector<std::string> m_proxies;
  UniqueFd m_listenFd;
  uint16_t m_port = 0;
  std::atomic<bool> m_stopping{false};

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Accepted> m_queue;  // guarded by m_mutex

  std::vector<std::jthread> m_workers;
  std::jthread m_acceptor;
};

}  // namespace vantrel::server
