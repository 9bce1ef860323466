// SPDX-License-Identifier: MIT
#pragma once
// UdpPingService: receives the clients' UDP pings on the server's UDP port and
// sends each reply back to the address and port the datagram came from. The
// protocol itself (ClientProtocol::handlePing) decides what to answer.
//
// A few threads receive from the one socket, so that a ping waiting for the
// database (its reply carries the client's file checksum) does not hold up
// the next; start() and stop() from the owner's thread.

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "server/clients/client_protocol.h"

namespace vantrel::server {

class UdpPingService {
 public:
  explicit UdpPingService(ClientProtocol& protocol) : m_protocol(protocol) {}
  ~UdpPingService() { stop(); }
  UdpPingService(const UdpPingService&) = delete;
  UdpPingService& operator=(const UdpPingService&) = delete;

  bool bind(const std::string& address, uint16_t port, std::string& error);
  uint16_t port() const { return m_port; }
  void start();
  void stop();

 private:
  void run(std::stop_token stop);

  static constexpr int kThreads = 4;

  ClientProtocol& m_protocol;
  UniqueFd m_fd;
  uint16_t m_port = 0;
  std::vector<std::jthread> m_threads;
};

}  // namespace vantrel::server
