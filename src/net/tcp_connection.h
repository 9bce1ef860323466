// SPDX-License-Identifier: MIT
#pragma once
// TcpConnection: one accepted connection of a TcpServer, served on a worker
// thread of its own. The server creates it through TcpServer::createConnection,
// hands it the socket and the peer address, calls handle() (or refuse() when the
// server is over its connection limit) once, and destroys it. The connection does
// not own the socket: the worker closes it after the connection is gone. Only its
// worker thread calls into it.

#include <netinet/in.h>

#include <string>

namespace vantrel {

class TcpServer;

class TcpConnection {
 public:
  TcpConnection() = default;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;
  virtual ~TcpConnection() = default;

  // Serves the connection. The default reads one line, drains what else waits
  // and answers "Connect Successful ... Now Disconnecting.".
  virtual void handle();
  // Answers a connection that is over the server's limit. `mayWait` is false when
  // the server refuses from its listener thread and the reply must not block on
  // the peer. The default reads what the peer sent and, if anything came, answers
  // "Too Many Connections, Please Try Later.".
  virtual void refuse(bool mayWait);

  // Tells the server that the request head is in: the connection no longer
  // counts as a slow sender that may give its place up (see
  // TcpServer::setSlowHeadEviction).
  void headRead();

  // Called by the server before handle() or refuse().
  void attach(int socket, int listenSocket, const sockaddr_in& peer, TcpServer& server);

  int socket() const { return m_socket; }
  int listenSocket() const { return m_listenSocket; }
  const sockaddr_in& peer() const { return m_peer; }
  TcpServer* server() const { return m_server; }

 private:
  int m_socket = -1;
  int m_listenSocket = -1;
  sockaddr_in m_peer{};
  TcpServer* m_server = nullptr;
};

}  // namespace vantrel
