// SPDX-License-Identifier: MIT
#include "server/http/http_listener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <vector>

#include "net/test_sockets.h"

namespace vantrel::server {
namespace {

using namespace std::chrono_literals;
using vantrel::testing::connectLoopback;
using vantrel::testing::readAll;
using vantrel::testing::sendAll;
using vantrel::testing::waitFor;

class HttpListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(listener.listen("127.0.0.1", 0, error)) << error;
    listener.start();
  }

  // One whole request from `from`; the reply, or "" when none came in time.
  std::string ask(const char* from, std::chrono::milliseconds limit = 2s) {
    UniqueFd fd = connectLoopback(listener.port(), from);
    if (!fd) return "connect failed";
    sendAll(fd.get(), "GET /ping HTTP/1.0\r\nHost: x\r\n\r\n");
    return readAll(fd.get(), limit);
  }

  HttpListener listener{[](const HttpRequest& request, const std::string& peerIp) {
    HttpResponse r;
    r.body = request.path + " from " + peerIp;
    return r;
  }};
};

TEST_F(HttpListenerTest, SlowSendersDoNotHoldTheWorkers) {
  // Far more trickling senders than workers, from several addresses, each
  // sending a part of a request line and then nothing.
  std::vector<UniqueFd> slow;
  const char* addresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
  for (int i = 0; i < 3 * 20; ++i) {
    slow.push_back(connectLoopback(listener.port(), addresses[i % 3]));
    ASSERT_TRUE(slow.back());
    sendAll(slow.back().get(), "GET /slo");
  }
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const std::string reply = ask("127.0.0.1");
    EXPECT_EQ(reply.substr(0, 12), "HTTP/1.0 200");
    EXPECT_NE(reply.find("/ping from 127.0.0.1"), std::string::npos);
  }
}

TEST_F(HttpListenerTest, OneAddressGetsOnlySoManyUnfinishedRequests) {
  std::vector<UniqueFd> slow;
  for (size_t i = 0; i < HttpListener::kMaxReadingPerAddress; ++i) {
    slow.push_back(connectLoopback(listener.port(), "127.0.0.2"));
    ASSERT_TRUE(slow.back());
    sendAll(slow.back().get(), "GET /slo");
  }
  // Accepted and read by now: the next one from that address is turned away...
  ASSERT_TRUE(waitFor([&] { return ask("127.0.0.2", 1s).find("HTTP/1.0 503") == 0; }));
  // ...while other addresses are served.
  EXPECT_NE(ask("127.0.0.3").find("/ping from 127.0.0.3"), std::string::npos);
  // Once the slow ones go, the address is served again.
  slow.clear();
  EXPECT_TRUE(waitFor([&] { return ask("127.0.0.2", 1s).find("/ping from 127.0.0.2") != std::string::npos; }));
}

TEST_F(HttpListenerTest, ARequestCutShortGetsNoAnswerAndABadOneA400) {
  {
    UniqueFd fd = connectLoopback(listener.port());
    sendAll(fd.get(), "POST /x HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc");
    ::shutdown(fd.get(), SHUT_WR);
    EXPECT_EQ(readAll(fd.get(), 2s), "");
  }
  UniqueFd fd = connectLoopback(listener.port());
  sendAll(fd.get(), "GET\r\n\r\n");
  EXPECT_EQ(readAll(fd.get(), 2s).substr(0, 12), "HTTP/1.0 400");
}

// Two listeners that know 127.0.0.5 as their proxy: the address of a request
// is the one the proxy names, and only the proxy can name one.
TEST(HttpListenerProxyTest, OnlyTheConfiguredProxyNamesTheRealAddress) {
  HttpListener listener{[](const HttpRequest&, const std::string& peerIp) {
    HttpResponse r;
    r.body = "from " + peerIp;
    return r;
  }};
  listener.setProxies({"127.0.0.5"});
  std::string error;
  ASSERT_TRUE(listener.listen("127.0.0.1", 0, error)) << error;
  listener.start();
  struct Case {
    const char* name;
    const char* from;
    std::string request;
    std::string want;
  };
  const std::string proxyLine = "PROXY TCP4 192.0.2.7 127.0.0.1 51234 7001\r\n";
  const std::string get = "GET / HTTP/1.0\r\n\r\n";
  const std::string forwarded = "GET / HTTP/1.0\r\nX-Forwarded-For: 10.1.1.1, 198.51.100.4\r\n\r\n";
  const Case cases[] = {
      {"PROXY line from the proxy", "127.0.0.5", proxyLine + get, "from 192.0.2.7"},
      {"health check of the proxy", "127.0.0.5", "PROXY UNKNOWN\r\n" + get, "from 127.0.0.5"},
      {"the proxy without a PROXY line", "127.0.0.5", get, "from 127.0.0.5"},
      {"X-Forwarded-For from the proxy", "127.0.0.5", forwarded, "from 198.51.100.4"},
      // A proxy that passes TCP whole passes the client's own header too.
      {"the client's header behind a PROXY line", "127.0.0.5", proxyLine + forwarded, "from 192.0.2.7"},
      {"PROXY line from anyone else", "127.0.0.6", proxyLine + get, "from 127.0.0.6"},
      {"X-Forwarded-For from anyone else", "127.0.0.6", forwarded, "from 127.0.0.6"},
      {"a broken PROXY line from the proxy", "127.0.0.5", "PROXY TCP4 nobody\r\n" + get, "HTTP/1.0 400"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueFd fd = connectLoopback(listener.port(), c.from);
    ASSERT_TRUE(fd);
    sendAll(fd.get(), c.request);
    EXPECT_NE(readAll(fd.get(), 2s).find(c.want), std::string::npos);
  }
}

}  // namespace
}  // namespace vantrel::server
