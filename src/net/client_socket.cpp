// SPDX-License-Identifier: MIT
#include "net/client_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "net/socket_io.h"

namespace vantrel {

bool ClientSocket::connect(const std::string& dottedAddress, uint16_t port, std::chrono::milliseconds timeout) {
  close();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (::inet_pton(AF_INET, dottedAddress.c_str(), &to.sin_addr) != 1) return false;
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd || !setSocketTimeouts(fd.get(), timeout)) return false;
  int rc;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  m_fd = std::move(fd);
  return true;
}

bool ClientSocket::setReceiveTimeout(std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  return m_fd && ::setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

std::string ClientSocket::localAddress() const {
  sockaddr_in at{};
  socklen_t length = sizeof at;
  if (!m_fd || ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) return {};
  return peerAddressText(at).value_or("");
}

void ClientSocket::close() {
  if (!m_fd) return;
  ::shutdown(m_fd.get(), SHUT_WR);
  drain(m_fd.get());
  m_fd.reset();
}

}  // namespace vantrel
