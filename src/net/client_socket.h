// SPDX-License-Identifier: MIT
#pragma once
// ClientSocket: one outgoing TCP connection over IPv4, as the HTTP client, the
// mail sender and the firewall check use it. It owns the socket; the line and
// send helpers of socket_io.h work on fd(). One thread at a time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

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
  // time-outs, from the source address when one is set. Closes any earlier
  // connection first. False on failure (a source address this computer does
  // not have included), after `timeout`, or as soon as `keepGoing` (optional,
  // asked about every 100 ms while the connection is being made) says false.
  bool connect(const std::string& dottedAddress, uint16_t port,
               std::chrono::milliseconds timeout = kDefaultTimeout,
               const std::function<bool()>& keepGoing = {});
  bool connected() const { return m_fd.valid(); }
  int fd() const { return m_fd.get(); }

  // The dotted address of this computer that later connections leave from
  // ("": the one the system picks for the route). A second client on one
  // computer can so stand in for another computer, e.g. from 127.0.0.2.
  void setSourceAddress(std::string dottedAddress) { m_sourceAddress = std::move(dottedAddress); }

  // Changes the receive time-out of the open connection.
  bool setReceiveTimeout(std::chrono::milliseconds timeout);

  // The dotted local address of the connection, "" when not connected.
  std::string localAddress() const;

  // Drains what is left (so the peer sees an orderly close) and closes.
  void close();

 private:
  UniqueFd m_fd;
  std::string m_sourceAddress;
};

}  // namespace vantrel
