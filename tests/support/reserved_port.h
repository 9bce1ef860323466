// SPDX-License-Identifier: MIT
#pragma once
// ReservedPort: a loopback TCP port for a server under test that must know its
// port before it listens (the client logs in with it, a database is told it).
// The port stays bound by this object, so that no other test or program is
// given it, until the server has bound it itself: the socket here never
// listens and is bound with SO_REUSEADDR, which lets a server that sets the
// same option (ours and PostgreSQL do) bind the port beside it and listen.
// Keep the object alive until the server listens; then it may go.
// Not thread-safe; one owner.

#include <cstdint>

#include "platform/unique_fd.h"

namespace vantrel::testing {

class ReservedPort {
 public:
  ReservedPort();
  ReservedPort(ReservedPort&&) = default;
  ReservedPort& operator=(ReservedPort&&) = default;

  // 0 when no port could be bound (the test should stop).
  uint16_t port() const { return m_port; }
  // Lets the port go (the server has bound it).
  void release() { m_socket.reset(); }

 private:
  UniqueFd m_socket;
  uint16_t m_port = 0;
};

}  // namespace vantrel::testing
