// SPDX-License-Identifier: MIT
#pragma once
// HttpListener: the server's TCP front door. One thread accepts; a fixed pool
// of workers reads each request (bounded in size and time), hands it to the
// handler, writes the reply and closes, HTTP/1.0 style. Connections beyond
// what the queue holds are refused with 503 at once, so a flood cannot grow
// memory or threads.
//
// Threads: the handler runs on the worker threads, several at once. start()
// and stop() belong to the owner's thread; the destructor stops.

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "server/http_request.h"

namespace vantrel::server {

class HttpListener {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest& request, const std::string& peerIp)>;

  static constexpr int kWorkers = 16;
  static constexpr size_t kMaxQueued = 512;
  static constexpr int kReadTimeoutMs = 10000;

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
  void start();
  void stop();

 private:
  struct Accepted {
    UniqueFd fd;
    std::string peerIp;
  };

  void acceptLoop(std::stop_token stop);
  void workerLoop(std::stop_token stop);
  void serve(Accepted& connection);

  Handler m_handler;
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
