// SPDX-License-Identifier: MIT
#include "net/head_reader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>
#include <vector>

#include "net/test_sockets.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::loopbackPair;
using testing::readAll;
using testing::sendAll;

TEST(HeadReader, NextLineEndsAtCrLfOrTheBufferAsReadLineDoes) {
  struct Case {
    const char* name;
    std::string_view pending;
    std::size_t maxBytes;
    std::string_view want;
  };
  const Case cases[] = {
      {"whole line", "GET / HTTP/1.0\r\nHost: a\r\n", 100, "GET / HTTP/1.0\r\n"},
      {"empty line", "\r\nbody", 100, "\r\n"},
      {"cut at size minus one", "abcdefghij\r\n", 6, "abcde"},
      {"line end just fits", "abcd\r\nx", 7, "abcd\r\n"},
      {"CR cut from its LF", "abcd\r\nx", 6, "abcd\r"},
      {"the LF left over starts the next line", "\nHost: a\r\n", 100, "\nHost: a\r\n"},
      {"a lone LF does not end a line", "a\nb\r\n", 100, "a\nb\r\n"},
      {"no line end", "abc", 100, "abc"},
      {"no room", "abc\r\n", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(nextHeadLine(c.pending, c.maxBytes), c.want);
  }
}

struct HeadRead {
  std::vector<std::string> lines;
  std::string rest;  // what the socket holds afterwards
};

// Reads a head the way the file server does (a request line, then header lines
// up to the empty one or the block limit), with `read` doing each line.
template <typename ReadLine>
HeadRead readHead(std::size_t lineBytes, std::size_t blockLimit, ReadLine read) {
  HeadRead out;
  std::string line;
  std::size_t block = 0;
  if (read(line, lineBytes) == 0) return out;
  out.lines.push_back(line);
  while (block < blockLimit) {
    if (read(line, lineBytes) == 0) break;
    out.lines.push_back(line);
    block += line.size();
    if (line == "\r\n" || line == "\n") break;
  }
  return out;
}

TEST(HeadReader, ReadsTheLinesReadLineReadsAndLeavesTheSameBytesBehind) {
  struct Case {
    const char* name;
    std::string input;
    std::size_t lineBytes;
    std::size_t blockLimit;
  };
  const std::string big(HeadReader::kLookBytes, 'h');
  const Case cases[] = {
      {"head and body", "POST /sendfile/ HTTP/1.0\r\nContent-length: 4\r\n\r\nbody", 1000, 3500},
      {"lines cut at the buffer", "GET /template/abcdefghijkl HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\nafter", 9, 3500},
      {"a CR cut from its LF", "GET /a HTTP/1.0\r\nHost: a\r\n\r\nx", 17, 3500},
      {"the block limit stops before the empty line", "GET / HTTP/1.0\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\nbody", 100, 10},
      {"no empty line yet", "GET / HTTP/1.0\r\nHost: a\r\n", 100, 3500},
      {"a head longer than one look", "GET / HTTP/1.0\r\nX: " + big + "\r\n\r\nbody", 1000, 3500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto [plainServer, plainClient] = loopbackPair();
    auto [server, client] = loopbackPair();
    ASSERT_TRUE(plainServer && plainClient && server && client);
    sendAll(plainClient.get(), c.input);
    sendAll(client.get(), c.input);
    ::shutdown(plainClient.get(), SHUT_WR);
    ::shutdown(client.get(), SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + 5s;

    HeadRead want = readHead(c.lineBytes, c.blockLimit, [&](std::string& line, std::size_t n) {
      return readLine(plainServer.get(), line, n, 1, deadline);
    });
    want.rest = readAll(plainServer.get());
    HeadReader reader(server.get());
    HeadRead got = readHead(c.lineBytes, c.blockLimit, [&](std::string& line, std::size_t n) {
      return reader.readLine(line, n, 1, deadline);
    });
    EXPECT_TRUE(reader.take());
    got.rest = readAll(server.get());
    EXPECT_EQ(got.lines, want.lines);
    EXPECT_EQ(got.rest, want.rest);
  }
}

TEST(HeadReader, AHeadThatArrivesInPiecesIsReadAsItComes) {
  auto [server, client] = loopbackPair();
  ASSERT_TRUE(server && client);
  std::jthread writer([fd = client.get()] {
    sendAll(fd, "GET / HTTP/1.0\r\nHo");
    std::this_thread::sleep_for(50ms);
    sendAll(fd, "st: a\r\n\r\nbody");
  });
  HeadReader reader(server.get());
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  ASSERT_EQ(reader.readLine(line, 100, 2, deadline), 16u);
  EXPECT_EQ(line, "GET / HTTP/1.0\r\n");
  ASSERT_EQ(reader.readLine(line, 100, 2, deadline), 9u);
  EXPECT_EQ(line, "Host: a\r\n");
  ASSERT_EQ(reader.readLine(line, 100, 2, deadline), 2u);
  EXPECT_TRUE(reader.take());
  writer.join();
  client.reset();
  EXPECT_EQ(readAll(server.get()), "body");
}

TEST(HeadReader, NothingArrivingWithinTheWaitReadsNothing) {
  auto [server, client] = loopbackPair();
  ASSERT_TRUE(server && client);
  HeadReader reader(server.get());
  std::string line = "stale";
  EXPECT_EQ(reader.readLine(line, 100, 0, std::chrono::steady_clock::now() + 100ms), 0u);
  EXPECT_TRUE(line.empty());
}

}  // namespace
}  // namespace vantrel
