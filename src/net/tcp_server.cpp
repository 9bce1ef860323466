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
// request so that the reply lands cleanly); beyond that the listener answers them
// itself without waiting.
constexpr std::size_t kRefuseHeadroom = 64;
// Bursts of connections need a long queue; the system caps it at somaxconn.
constexpr int kBacklog = 1024;
constexpr auto kSocketTimeout = 30s;
constexpr auto kInlineRefuseTimeout = 200ms;
constexpr auto kListenerStopWait = 5s;
// Finished connection threads that may wait for the next connection, and how long.
constexpr std::size_t kMaxIdleWorkers = 64;
constexpr auto kIdleWorkerWait = 10s;

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
  return m_idle.size();
}

int TcpServer::start() {
  if (m_running || !m_listenSocket) return 1;
  {
    std::scoped_lock lock(m_mutex);
    m_listenerDone = false;
  }
  m_stopRequest = false;
  m_running = true;
  try {
    m_listener = std::jthread([this] { acceptLoop(); });
  } catch (const std::system_error&) {
    m_running = false;
    std::scoped_lock lock(m_mutex);
    m_listenerDone = true;
    return 1;
  }
  return 0;
}

void TcpServer::acceptLoop() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    UniqueFd socket(::accept4(m_listenSocket.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    const int error = errno;
    if (m_stopRequest) {
      if (socket) ::shutdown(socket.get(), SHUT_RDWR);
      break;
    }
    if (!socket) {
      // Running out of descriptors under a flood must not end the server for good.
      if (error == EAGAIN || error == EWOULDBLOCK) continue;  // the time-out: nothing came
      if (!acceptErrorIsTransient(error)) break;
      if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) std::this_thread::sleep_for(20ms);
      continue;
    }
    if (handToIdleWorker(socket, peer)) continue;
    std::unique_lock lock(m_mutex);
    if (m_workers.size() - m_idle.size() >= m_maxConnections + kRefuseHeadroom) {
      lock.unlock();
      refuseInline(std::move(socket), peer);
      continue;
    }
    m_workers.emplace_front();
    const auto worker = m_workers.begin();
    worker->socket = std::move(socket);
    worker->peer = peer;
    admit(*worker);
    // Started under the lock so that the thread finds its entry complete.
    if (!worker->thread.start([this, worker] { serve(worker); }, m_stackBytes)) {
      ::shutdown(worker->socket.get(), SHUT_RDWR);
      release(*worker);
      m_workers.erase(worker);
    }
  }
  m_running = false;
  m_stopRequest = false;
  std::scoped_lock lock(m_mutex);
  m_listenerDone = true;
  m_changed.notify_all();
}

bool TcpServer::handToIdleWorker(UniqueFd& socket, const sockaddr_in& peer) {
  std::shared_ptr<Wake> wake;
  {
    std::scoped_lock lock(m_mutex);
    if (m_idle.empty()) return false;
    Worker& worker = *m_idle.back();
    m_idle.pop_back();
    worker.idle = false;
    worker.socket = std::move(socket);
    worker.peer = peer;
    admit(worker);
    wake = worker.wake;
  }
  // Woken outside the lock, so that the worker does not wake only to wait for
  // the lock the listener still holds.
  wake->signal();
  return true;
}

void TcpServer::Wake::signal() {
  {
    std::scoped_lock lock(mutex);
    signalled = true;
  }
  changed.notify_one();
}

bool TcpServer::Wake::waitUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(mutex);
  const bool woken = changed.wait_until(lock, until, [this] { return signalled; });
  signalled = false;
  return woken;
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

void TcpServer::serve(std::list<Worker>::iterator worker) {
  std::unique_lock lock(m_mutex);
  for (;;) {
    lock.unlock();
    serveOne(*worker);
    lock.lock();
    release(*worker);
    // Closed under the lock: stopAndJoin shuts sockets down under it too.
    worker->socket.reset();
    if (m_closing || m_idle.size() >= kMaxIdleWorkers) break;
    worker->idle = true;
    m_idle.push_back(&*worker);
    m_changed.notify_all();
    // The state under the lock decides; a wake-up only says to look at it (one
    // left over from a hand-over seen after a time-out makes a loop here).
    const auto until = std::chrono::steady_clock::now() + kIdleWorkerWait;
    while (worker->idle && !m_closing) {
      lock.unlock();
      const bool woken = worker->wake->waitUntil(until);
      lock.lock();
      if (!woken) break;
    }
    if (worker->idle) {  // nothing came, or the server closes
      worker->idle = false;
      std::erase(m_idle, &*worker);
      break;
    }
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
  if (!m_running) return;
  m_running = false;
  m_stopRequest = true;
  // A connection to ourselves wakes the blocking accept.
  {
    UniqueFd wake(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (wake) ::connect(wake.get(), reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  std::unique_lock lock(m_mutex);
  if (!m_changed.wait_for(lock, kListenerStopWait, [this] { return m_listenerDone; })) {
    // The wake-up did not get through (a firewall rule, a full queue): shutting
    // the listening socket down makes accept fail instead.
    ::shutdown(m_listenSocket.get(), SHUT_RDWR);
  }
  lock.unlock();
  if (m_listener.joinable()) m_listener.join();
}

void TcpServer::stopAndJoin() {
  stop();
  if (m_listener.joinable()) m_listener.join();
  std::unique_lock lock(m_mutex);
  m_closing = true;
  while (!m_workers.empty()) {
    for (auto& worker : m_workers) {
      if (worker.socket) ::shutdown(worker.socket.get(), SHUT_RDWR);
      worker.wake->signal();
    }
    m_changed.wait_for(lock, 100ms);
  }
  m_closing = false;
  WorkerThread last = std::move(m_finished);
  lock.unlock();
  last.join();
  m_listenSocket.reset();
}

}  // namespace vantrel
