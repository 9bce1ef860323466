// SPDX-License-Identifier: MIT
#pragma once
// Test helpers for loopback sockets: a connected TCP pair, a client connection to
// a port on 127.0.0.1, reading everything until the peer closes (and, through
// tests/support, the bounded wait). Used only by tests; each helper returns invalid or empty
// results instead of throwing, and the caller asserts.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "platform/unique_fd.h"
#include "tests/support/wait_for.h"

namespace vantrel::testing {

// `from` picks the source address (any of 127.0.0.0/8): 127.0.0.2 looks like
// another computer to a server on this one.
inline UniqueFd connectLoopback(uint16_t port, const char* from = nullptr) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd && from != nullptr) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (::inet_pton(AF_INET, from, &local.sin_addr) != 1 ||
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      return {};
    }
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return {};
  return fd;
}

// A connected pair over 127.0.0.1: first the accepted side, then the client side.
inline std::pair<UniqueFd, UniqueFd> loopbackPair() {
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  if (!listener || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::listen(listener.get(), 1) != 0 ||
      ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    return {};
  }
  UniqueFd client = connectLoopback(ntohs(at.sin_port));
  UniqueFd server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  return {std::move(server), std::move(client)};
}

// Reads until the peer closes, an error, or the limit passes.
inline std::string readAll(int fd, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(limit.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((limit.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string all;
  char piece[65536];
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
    if (n <= 0) break;
    all.append(piece, static_cast<std::size_t>(n));
  }
  return all;
}

inline void sendAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace vantrel::testing
