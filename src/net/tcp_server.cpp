// SPDX-License-Identifier: MIT
#include "net/tcp_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <utility>

#include "net/socket_io.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// A burst of connections far past the limit must not become a burst of threads:
// this many refusals run on threads of their own (they may wait a moment for the
// request so that the reply lands cleanly); beyond that the thread that took
// one answers it itself without waiting.
constexpr std::size_t kRefuseHeadroom = 64;
// Bursts of connections need a long queue; the system caps it at somaxconn.
constexpr int kBacklog = 1024;
// Also the time a thread waits in accept before it asks whether it is needed.
constexpr auto kSocketTimeout = 30s;
constexpr auto kInlineRefuseTimeout = 200ms;
constexpr auto kListenerStopWait = 5s;
// Finished connection threads that may wait for the next connection.
constexpr std::size_t kMaxIdleWorkers = 64;

bool acceptErrorIsTransient(int error) {
  switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EOPNOTSUPP:
      return true;
    default:
      return false;
  }
}

}  // namespace

TcpServer::TcpServer() = default;

TcpServer::~TcpServer() { stopAndJoin(); }

int TcpServer::listen(uint16_t port) {
  if (m_running) return kListenFailed;
  m_listenSocket.reset();
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return kListenNoSocket;
  const int on = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  at.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return kListenBindFailed;
  // Accepted sockets inherit the time-outs, which saves two system calls on
  // every connection. The listener's own accept then returns every so often
  // with nothing, and simply waits again.
  setSocketTimeouts(fd.get(), kSocketTimeout);
  if (::listen(fd.get(), kBacklog) != 0) return kListenFailed;
  socklen_t length = sizeof at;
  if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) return kListenFailed;
  m_port = ntohs(at.sin_port);
  m_listenSocket = std::move(fd);
  recordOwnAddress();
  return kListenOk;
}

void TcpServer::recordOwnAddress() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) != 0) return;
  std::string last;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
    if (auto text = peerAddressText(*reinterpret_cast<const sockaddr_in*>(a->ai_addr))) last = *text;
  }
  ::freeaddrinfo(found);
  if (last.empty()) return;
  {
    std::scoped_lock lock(m_mutex);
    m_ownAddress = last;
  }
  ownAddressFound(last);
}

std::string TcpServer::ownAddress() const {
  std::scoped_lock lock(m_mutex);
  return m_ownAddress;
}

std::size_t TcpServer::idleWorkerCount() const {
  std::scoped_lock lock(m_mutex);
  return m_accepting;
}

int TcpServer::start() {
  if (m_running || !m_listenSocket) return 1;
  std::scoped_lock lock(m_mutex);
  m_stopRequest = false;
  m_running = true;
  if (!addAcceptor()) {
    m_running = false;
    return 1;
  }
  return 0;
}

bool TcpServer::addAcceptor() {
  m_workers.emplace_front();
  const auto worker = m_workers.begin();
  ++m_accepting;
  // Started under the lock so that the thread finds its entry complete.
  if (worker->thread.start([this, worker] { run(worker); }, m_stackBytes)) return true;
  --m_accepting;
  m_workers.erase(worker);
  return false;
}

