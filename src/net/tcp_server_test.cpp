// SPDX-License-Identifier: MIT
#include "net/tcp_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "net/socket_io.h"
#include "net/test_sockets.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::connectLoopback;
using testing::readAll;
using testing::sendAll;
using testing::waitFor;

class DefaultServer : public TcpServer {
 public:
  ~DefaultServer() override { stopAndJoin(); }

 protected:
  std::unique_ptr<TcpConnection> createConnection() override { return std::make_unique<TcpConnection>(); }
};

// Holds every handled connection open until released, so tests can fill the server.
class Gate {
 public:
  void waitOpen() {
    std::unique_lock lock(m_mutex);
    ++m_waiting;
    m_cv.wait(lock, [this] { return m_open; });
  }
  void open() {
    std::scoped_lock lock(m_mutex);
    m_open = true;
    m_cv.notify_all();
  }
  int waiting() {
    std::scoped_lock lock(m_mutex);
    return m_waiting;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_open = false;  // guarded by m_mutex
  int m_waiting = 0;    // guarded by m_mutex
};

class GatedConnection : public TcpConnection {
 public:
  explicit GatedConnection(Gate& gate) : m_gate(gate) {}
  void handle() override {
    m_gate.waitOpen();
    sendText(socket(), "served");
  }

 private:
  Gate& m_gate;
};

class GatedServer : public TcpServer {
 public:
  ~GatedServer() override {
    gate.open();
    stopAndJoin();
  }
  Gate gate;

 protected:
  std::unique_ptr<TcpConnection> createConnection() override { return std::make_unique<GatedConnection>(gate); }
};

TEST(TcpServer, DefaultConnectionAnswersAndCloses) {
  DefaultServer server;
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_NE(server.port(), 0);
  ASSERT_EQ(server.start(), 0);
  EXPECT_EQ(server.start(), 1);  // already running
  auto client = connectLoopback(server.port());
  ASSERT_TRUE(client);
  sendAll(client.get(), "hello\r\n");
  EXPECT_EQ(readAll(client.get()), "Connect Successful ... Now Disconnecting.");
  EXPECT_TRUE(waitFor([&] { return server.connectionCount() == 0; }));
}

TEST(TcpServer, ListenReportsABusyPortAsBindFailure) {
  DefaultServer first;
  ASSERT_EQ(first.listen(0), kListenOk);
  DefaultServer second;
  EXPECT_EQ(second.listen(first.port()), kListenBindFailed);
  EXPECT_EQ(second.start(), 1);  // nothing to run on
}

TEST(TcpServer, StopListeningLendsThePortOutUntilListenAgain) {
  DefaultServer server;
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  const uint16_t port = server.port();
  server.stopListening();
  EXPECT_FALSE(server.running());
  {
    DefaultServer borrower;  // as the firewall check's probe listener does
    EXPECT_EQ(borrower.listen(port), kListenOk);
  }
  ASSERT_EQ(server.listen(port), kListenOk);
  ASSERT_EQ(server.start(), 0);
  auto client = connectLoopback(port);
  ASSERT_TRUE(client);
  sendAll(client.get(), "hello\r\n");
  EXPECT_EQ(readAll(client.get()), "Connect Successful ... Now Disconnecting.");
}

TEST(TcpServer, OwnAddressIsDottedTextWhenFound) {
  DefaultServer server;
  ASSERT_EQ(server.listen(0), kListenOk);
  const std::string own = server.ownAddress();
  if (!own.empty()) {
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, own.c_str(), &parsed), 1) << own;
  }
}

TEST(TcpServer, StopWakesTheListenerAndLeavesServedConnectionsRunning) {
  GatedServer server;
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  auto client = connectLoopback(server.port());
  ASSERT_TRUE(waitFor([&] { return server.gate.waiting() == 1; }));
  const auto before = std::chrono::steady_clock::now();
  server.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_FALSE(server.running());
  EXPECT_EQ(server.connectionCount(), 1u);
  server.gate.open();
  EXPECT_EQ(readAll(client.get()), "served");
}

