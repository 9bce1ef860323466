// SPDX-License-Identifier: MIT
#include "server/http_listener.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/socket_io.h"
#include "server/socket_address.h"

namespace vantrel::server {

namespace {

using Clock = std::chrono::steady_clock;

void sendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// Half-closes and reads what the peer still sends (the client's spare line
// ends) until it closes too, so the close does not turn into a reset that could
// destroy the reply before the peer has read it. Bounded in time and bytes.
void closeGracefully(int fd) {
  ::shutdown(fd, SHUT_WR);
  const auto deadline = Clock::now() + std::chrono::milliseconds(1000);
  char sink[4096];
  size_t total = 0;
  while (Clock::now() < deadline && total < 256 * 1024) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
}

}  // namespace

HttpListener::~HttpListener() { stop(); }

bool HttpListener::listen(const std::string& address, uint16_t port, std::string& error) {
  auto sa = listenAddress(address, port);
  if (!sa) {
    error = "not an IP address: " + address;
    return false;
  }
  UniqueFd fd(openSocket(*sa, SOCK_STREAM));
  const int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (!fd || ::bind(fd.get(), sa->get(), sa->length) != 0 || ::listen(fd.get(), 512) != 0) {
    error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof sa->storage;
  ::getsockname(fd.get(), sa->get(), &len);
  m_port = portOf(*sa);
  m_listenFd = std::move(fd);
  return true;
}

void HttpListener::answer(UniqueFd connection, const HttpResponse& response) {
  sendAll(connection.get(), response.serialize());
  closeGracefully(connection.get());
}

void HttpListener::start() {
  for (int i = 0; i < kWorkers; ++i) {
    m_workers.emplace_back([this](std::stop_token st) { workerLoop(st); });
  }
  m_acceptor = std::jthread([this](std::stop_token st) { acceptLoop(st); });
}

void HttpListener::stop() {
  if (m_stopping.exchange(true)) return;
  // Shutting a listening socket down makes a blocked accept() return.
  if (m_listenFd) ::shutdown(m_listenFd.get(), SHUT_RDWR);
  if (m_acceptor.joinable()) {
    m_acceptor.request_stop();
    m_acceptor.join();
  }
  for (auto& w : m_workers) w.request_stop();
  m_wake.notify_all();
  m_workers.clear();  // joins
  std::scoped_lock lock(m_mutex);
  m_queue.clear();
}

void HttpListener::acceptLoop(std::stop_token stop) {
  while (!stop.stop_requested() && !m_stopping) {
    SocketAddress peer;
    peer.length = sizeof peer.storage;
    UniqueFd fd(::accept4(m_listenFd.get(), peer.get(), &peer.length, SOCK_CLOEXEC));
    if (!fd) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
        if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      return;
    }
    if (m_stopping) return;
    Accepted a{std::move(fd), addressText(peer)};
    {
      std::scoped_lock lock(m_mutex);
      if (m_queue.size() < kMaxQueued) {
        m_queue.push_back(std::move(a));
        m_wake.notify_one();
        continue;
      }
    }
    HttpResponse busy;
    busy.status = 503;
    busy.body = "busy, try again later\n";
    sendAll(a.fd.get(), busy.serialize());
  }
}

void HttpListener::workerLoop(std::stop_token stop) {
  while (true) {
    Accepted a;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [&] { return stop.stop_requested() || !m_queue.empty(); });
      if (stop.stop_requested()) return;
      a = std::move(m_queue.front());
      m_queue.pop_front();
    }
    serve(a);
  }
}

void HttpListener::serve(Accepted& c) {
  const int fd = c.fd.get();
  setSocketTimeouts(fd, std::chrono::milliseconds(kReadTimeoutMs));
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // The whole request must arrive within the time-out, however slowly it trickles.
  const auto deadline = Clock::now() + std::chrono::milliseconds(kReadTimeoutMs);
  std::string data;
  HttpRequest request;
  ParseStatus status = ParseStatus::kNeedMore;
  char buffer[16384];
  while (status == ParseStatus::kNeedMore) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || !waitReadable(fd, std::chrono::milliseconds(left))) return;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      // A peer that closes early still gets an answer if what came is a request
      // whose body was cut short; otherwise there is nobody to answer.
      return;
    }
    data.append(buffer, static_cast<size_t>(n));
    status = parseHttpRequest(data, request);
  }
  HttpResponse response;
  if (status == ParseStatus::kComplete) {
    response = m_handler(request, c.peerIp);
    if (response.handOff) {
      response.handOff(std::move(c.fd));
      return;
    }
  } else {
    response.status = status == ParseStatus::kTooLarge ? 413 : 400;
    response.body = status == ParseStatus::kTooLarge ? "request too large\n" : "malformed request\n";
  }
  sendAll(fd, response.serialize());
  closeGracefully(fd);
}

}  // namespace vantrel::server