void TcpServer::run(std::list<Worker>::iterator worker) {
  // Counted in m_accepting by whoever started it or by itself below.
  std::unique_lock lock(m_mutex);
  for (;;) {
    lock.unlock();
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    UniqueFd socket(::accept4(m_listenSocket.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    const int error = errno;
    lock.lock();
    --m_accepting;
    if (m_stopRequest || !m_running) {
      if (socket) ::shutdown(socket.get(), SHUT_RDWR);
      break;
    }
    if (!socket) {
      // The socket time-out: nothing came for a while, and one waiting thread
      // is enough for a quiet server.
      const bool quiet = error == EAGAIN || error == EWOULDBLOCK;
      if (quiet && m_accepting > 0) break;
      // Running out of descriptors under a flood must not end the server for good.
      if (!quiet && !acceptErrorIsTransient(error)) {
        m_running = false;
        break;
      }
      ++m_accepting;
      if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
        lock.unlock();
        std::this_thread::sleep_for(20ms);
        lock.lock();
      }
      continue;
    }
    // A burst far past the limit must not become a burst of threads: beyond
    // the headroom this thread answers the refusal at once and waits again.
    if (m_workers.size() - m_accepting > m_maxConnections + kRefuseHeadroom) {
      ++m_accepting;
      lock.unlock();
      refuseInline(std::move(socket), peer);
      lock.lock();
      continue;
    }
    worker->socket = std::move(socket);
    worker->peer = peer;
    admit(*worker);
    // Someone must wait for the connection after this one.
    if (m_accepting == 0) addAcceptor();
    lock.unlock();
    serveOne(*worker);
    lock.lock();
    release(*worker);
    // Closed under the lock: stopAndJoin shuts sockets down under it too.
    worker->socket.reset();
    if (m_stopRequest || !m_running || m_closing || m_accepting >= kMaxIdleWorkers) break;
    ++m_accepting;
  }
  WorkerThread self = std::move(worker->thread);
  m_workers.erase(worker);
  // Each ending thread joins the one that ended before it, so at most one
  // finished thread waits to be joined at any time.
  WorkerThread previous = std::exchange(m_finished, std::move(self));
  m_changed.notify_all();
  lock.unlock();
  previous.join();
}

void TcpServer::admit(Worker& worker) {
  worker.countedAddress = false;
  worker.readingHead = false;
  worker.admitted = std::chrono::steady_clock::now();
  const std::size_t perAddress = m_perAddress;
  // An address over its own share is refused before it may cut anyone.
  if (perAddress != 0) {
    const auto at = m_perAddressCount.find(worker.peer.sin_addr.s_addr);
    worker.overLimit = at != m_perAddressCount.end() && at->second >= perAddress;
    if (worker.overLimit) return;
  }
  worker.overLimit = m_count >= m_maxConnections && !makeRoomFor(worker);
  if (worker.overLimit) return;
  worker.readingHead = true;
  if (perAddress == 0) return;
  ++m_perAddressCount[worker.peer.sin_addr.s_addr];
  worker.countedAddress = true;
}

bool TcpServer::makeRoomFor(const Worker& newcomer) {
  const int64_t afterMs = m_evictAfterMs;
  if (afterMs < 0) return false;
  const auto latest = newcomer.admitted - std::chrono::milliseconds(afterMs);
  Worker* oldest = nullptr;
  for (Worker& w : m_workers) {
    if (&w == &newcomer || !w.socket || w.overLimit || !w.readingHead || w.admitted > latest) continue;
    if (oldest == nullptr || w.admitted < oldest->admitted) oldest = &w;
  }
  if (oldest == nullptr) return false;
  // Its thread sees the end of its input and finishes; its place is counted
  // until then, so for a moment one connection more than the limit is served.
  ::shutdown(oldest->socket.get(), SHUT_RDWR);
  oldest->readingHead = false;
  return true;
}

void TcpServer::requestHeadRead(int socket) {
  std::scoped_lock lock(m_mutex);
  for (Worker& w : m_workers) {
    if (w.socket.get() == socket) {
      w.readingHead = false;
      return;
    }
  }
}

void TcpServer::release(Worker& worker) {
  if (!worker.countedAddress) return;
  worker.countedAddress = false;
  const auto at = m_perAddressCount.find(worker.peer.sin_addr.s_addr);
  if (at == m_perAddressCount.end()) return;
  if (--at->second == 0) m_perAddressCount.erase(at);
}

void TcpServer::serveOne(Worker& worker) {
  const int fd = worker.socket.get();
  if (auto connection = createConnection()) {
    connection->attach(fd, m_listenSocket.get(), worker.peer, *this);
    // Refusals are not counted: a flood of them from one address must not
    // push everyone else over the limit as well.
    if (worker.overLimit) {
      connection->refuse(true);
    } else {
      ++m_count;
      connection->handle();
      --m_count;
    }
  }
  ::shutdown(fd, SHUT_RDWR);
}

void TcpServer::refuseInline(UniqueFd socket, const sockaddr_in& peer) {
  if (auto connection = createConnection()) {
    connection->attach(socket.get(), m_listenSocket.get(), peer, *this);
    setSocketTimeouts(socket.get(), kInlineRefuseTimeout);
    connection->refuse(false);
  }
  ::shutdown(socket.get(), SHUT_RDWR);
}

void TcpServer::stopListening() {
  stop();
  m_listenSocket.reset();
}

void TcpServer::stop() {
  std::size_t waiting = 0;
  {
    std::scoped_lock lock(m_mutex);
    // After an accept error ended the server, others may still wait in accept.
    if (!m_running && m_accepting == 0) return;
    m_running = false;
    m_stopRequest = true;
    waiting = m_accepting;  // no thread goes back to accept from now on
  }
  // A connection to ourselves wakes one blocking accept: one for each.
  for (std::size_t i = 0; i < waiting; ++i) {
    UniqueFd wake(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (wake) ::connect(wake.get(), reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  std::unique_lock lock(m_mutex);
  const auto outOfAccept = [this] { return m_accepting == 0; };
  if (!m_changed.wait_for(lock, kListenerStopWait, outOfAccept)) {
    // The wake-ups did not get through (a firewall rule, a full queue): shutting
    // the listening socket down makes accept fail instead, at once.
    ::shutdown(m_listenSocket.get(), SHUT_RDWR);
    m_changed.wait(lock, outOfAccept);
  }
}

void TcpServer::stopAndJoin() {
  stop();
  std::unique_lock lock(m_mutex);
  m_closing = true;
  while (!m_workers.empty()) {
    for (auto& worker : m_workers) {
      if (worker.socket) ::shutdown(worker.socket.get(), SHUT_RDWR);
    }
    // Left in accept after an accept error ended the server: wake them.
    if (m_accepting > 0) ::shutdown(m_listenSocket.get(), SHUT_RDWR);
    m_changed.wait_for(lock, 100ms);
  }
  m_closing = false;
  WorkerThread last = std::move(m_finished);
  lock.unlock();
  last.join();
  m_listenSocket.reset();
}

}  // namespace vantrel
