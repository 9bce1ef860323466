// SPDX-License-Identifier: MIT
#include "server/clients/outbound.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/socket_io.h"
#include "platform/unique_fd.h"

namespace vantrel::server {

namespace {

constexpr size_t kIdsPerOrder = 30;

bool makeAddress(const std::string& ip, int port, sockaddr_in& sa) {
  if (port <= 0 || port > 65535) return false;
  sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  return ::inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) == 1;
}

// A TCP connection with a bounded connect time.
UniqueFd connectTo(const std::string& ip, int port, int timeoutMs) {
  sockaddr_in sa{};
  if (!makeAddress(ip, port, sa)) return {};
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return {};
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno != EINPROGRESS) return {};
    pollfd p{fd.get(), POLLOUT, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return {};
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return {};
  }
  // Back to blocking, with time-outs on every send and receive.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  setSocketTimeouts(fd.get(), std::chrono::milliseconds(timeoutMs));
  return fd;
}

}  // namespace

bool probeTcp(const std::string& ip, int port, int timeoutMs) {
  UniqueFd fd = connectTo(ip, port, timeoutMs);
  if (!fd) return false;
  const std::string line = std::string(kProbeGreeting) + "\r\n";
  const bool sent = ::send(fd.get(), line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  ::shutdown(fd.get(), SHUT_WR);
  // Let the peer read before the socket goes; it sends nothing back.
  waitReadable(fd.get(), std::chrono::milliseconds(500));
  return sent;
}

bool probeUdp(const std::string& ip, int port) {
  sockaddr_in sa{};
  if (!makeAddress(ip, port, sa)) return false;
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  const size_t n = std::strlen(kProbeGreeting);
  return ::sendto(fd.get(), kProbeGreeting, n, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) ==
         static_cast<ssize_t>(n);
}

RemovalNotifier::RemovalNotifier() : m_worker([this](std::stop_token st) { run(st); }) {}

RemovalNotifier::~RemovalNotifier() {
  m_worker.request_stop();
  m_wake.notify_all();
}

void RemovalNotifier::notify(const std::string& ip, int port, const std::vector<int64_t>& fileIds) {
  if (fileIds.empty()) return;
  std::scoped_lock lock(m_mutex);
  if (m_queue.size() >= kMaxQueued) return;
  m_queue.push_back({ip, port, fileIds});
  m_wake.notify_one();
}

uint64_t RemovalNotifier::sentCount() const {
  std::scoped_lock lock(m_mutex);
  return m_sent;
}

void RemovalNotifier::run(std::stop_token stop) {
  while (true) {
    Order order;
    {
      std::unique_lock lock(m_mutex);
      if (!m_wake.wait(lock, stop, [&] { return !m_queue.empty(); })) return;
      order = std::move(m_queue.front());
      m_queue.pop_front();
    }
    // File servers read the request line into 700 bytes: 30 IDs of up to ten
    // digits fit, so longer lists go out as several orders.
    for (size_t at = 0; at < order.fileIds.size(); at += kIdsPerOrder) {
      std::string target = "/remove_file/?";
      for (size_t i = at; i < order.fileIds.size() && i < at + kIdsPerOrder; ++i) {
        target += (i == at ? "fileid=" : "&fileid=") + std::to_string(order.fileIds[i]);
      }
      UniqueFd fd = connectTo(order.ip, order.port, 3000);
      if (fd) {
        const std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + order.ip + "\r\n\r\n";
        if (::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) > 0) {
          std::string reply;
          readLine(fd.get(), reply, 300, 3);
          std::fprintf(stderr, "vantrel-server: remove_file to %s:%d answered \"%s\"\n", order.ip.c_str(), order.port,
                       std::string(withoutLineEnd(reply)).c_str());
        }
      }
    }
    std::scoped_lock lock(m_mutex);
    ++m_sent;
  }
}

}  // namespace vantrel::server
