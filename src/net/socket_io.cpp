// SPDX-License-Identifier: MIT
#include "net/socket_io.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A peer that keeps sending while we drain would otherwise hold the thread for
// ever; past this much we close and let it see a reset.
constexpr std::size_t kDrainLimit = 1 << 20;
constexpr std::size_t kDrainPiece = 256;
// Piece size when the send-buffer option cannot be read.
constexpr std::size_t kFallbackPiece = 64 * 1024;

long receive(int fd, char* data, std::size_t size, int flags) {
  for (;;) {
    const ssize_t n = ::recv(fd, data, size, flags);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

// Index of the CR of the first CR LF in text, or npos.
std::size_t findCrLf(std::string_view text) { return text.find("\r\n"); }

}  // namespace

bool waitReadable(int fd, milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
    pollfd p{fd, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 1LL << 30)));
    if (n < 0 && errno == EINTR) continue;
    return n > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
}

std::size_t readLine(int fd, std::span<char> buffer, int waitSeconds, SocketDeadline deadline) {
  if (buffer.empty()) return 0;
  const std::size_t limit = buffer.size() - 1;
  std::size_t stored = 0;
  while (stored < limit) {
    char* at = buffer.data() + stored;
    long peeked = 0;
    if (waitSeconds > 0 || deadline != kNoDeadline) {
      milliseconds timeout = waitSeconds > 0 ? milliseconds(waitSeconds * 1000LL) : milliseconds::max();
      if (deadline != kNoDeadline) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        timeout = std::min(timeout, std::max(left, milliseconds(0)));
      }
      if (timeout.count() <= 0) break;
      // Most lines are already there: look before waiting, and wait only when
      // nothing is, which saves a system call for each of them.
      peeked = receive(fd, at, limit - stored, MSG_PEEK | MSG_DONTWAIT);
      if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!waitReadable(fd, timeout)) break;
        peeked = receive(fd, at, limit - stored, MSG_PEEK);
      }
    } else {
      peeked = receive(fd, at, limit - stored, MSG_PEEK);
    }
    if (peeked <= 0) break;
    const std::string_view seen(at, static_cast<std::size_t>(peeked));
    std::size_t take = seen.size();
    bool lineEnds = false;
    if (stored > 0 && buffer[stored - 1] == '\r' && seen.front() == '\n') {
      // The CR came with the previous receive; its LF ends the line.
      take = 1;
      lineEnds = true;
    } else if (const std::size_t cr = findCrLf(seen); cr != std::string_view::npos) {
      take = cr + 2;
      lineEnds = true;
    }
    const long got = receive(fd, at, take, 0);
    if (got <= 0) break;
    stored += static_cast<std::size_t>(got);
    if (lineEnds && static_cast<std::size_t>(got) == take) break;
  }
  buffer[stored] = '\0';
  return stored;
}

std::size_t readLine(int fd, std::string& line, std::size_t maxBytes, int waitSeconds,
                     SocketDeadline deadline) {
  line.assign(maxBytes, '\0');
  const std::size_t n = readLine(fd, std::span<char>(line.data(), line.size()), waitSeconds, deadline);
  line.resize(n);
  return n;
}

std::string_view withoutLineEnd(std::string_view line) {
  const auto isEnd = [](char c) { return c == '\r' || c == '\n'; };
  if (line.size() >= 2 && isEnd(line[line.size() - 2])) return line.substr(0, line.size() - 2);
  if (!line.empty() && isEnd(line.back())) return line.substr(0, line.size() - 1);
  return line;
}

void trimLineEnd(std::string& line) { line.resize(withoutLineEnd(line).size()); }

bool dataWaiting(int fd) {
  int count = 0;
  return ::ioctl(fd, FIONREAD, &count) == 0 && count > 0;
}

void drain(int fd) {
  char scratch[kDrainPiece];
  std::size_t total = 0;
  while (total < kDrainLimit && dataWaiting(fd)) {
    const long n = receive(fd, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
}

long sendBytes(int fd, const void* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<long>(n);
  }
}

long sendText(int fd, std::string_view text) { return sendBytes(fd, text.data(), text.size()); }

bool sendInPieces(int fd, std::span<const char> data) {
  // No send buffer is smaller than this (the system's floor is above it), so
  // a reply this short is one piece whatever the option says: no need to ask.
  constexpr std::size_t kBelowAnySendBuffer = 4096;
  std::size_t piece = kBelowAnySendBuffer;
  if (data.size() > kBelowAnySendBuffer) {
    const int option = sendBufferSize(fd);
    piece = option > 0 ? static_cast<std::size_t>(option) : kFallbackPiece;
  }
  std::size_t sent = 0;
  while (sent < data.size()) {
    const long n = sendBytes(fd, data.data() + sent, std::min(piece, data.size() - sent));
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

int sendBufferSize(int fd) {
  int size = 0;
  socklen_t length = sizeof size;
  if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length) != 0) return 0;
  return std::max(size, 0);
}

bool setSocketTimeouts(int fd, milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

std::optional<std::string> peerAddressText(const sockaddr_in& address) {
  if (address.sin_family != AF_INET) return std::nullopt;
  char text[17] = {};
  if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) return std::nullopt;
  if (std::strlen(text) > 16) return std::nullopt;
  return std::string(text);
}

std::optional<std::string> peerAddressText(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::nullopt;
  return peerAddressText(address);
}

std::string interfaceAddressToward(const std::string& dottedAddress, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port != 0 ? port : 80);
  if (::inet_pton(AF_INET, dottedAddress.c_str(), &to.sin_addr) != 1) return {};
  // Connecting a datagram socket only picks the route and the source address.
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return {};
  sockaddr_in at{};
  socklen_t length = sizeof at;
  if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) return {};
  return peerAddressText(at).value_or("");
}

int firstFreeTcpPort(int from, int tries) {
  for (int port = from; port >= 1 && port <= 65535 && port < from + tries; ++port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return -1;
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    at.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && ::listen(fd.get(), 1) == 0) return port;
  }
  return -1;
}

int systemPickedTcpPort() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return -1;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t length = sizeof at;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd.get(), 1) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    return -1;
  }
  return ntohs(at.sin_port);
}

}  // namespace vantrel
