// SPDX-License-Identifier: MIT
#include "tests/support/reserved_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vantrel::testing {

ReservedPort::ReservedPort() : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  const int on = 1;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  if (!m_socket || ::setsockopt(m_socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(m_socket.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    m_socket.reset();
    return;
  }
  m_port = ntohs(at.sin_port);
}

}  // namespace vantrel::testing