TEST(TcpServer, ConnectionsPastTheLimitAreRefusedWhileTheOthersAreServed) {
  GatedServer server;
  server.setMaxConnections(3);
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  std::vector<UniqueFd> served;
  for (int i = 0; i < 3; ++i) served.push_back(connectLoopback(server.port()));
  ASSERT_TRUE(waitFor([&] { return server.gate.waiting() == 3; }));

  // Far more than the limit plus the refusal threads: the listener answers the
  // rest itself, and every one of them gets the refusal.
  std::vector<UniqueFd> refused;
  for (int i = 0; i < 150; ++i) {
    refused.push_back(connectLoopback(server.port()));
    ASSERT_TRUE(refused.back());
    sendAll(refused.back().get(), "GET / HTTP/1.0\r\n\r\n");
  }
  int answered = 0;
  for (auto& fd : refused) answered += readAll(fd.get(), 5s) == "Too Many Connections, Please Try Later." ? 1 : 0;
  EXPECT_EQ(answered, 150);

  server.gate.open();
  for (auto& fd : served) EXPECT_EQ(readAll(fd.get()), "served");
  EXPECT_TRUE(waitFor([&] { return server.connectionCount() == 0; }));
}

TEST(TcpServer, OneAddressHoldsNoMoreThanItsShareOfConnections) {
  GatedServer server;
  server.setConnectionsPerAddress(2);
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  std::vector<UniqueFd> served;
  for (int i = 0; i < 2; ++i) served.push_back(connectLoopback(server.port(), "127.0.0.2"));
  ASSERT_TRUE(waitFor([&] { return server.gate.waiting() == 2; }));

  struct Case {
    const char* from;
    bool refused;
  };
  const Case cases[] = {{"127.0.0.2", true}, {"127.0.0.2", true}, {"127.0.0.3", false}, {"127.0.0.1", false}};
  int admitted = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.from);
    auto fd = connectLoopback(server.port(), c.from);
    ASSERT_TRUE(fd);
    sendAll(fd.get(), "GET / HTTP/1.0\r\n\r\n");
    if (c.refused) {
      EXPECT_EQ(readAll(fd.get(), 5s), "Too Many Connections, Please Try Later.");
    } else {
      EXPECT_TRUE(waitFor([&] { return server.gate.waiting() == admitted + 1; }));
      ++admitted;
      served.push_back(std::move(fd));
    }
  }
  // Refusals are not served connections: the count holds the admitted ones only.
  EXPECT_EQ(server.connectionCount(), 4u);

  server.gate.open();
  for (auto& fd : served) EXPECT_EQ(readAll(fd.get()), "served");
  // The places are given back as the connections end: the address is served again.
  EXPECT_TRUE(waitFor([&] {
    auto again = connectLoopback(server.port(), "127.0.0.2");
    sendAll(again.get(), "GET / HTTP/1.0\r\n\r\n");
    return readAll(again.get()) == "served";
  }));
}

// Reads the request head up to its empty line, reports it, then waits at the
// gate; a connection cut before its head is in is counted.
class HeadReadingConnection : public TcpConnection {
 public:
  HeadReadingConnection(Gate& gate, std::atomic<int>& cut) : m_gate(gate), m_cut(cut) {}
  void handle() override {
    std::string head;
    char c = 0;
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (::recv(socket(), &c, 1, 0) != 1) {
        ++m_cut;
        return;
      }
      head += c;
    }
    headRead();
    m_gate.waitOpen();
    sendText(socket(), "served");
  }

 private:
  Gate& m_gate;
  std::atomic<int>& m_cut;
};

class HeadReadingServer : public TcpServer {
 public:
  ~HeadReadingServer() override {
    gate.open();
    stopAndJoin();
  }
  Gate gate;
  std::atomic<int> cut{0};

 protected:
  std::unique_ptr<TcpConnection> createConnection() override {
    return std::make_unique<HeadReadingConnection>(gate, cut);
  }
};

