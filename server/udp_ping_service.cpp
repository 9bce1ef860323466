// SPDX-License-Identifier: MIT
#include "server/udp_ping_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "net/socket_io.h"

namespace vantrel::server {

bool UdpPingService::bind(const std::string& address, uint16_t port, std::string& error) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    error = "not an IPv4 address: " + address;
    return false;
  }
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    error = "cannot bind UDP " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof sa;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
  m_port = ntohs(sa.sin_port);
  m_fd = std::move(fd);
  return true;
}

void UdpPingService::start() {
  m_thread = std::jthread([this](std::stop_token st) { run(st); });
}

void UdpPingService::stop() {
  if (m_thread.joinable()) {
    m_thread.request_stop();
    m_thread.join();
  }
}

void UdpPingService::run(std::stop_token stop) {
  // Pings are at most 255 bytes; anything larger is cut and then refused.
  char buffer[512];
  while (!stop.stop_requested()) {
    pollfd p{m_fd.get(), POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(m_fd.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) continue;
    const auto reply =
        m_protocol.handlePing(std::string_view(buffer, static_cast<size_t>(n)), peerAddressText(from).value_or(""));
    if (!reply) continue;
    ::sendto(m_fd.get(), reply->data(), reply->size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
}

}  // namespace vantrel::server
