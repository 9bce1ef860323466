// SPDX-License-Identifier: MIT
#include "server/http/socket_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace vantrel::server {

std::optional<SocketAddress> listenAddress(const std::string& address, uint16_t port) {
  std::string text = address;
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  SocketAddress out;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&out.storage);
  if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    out.length = sizeof(sockaddr_in);
    return out;
  }
  out.storage = {};
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
  if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    out.length = sizeof(sockaddr_in6);
    return out;
  }
  return std::nullopt;
}

int openSocket(const SocketAddress& address, int type) {
  const int fd = ::socket(address.family(), type | SOCK_CLOEXEC, 0);
  if (fd >= 0 && address.family() == AF_INET6) {
    const int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  }
  return fd;
}

uint16_t portOf(const SocketAddress& address) {
  if (address.family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_port);
  if (address.family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_port);
  return 0;
}

std::string addressText(const SocketAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.family() == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address.storage);
    return ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text) != nullptr ? text : "";
  }
  if (address.family() == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address.storage);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
      in_addr v4{};
      std::memcpy(&v4, v6->sin6_addr.s6_addr + 12, sizeof v4);
      return ::inet_ntop(AF_INET, &v4, text, sizeof text) != nullptr ? text : "";
    }
    return ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text) != nullptr ? text : "";
  }
  return {};
}

}  // namespace vantrel::server