TEST(TcpServer, WhenFullTheConnectionLongestAtItsHeadGivesWayToANewOne) {
  HeadReadingServer server;
  server.setMaxConnections(3);
  server.setSlowHeadEviction(true, 0ms);
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  const std::string head = "GET / HTTP/1.0\r\n\r\n";
  std::vector<UniqueFd> served;
  served.push_back(connectLoopback(server.port()));
  sendAll(served.back().get(), head);
  ASSERT_TRUE(waitFor([&] { return server.gate.waiting() == 1; }));
  // Two senders that never finish their heads fill the server, the older first.
  std::vector<UniqueFd> slow;
  for (const char* from : {"127.0.0.2", "127.0.0.3"}) {
    slow.push_back(connectLoopback(server.port(), from));
    sendAll(slow.back().get(), "GET");
    ASSERT_TRUE(waitFor([&] { return server.connectionCount() == served.size() + slow.size(); }));
  }

  // Each real request takes the place of the oldest slow one; once none is
  // left, the next is refused as before.
  for (size_t i = 0; i < slow.size(); ++i) {
    SCOPED_TRACE(i);
    served.push_back(connectLoopback(server.port(), "127.0.0.4"));
    sendAll(served.back().get(), head);
    EXPECT_EQ(readAll(slow[i].get(), 5s), "");
    EXPECT_TRUE(waitFor([&] { return server.gate.waiting() == static_cast<int>(2 + i); }));
    EXPECT_TRUE(waitFor([&] { return server.cut.load() == static_cast<int>(i + 1); }));
  }
  auto refused = connectLoopback(server.port(), "127.0.0.5");
  sendAll(refused.get(), head);
  EXPECT_EQ(readAll(refused.get(), 5s), "Too Many Connections, Please Try Later.");

  server.gate.open();
  for (auto& fd : served) EXPECT_EQ(readAll(fd.get()), "served");
}

class ThreadRecordingServer : public TcpServer {
 public:
  ~ThreadRecordingServer() override { stopAndJoin(); }
  std::mutex mutex;
  std::vector<std::thread::id> threads;  // guarded by mutex

 protected:
  std::unique_ptr<TcpConnection> createConnection() override {
    {
      std::scoped_lock lock(mutex);
      threads.push_back(std::this_thread::get_id());
    }
    return std::make_unique<TcpConnection>();
  }
};

TEST(TcpServer, AFinishedConnectionThreadServesTheNextConnection) {
  ThreadRecordingServer server;
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  for (int i = 0; i < 3; ++i) {
    auto client = connectLoopback(server.port());
    sendAll(client.get(), "x\r\n");
    EXPECT_EQ(readAll(client.get()), "Connect Successful ... Now Disconnecting.");
    ASSERT_TRUE(waitFor([&] { return server.idleWorkerCount() == 1; }));
  }
  std::scoped_lock lock(server.mutex);
  ASSERT_EQ(server.threads.size(), 3u);
  EXPECT_EQ(server.threads[1], server.threads[0]);
  EXPECT_EQ(server.threads[2], server.threads[0]);
}

// Answers with the receive and send time-outs its socket carries, in seconds.
class TimeoutReportingServer : public TcpServer {
 public:
  ~TimeoutReportingServer() override { stopAndJoin(); }

 protected:
  class Connection : public TcpConnection {
   public:
    void handle() override {
      std::string answer;
      for (const int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
        timeval tv{};
        socklen_t length = sizeof tv;
        ::getsockopt(socket(), SOL_SOCKET, option, &tv, &length);
        answer += std::to_string(tv.tv_sec) + " ";
      }
      sendText(socket(), answer);
    }
  };
  std::unique_ptr<TcpConnection> createConnection() override { return std::make_unique<Connection>(); }
};

TEST(TcpServer, ServedConnectionsGiveUpOnASilentPeerAfterThirtySeconds) {
  TimeoutReportingServer server;
  ASSERT_EQ(server.listen(0), kListenOk);
  ASSERT_EQ(server.start(), 0);
  for (int i = 0; i < 2; ++i) {  // a new thread, then a reused one
    auto client = connectLoopback(server.port());
    ASSERT_TRUE(client);
    EXPECT_EQ(readAll(client.get()), "30 30 ");
    ASSERT_TRUE(waitFor([&] { return server.idleWorkerCount() == 1; }));
  }
}

TEST(TcpServer, DestructionEndsConnectionsThatAreStillReading) {
  auto client = UniqueFd();
  {
    DefaultServer server;
    ASSERT_EQ(server.listen(0), kListenOk);
    ASSERT_EQ(server.start(), 0);
    client = connectLoopback(server.port());
    ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 1; }));
  }  // the default handler blocks in its read; destruction must not hang
  // The socket was shut down under the handler, so the peer sees the close.
  EXPECT_EQ(readAll(client.get(), 2s), "");
}

}  // namespace
}  // namespace vantrel
