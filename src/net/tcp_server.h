// SPDX-License-Identifier: MIT
#pragma once
// TcpServer: a listening IPv4 TCP server with one listener thread and one worker
// thread per accepted connection. Subclasses say what a connection is through
// createConnection(). At most maxConnections() connections are served at once,
// and at most connectionsPerAddress() from any one remote address; past either a
// connection is answered through its refuse(). Thread-safe: listen,
// start and stop come from the owner's thread; connections run on their own
// threads and may call connectionCount() and ownAddress() at any time. The
// destructor stops the server and waits for every connection thread, so
// subclasses must call stopAndJoin() in their own destructor before their
// members go.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp_connection.h"
#include "net/worker_thread.h"
#include "platform/unique_fd.h"

namespace vantrel {

// Results of TcpServer::listen.
enum ListenResult : int {
  kListenOk = 0,
  kListenNoSocketLibrary = 1,
  kListenNoSocket = 2,
  kListenBindFailed = 3,
  kListenFailed = 4,
};

class TcpServer {
 public:
  static constexpr std::size_t kDefaultMaxConnections = 200;
  // Stack of a connection thread unless the subclass asks for more (a server
  // whose connections render pages sizes it for the renderer's deepest nesting).
  static constexpr std::size_t kDefaultConnectionStackBytes = 1024 * 1024;

  TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;
  virtual ~TcpServer();

  // Binds to any local address on `port` (0: one the system picks) and listens.
  // Records the host's own address (ownAddress). Returns a ListenResult.
  int listen(uint16_t port);
  // Starts the listener thread: 0, or 1 when already running or it cannot start.
  int start();
  // Stops accepting: wakes the blocking accept and waits up to 5 s for the
  // listener thread. Connections being served run to their end.
  void stop();
  // stop(), then ends every connection's socket and waits for their threads.
  void stopAndJoin();
  // stop(), then closes the listening socket so that the port is free for
  // another listener until listen() is called again.
  void stopListening();

  uint16_t port() const { return m_port; }
  bool running() const { return m_running; }
  std::size_t connectionCount() const { return m_count; }
  // Connection threads waiting for the next connection.
  std::size_t idleWorkerCount() const;
  std::size_t maxConnections() const { return m_maxConnections; }
  void setMaxConnections(std::size_t count) { m_maxConnections = count; }
  // Connections served at once from one remote address; 0 (the default): no
  // cap but the total. One sender cannot then hold every connection.
  std::size_t connectionsPerAddress() const { return m_perAddress; }
  void setConnectionsPerAddress(std::size_t count) { m_perAddress = count; }
  // True from three quarters of maxConnections() on: connections still reading
  // their request should then be given less time, so that slow senders give
  // their places up sooner.
  bool nearConnectionLimit() const { return m_count * 4 >= m_maxConnections * 3; }
  // When on and the server is full, a new connection takes the place of the
  // one that has been reading its request head longest, once that one has
  // been at it for `after`: its socket is shut down. Senders on many
  // addresses, each trickling a head and coming back when cut, then cannot
  // keep real requests out. Connections say when their head is in through
  // TcpConnection::headRead(); until then they count as reading it. Off by
  // default: only servers whose connections report their head may use it.
  void setSlowHeadEviction(bool on, std::chrono::milliseconds after = std::chrono::seconds(1)) {
    m_evictAfterMs = on ? after.count() : -1;
  }
  // Called through TcpConnection::headRead from the connection's thread.
  void requestHeadRead(int socket);
  // Takes effect for connections accepted afterwards.
  void setConnectionStackBytes(std::size_t bytes) { m_stackBytes = bytes; }
  // Dotted text of the host's own address as found at listen (the last one the
  // resolver lists); "" when none was found.
  std::string ownAddress() const;

 protected:
  virtual std::unique_ptr<TcpConnection> createConnection() = 0;
  // Called after listen found the host's own address.
  virtual void ownAddressFound(const std::string& /*address*/) {}

 private:
  // A wake-up for one idle worker, with a lock of its own so that waking it
  // never holds the server's lock.
  struct Wake {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;  // guarded by mutex
    void signal();
    // Waits for a signal until `until` and takes it; false at the time-out.
    bool waitUntil(std::chrono::steady_clock::time_point until);
  };

  // A connection thread. After its connection it waits a while for the next
  // one, so that a run of short requests does not create a thread for each.
  struct Worker {
    UniqueFd socket;  // invalid while idle
    sockaddr_in peer{};
    bool overLimit = false;
    bool countedAddress = false;  // holds a place in m_perAddressCount
    bool readingHead = false;     // admitted, its request head not yet in
    std::chrono::steady_clock::time_point admitted;
    bool idle = false;
    // Shared with the listener, which wakes the worker after it has let go of
    // the server's lock: by then the worker may have served, finished and ended.
    std::shared_ptr<Wake> wake = std::make_shared<Wake>();
    WorkerThread thread;
  };

  void acceptLoop();
  void serve(std::list<Worker>::iterator worker);
  void serveOne(Worker& worker);
  // Hands the connection to an idle worker; false when none waits.
  bool handToIdleWorker(UniqueFd& socket, const sockaddr_in& peer);
  // Under m_mutex: whether `worker`, just given its peer, is over a limit; takes
  // its place in its address's count when it is not.
  void admit(Worker& worker);
  // Under m_mutex: gives back the place admit took.
  void release(Worker& worker);
  // Under m_mutex: cuts the connection that has read its head longest (past
  // the eviction age) so that `newcomer` may have its place; false when none.
  bool makeRoomFor(const Worker& newcomer);
  void refuseInline(UniqueFd socket, const sockaddr_in& peer);
  void recordOwnAddress();

  UniqueFd m_listenSocket;
  uint16_t m_port = 0;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_stopRequest{false};
  std::atomic<std::size_t> m_count{0};
  std::atomic<std::size_t> m_maxConnections{kDefaultMaxConnections};
  std::atomic<std::size_t> m_perAddress{0};
  std::atomic<int64_t> m_evictAfterMs{-1};  // -1: no eviction
  std::atomic<std::size_t> m_stackBytes{kDefaultConnectionStackBytes};

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::list<Worker> m_workers;   // guarded by m_mutex; newest first
  // The idle ones among them, the last to finish on top: it takes the next
  // connection, warm, while the others time out and end.
  std::vector<Worker*> m_idle;   // guarded by m_mutex
  std::map<uint32_t, std::size_t> m_perAddressCount;  // guarded by m_mutex; admitted connections
  bool m_closing = false;        // guarded by m_mutex; idle workers end
  WorkerThread m_finished;       // guarded by m_mutex; the last thread that ended
  bool m_listenerDone = true;    // guarded by m_mutex
  std::string m_ownAddress;      // guarded by m_mutex

  std::jthread m_listener;
};

}  // namespace vantrel
