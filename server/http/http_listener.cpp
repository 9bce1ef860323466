// SPDX-License-Identifier: MIT
#include "server/http/http_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/socket_io.h"
#include "server/http/proxy_header.h"
#include "server/http/socket_address.h"

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
  // Accepted in rounds until nothing waits, between reads of other sockets.
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
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
  std::vector<Reading> reading;  // oldest first
  std::vector<pollfd> polls;
  size_t bufferedBytes = 0;
  while (!stop.stop_requested() && !m_stopping) {
    const auto now = Clock::now();
    // Requests that did not arrive in time are dropped without an answer.
    std::erase_if(reading, [&](const Reading& r) {
      if (r.deadline > now) return false;
      bufferedBytes -= r.data.size();
      return true;
    });
    polls.clear();
    polls.push_back({m_listenFd.get(), POLLIN, 0});
    // Woken now and then to notice stop() even where a shut-down listening
    // socket does not wake poll.
    auto wake = now + std::chrono::milliseconds(200);
    for (const Reading& r : reading) {
      polls.push_back({r.fd.get(), POLLIN, 0});
      wake = std::min(wake, r.deadline);
    }
    const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
    const int ready = ::poll(polls.data(), polls.size(), static_cast<int>(std::max<int64_t>(0, timeout)) + 1);
    if (ready < 0 && errno != EINTR) return;
    if (m_stopping) return;
    if (ready <= 0) continue;
    // Walked from the end so that erasing keeps the earlier indices valid.
    for (size_t i = polls.size() - 1; i >= 1; --i) {
      if (polls[i].revents != 0 && readSome(reading[i - 1], bufferedBytes)) {
        bufferedBytes -= reading[i - 1].data.size();
        reading.erase(reading.begin() + static_cast<std::ptrdiff_t>(i - 1));
      }
    }
    if (polls[0].revents != 0) acceptReady(reading);
  }
}

bool HttpListener::isProxy(const std::string& ip) const {
  return std::find(m_proxies.begin(), m_proxies.end(), ip) != m_proxies.end();
}

void HttpListener::acceptReady(std::vector<Reading>& reading) {
  for (int round = 0; round < 64; ++round) {
    SocketAddress peer;
    peer.length = sizeof peer.storage;
    UniqueFd fd(::accept4(m_listenFd.get(), peer.get(), &peer.length, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return;
    }
    std::string ip = addressText(peer);
    const bool fromProxy = isProxy(ip);
    const auto fromSame = std::count_if(reading.begin(), reading.end(), [&](const Reading& r) { return r.peerIp == ip; });
    if (!fromProxy && static_cast<size_t>(fromSame) >= kMaxReadingPerAddress) {
      HttpResponse busy;
      busy.status = 503;
      busy.body = "too many connections from your address, try again later\n";
      const std::string text = busy.serialize();
      ::send(fd.get(), text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      continue;
    }
    // When full, the request that has taken longest gives way: real requests
    // arrive at once, a trickling one is the oldest.
    if (reading.size() >= kMaxReading) reading.erase(reading.begin());
    const int timeoutMs = reading.size() >= kMaxReading / 2 ? kBusyReadTimeoutMs : kReadTimeoutMs;
    reading.push_back(
        {std::move(fd), std::move(ip), {}, Clock::now() + std::chrono::milliseconds(timeoutMs), fromProxy, false, false});
  }
}

bool HttpListener::readSome(Reading& r, size_t& bufferedBytes) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::recv(r.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    // A peer that closes (or fails) before its request is whole gets no answer.
    if (n <= 0) return true;
    if (bufferedBytes + static_cast<size_t>(n) > kMaxReadingBytes) return true;
    r.data.append(buffer, static_cast<size_t>(n));
    bufferedBytes += static_cast<size_t>(n);
    if (r.fromProxy && !r.proxyLineChecked) {
      const ProxyLine line = parseProxyLine(r.data);
      if (line.status == ProxyLineStatus::kNeedMore) continue;
      r.proxyLineChecked = true;
      if (line.status == ProxyLineStatus::kBad) {
        enqueue({std::move(r.fd), r.peerIp, {}, ParseStatus::kBad, true, false});
        return true;
      }
      if (line.status == ProxyLineStatus::kComplete) {
        r.data.erase(0, line.length);
        r.proxyLineRead = true;
        if (!line.source.empty()) r.peerIp = line.source;
      }
    }
    HttpRequest request;
    const ParseStatus status = parseHttpRequest(r.data, request);
    if (status == ParseStatus::kNeedMore) continue;
    enqueue({std::move(r.fd), r.peerIp, std::move(request), status, r.fromProxy, r.proxyLineRead});
    return true;
  }
}

void HttpListener::enqueue(Accepted accepted) {
  {
    std::scoped_lock lock(m_mutex);
    if (m_queue.size() < kMaxQueued) {
      m_queue.push_back(std::move(accepted));
      m_wake.notify_one();
      return;
    }
  }
  HttpResponse busy;
  busy.status = 503;
  busy.body = "busy, try again later\n";
  const std::string text = busy.serialize();
  ::send(accepted.fd.get(), text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
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
  // The socket was read without blocking; the reply is written blocking, within the time-out.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  setSocketTimeouts(fd, std::chrono::milliseconds(kReadTimeoutMs));
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  HttpResponse response;
  if (c.status == ParseStatus::kComplete) {
    // A proxy that passes TCP whole (haproxy's send-proxy) passes the
    // client's own X-Forwarded-For too: with a PROXY line it means nothing.
    if (c.fromProxy && !c.proxyLineRead) {
      const std::string forwarded = lastForwardedFor(c.request.header("X-Forwarded-For"));
      if (!forwarded.empty()) c.peerIp = forwarded;
    }
    response = m_handler(c.request, c.peerIp);
    if (response.handOff) {
      response.handOff(std::move(c.fd));
      return;
    }
  } else {
    response.status = c.status == ParseStatus::kTooLarge ? 413 : 400;
    response.body = c.status == ParseStatus::kTooLarge ? "request too large\n" : "malformed request\n";
  }
  sendAll(fd, response.serialize());
  closeGracefully(fd);
}

}  // namespace vantrel::server
