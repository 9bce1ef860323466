// SPDX-License-Identifier: MIT
#include "net/client_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/socket_io.h"

namespace vantrel {

bool ClientSocket::connect(const std::string& dottedAddress, uint16_t port, std::chrono::milliseconds timeout,
                           const std::function<bool()>& keepGoing) {
  close();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (::inet_pton(AF_INET, dottedAddress.c_str(), &to.sin_addr) != 1) return false;
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd || !setSocketTimeouts(fd.get(), timeout)) return false;
  if (!m_sourceAddress.empty()) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    if (::inet_pton(AF_INET, m_sourceAddress.c_str(), &from.sin_addr) != 1 ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
      return false;
    }
  }
  // Non-blocking, so that a connection still being made after `timeout` or
  // after the caller gave up (a pinger being stopped) is abandoned at once
  // rather than holding its thread for the system's long connect time-out.
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return false;
    constexpr auto kSlice = std::chrono::milliseconds(100);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd.get(), POLLOUT, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::min(left, kSlice).count()));
      if (ready < 0 && errno != EINTR) return false;
      if (ready > 0) break;
      if (keepGoing && !keepGoing()) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
  m_fd = std::move(fd);
  return true;
}

bool ClientSocket::setReceiveTimeout(std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  return m_fd && ::setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

std::string ClientSocket::localAddress() const {
  sockaddr_in at{};
  socklen_t length = sizeof at;
  if (!m_fd || ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) return {};
  return peerAddressText(at).value_or("");
}

void ClientSocket::close() {
  if (!m_fd) return;
  ::shutdown(m_fd.get(), SHUT_WR);
  drain(m_fd.get());
  m_fd.reset();
}

}  // namespace vantrel
