// SPDX-License-Identifier: MIT
#include "server/clients/udp_ping_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "server/http/socket_address.h"

namespace vantrel::server {

bool UdpPingService::bind(const std::string& address, uint16_t port, std::string& error) {
  auto sa = listenAddress(address, port);
  if (!sa) {
    error = "not an IP address: " + address;
    return false;
  }
  UniqueFd fd(openSocket(*sa, SOCK_DGRAM));
  if (!fd || ::bind(fd.get(), sa->get(), sa->length) != 0) {
    error = "cannot bind UDP " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof sa->storage;
  ::getsockname(fd.get(), sa->get(), &len);
  m_port = portOf(*sa);
  m_fd = std::move(fd);
  return true;
}

void UdpPingService::start() {
  for (int i = 0; i < kThreads; ++i) m_threads.emplace_back([this](std::stop_token st) { run(st); });
}

void UdpPingService::stop() {
  for (auto& t : m_threads) t.request_stop();
  m_threads.clear();  // joins
}

void UdpPingService::run(std::stop_token stop) {
  // Pings are at most 255 bytes; anything larger is cut and then refused.
  char buffer[512];
  while (!stop.stop_requested()) {
    pollfd p{m_fd.get(), POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    SocketAddress from;
    from.length = sizeof from.storage;
    // Another thread may have taken the datagram that woke us.
    const ssize_t n = ::recvfrom(m_fd.get(), buffer, sizeof buffer, MSG_DONTWAIT, from.get(), &from.length);
    if (n <= 0) continue;
    const auto reply = m_protocol.handlePing(std::string_view(buffer, static_cast<size_t>(n)), addressText(from));
    if (!reply) continue;
    ::sendto(m_fd.get(), reply->data(), reply->size(), 0, from.get(), from.length);
  }
}

}  // namespace vantrel::server
