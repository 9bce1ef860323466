// SPDX-License-Identifier: MIT
#pragma once
// Listening addresses for IPv4 and IPv6. An IPv6 address ("::" for all) is
// bound dual-stack, so IPv4 clients reach it too and are seen with their
// plain IPv4 address, never as "::ffff:a.b.c.d".
//
// Pure functions; thread-safe.

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel::server {

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family() const { return storage.ss_family; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

// The address to bind: an IPv4 or IPv6 literal (brackets around IPv6 allowed).
std::optional<SocketAddress> listenAddress(const std::string& address, uint16_t port);

// A socket for the address's family, IPv6 ones dual-stack; -1 on failure.
int openSocket(const SocketAddress& address, int type);

// The port of a bound address.
uint16_t portOf(const SocketAddress& address);

// The text of a peer's address, IPv4-mapped IPv6 addresses as plain IPv4.
std::string addressText(const SocketAddress& address);

}  // namespace vantrel::server
