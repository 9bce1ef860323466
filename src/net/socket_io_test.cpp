// SPDX-License-Identifier: MIT
#include "net/socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <thread>

#include "net/test_sockets.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::loopbackPair;
using testing::readAll;
using testing::sendAll;

TEST(SocketIo, ReadLineTakesOneLineAndLeavesTheRestInTheSocket) {
  auto [server, client] = loopbackPair();
  ASSERT_TRUE(server && client);
  sendAll(client.get(), "GET /getfile/ HTTP/1.0\r\nRange: bytes=1-\r\n\r\nbody");
  ASSERT_TRUE(testing::waitFor([&] { return dataWaiting(server.get()); }));

  std::string line;
  EXPECT_EQ(readLine(server.get(), line, 700, 2), 24u);
  EXPECT_EQ(line, "GET /getfile/ HTTP/1.0\r\n");
  EXPECT_EQ(readLine(server.get(), line, 1000, 1), 17u);
  EXPECT_EQ(line, "Range: bytes=1-\r\n");
  EXPECT_EQ(readLine(server.get(), line, 1000, 1), 2u);
  EXPECT_EQ(line, "\r\n");
  client.reset();
  EXPECT_EQ(readLine(server.get(), line, 1000, 1), 4u);
  EXPECT_EQ(line, "body");
}

TEST(SocketIo, ReadLineStoresAtMostSizeMinusOneBytesAndTerminates) {
  auto [server, client] = loopbackPair();
  sendAll(client.get(), "abcdefghij\r\n");
  char buffer[6];
  std::fill(std::begin(buffer), std::end(buffer), 'x');
  EXPECT_EQ(readLine(server.get(), buffer, 1), 5u);
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_EQ(readLine(server.get(), buffer, 1), 5u);
  EXPECT_STREQ(buffer, "fghij");
  EXPECT_EQ(readLine(server.get(), buffer, 1), 2u);
  EXPECT_STREQ(buffer, "\r\n");
}

TEST(SocketIo, ReadLineJoinsACrLfSplitAcrossTwoSegments) {
  auto [server, client] = loopbackPair();
  std::jthread writer([fd = client.get()] {
    sendAll(fd, "Host: a\r");
    std::this_thread::sleep_for(50ms);
    sendAll(fd, "\nNext: b\r\n");
  });
  std::string line;
  EXPECT_EQ(readLine(server.get(), line, 100, 2), 9u);
  EXPECT_EQ(line, "Host: a\r\n");
  writer.join();
  EXPECT_EQ(readLine(server.get(), line, 100, 2), 9u);
  EXPECT_EQ(line, "Next: b\r\n");
}

TEST(SocketIo, ReadLineGivesUpWhenNothingComesWithinTheWait) {
  auto [server, client] = loopbackPair();
  std::string line;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(readLine(server.get(), line, 100, 1), 0u);
  EXPECT_EQ(line, "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
}

TEST(SocketIo, DeadlineBoundsAPeerThatTricklesBytes) {
  auto [server, client] = loopbackPair();
  std::atomic<bool> stop{false};
  std::jthread trickler([fd = client.get(), &stop] {
    for (int i = 0; i < 200 && !stop; ++i) {
      sendAll(fd, "x");
      std::this_thread::sleep_for(20ms);
    }
  });
  std::string line;
  const auto start = std::chrono::steady_clock::now();
  const std::size_t n = readLine(server.get(), line, 700, 2, start + 300ms);
  stop = true;
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, 100u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(SocketIo, TrimLineEndDropsTheLastTwoWhenTheSecondToLastIsALineEnd) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"abc\r\n", "abc"}, {"abc\n", "abc"},  {"abc\r", "abc"},   {"abc", "abc"},
      {"\r", ""},         {"\n", ""},        {"", ""},           {"ab\n\r", "ab"},
      {"a\r\n\r\n", "a\r\n"},
      // The rule looks at the second-to-last character whatever the last one is.
      {"ab\nc", "ab"}, {"a\rb", "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    std::string s = c.in;
    trimLineEnd(s);
    EXPECT_EQ(s, c.want);
    EXPECT_EQ(withoutLineEnd(c.in), c.want);
  }
}

TEST(SocketIo, DrainEmptiesWhatIsWaitingWithoutBlocking) {
  auto [server, client] = loopbackPair();
  EXPECT_FALSE(dataWaiting(server.get()));
  sendAll(client.get(), std::string(5000, 'q'));
  ASSERT_TRUE(testing::waitFor([&] { return dataWaiting(server.get()); }));
  ASSERT_TRUE(testing::waitFor([&] {
    drain(server.get());
    return !dataWaiting(server.get());
  }));
  drain(server.get());  // nothing waiting: returns at once
}

TEST(SocketIo, SendInPiecesDeliversABodyLargerThanTheSendBuffer) {
  auto [server, client] = loopbackPair();
  EXPECT_GT(sendBufferSize(server.get()), 0);
  EXPECT_EQ(sendBufferSize(-1), 0);
  std::string body(3 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
  std::string received;
  std::jthread reader([&, fd = client.get()] { received = readAll(fd); });
  EXPECT_TRUE(sendInPieces(server.get(), body));
  server.reset();
  reader.join();
  EXPECT_EQ(received, body);
}

TEST(SocketIo, SendsToAClosedPeerFailWithoutSignal) {
  auto [server, client] = loopbackPair();
  client.reset();
  const std::string big(1 << 20, 'z');
  ASSERT_TRUE(testing::waitFor([&] { return sendText(server.get(), big) < 0; }));
  EXPECT_FALSE(sendInPieces(server.get(), big));
}

TEST(SocketIo, PeerAddressIsDottedText) {
  auto [server, client] = loopbackPair();
  EXPECT_EQ(peerAddressText(server.get()), "127.0.0.1");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(0xFFFFFFFE);
  EXPECT_EQ(peerAddressText(address), "255.255.255.254");
  address.sin_family = AF_INET6;
  EXPECT_EQ(peerAddressText(address), std::nullopt);
  EXPECT_EQ(peerAddressText(-1), std::nullopt);
}

// A second client on this computer finds the port after the one the first holds.
TEST(SocketIo, FirstFreeTcpPortSkipsPortsThatAreListenedOn) {
  UniqueFd held(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t length = sizeof at;
  ASSERT_EQ(::bind(held.get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(held.get(), 1), 0);
  ASSERT_EQ(::getsockname(held.get(), reinterpret_cast<sockaddr*>(&at), &length), 0);
  const int taken = ntohs(at.sin_port);

  const int next = firstFreeTcpPort(taken);
  EXPECT_GT(next, taken);
  EXPECT_LT(next, taken + kPortSearchSpan);
  EXPECT_EQ(firstFreeTcpPort(taken, 1), -1);
  EXPECT_EQ(firstFreeTcpPort(70000), -1);
}

// A port left to the system is known before anything listens on it, and can
// then be listened on.
TEST(SocketIo, SystemPickedTcpPortCanBeListenedOn) {
  const int picked = systemPickedTcpPort();
  ASSERT_GT(picked, 0);
  EXPECT_EQ(firstFreeTcpPort(picked, 1), picked);
}

}  // namespace
}  // namespace vantrel
