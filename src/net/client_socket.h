// SPDX-License-Identifier: MIT
#pragma once
// ClientSocket: one outgoing TCP connection over IPv4, as the HTTP client, the
// mail sender and the firewall check use it. It owns the socket; the line and
// send helpers of socket_io.h work on fd(). One thread at a time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/unique_fd.h"

namespace vantrel {

class ClientSocket {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{30000};

  ClientSocket() = default;
  ~ClientSocket() { close(); }
  ClientSocket(ClientSocket&&) noexcept = default;
  ClientSocket& operator=(ClientSocket&&) noexcept = default;

  // Connects to a dotted IPv4 address after setting the receive and send
  // time-outs. Closes any earlier connection first. False on failure, after
  // `timeout`, or as soon as `keepGoing` (optional, asked about every 100 ms
  // while the connection is being made) says false.
  bool connect(const std::string& dottedAddress, uint16_t port,
               std::chrono::milliseconds timeout = kDefaultTimeout,
               const std::function<bool()>& keepGoing = {});
  bool connected() const { return m_fd.valid(); }
  int fd() const { return m_fd.get(); }

  // Changes the receive time-out of the open connection.
  bool setReceiveTimeout(std::chrono::milliseconds timeout);

  // The dotted local address of the connection, "" when not connected.
  std::string localAddress() const;

  // Drains what is left (so the peer sees an orderly close) and closes.
  void close();

 private:
  UniqueFd m_fd;
};

}  // namespace vantrel
