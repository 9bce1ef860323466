// SPDX-License-Identifier: MIT
#include "net/tcp_connection.h"

#include <sys/socket.h>

#include <chrono>

#include "net/socket_io.h"
#include "net/tcp_server.h"

namespace vantrel {

void TcpConnection::attach(int socket, int listenSocket, const sockaddr_in& peer, TcpServer& server) {
  m_socket = socket;
  m_listenSocket = listenSocket;
  m_peer = peer;
  m_server = &server;
}

void TcpConnection::headRead() {
  if (m_server != nullptr) m_server->requestHeadRead(m_socket);
}

void TcpConnection::handle() {
  char line[100];
  readLine(m_socket, line, 0);
  drain(m_socket);
  sendText(m_socket, "Connect Successful ... Now Disconnecting.");
}

void TcpConnection::refuse(bool mayWait) {
  // From the listener thread only a glimpse: the request is usually already here.
  const auto wait = mayWait ? std::chrono::milliseconds(1000) : std::chrono::milliseconds(20);
  if (!waitReadable(m_socket, wait)) return;
  char scratch[255];
  const ssize_t n = ::recv(m_socket, scratch, sizeof scratch, MSG_DONTWAIT);
  if (n > 0) sendText(m_socket, "Too Many Connections, Please Try Later.");
}

}  // namespace vantrel
