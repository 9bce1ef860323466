// SPDX-License-Identifier: MIT
#include "server/http/proxy_header.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel::server {
namespace {

TEST(ProxyHeaderTest, ProxyLines) {
  struct Case {
    const char* name;
    std::string input;
    ProxyLineStatus want;
    bool ended;  // the line ends within the input: its length is known
    const char* source;
  };
  const std::string tcp4 = "PROXY TCP4 192.0.2.7 127.0.0.2 51234 7001\r\n";
  const Case cases[] = {
      {"tcp4 before a request", tcp4 + "GET / HTTP/1.0\r\n\r\n", ProxyLineStatus::kComplete, true, "192.0.2.7"},
      {"tcp6", "PROXY TCP6 2001:db8::7 2001:db8::1 1 65535\r\n", ProxyLineStatus::kComplete, true, "2001:db8::7"},
      {"ipv4 through a dual-stack proxy", "PROXY TCP6 ::ffff:192.0.2.7 ::1 1 2\r\n", ProxyLineStatus::kComplete, true,
       "192.0.2.7"},
      {"unknown: the proxy's own connection", "PROXY UNKNOWN\r\n", ProxyLineStatus::kComplete, true, ""},
      {"unknown with addresses", "PROXY UNKNOWN 1 2 3 4\r\n", ProxyLineStatus::kComplete, true, ""},
      {"a plain request", "GET / HTTP/1.0\r\n\r\n", ProxyLineStatus::kNone, false, ""},
      {"lower case is no signature", "proxy TCP4 192.0.2.7 127.0.0.2 1 2\r\n", ProxyLineStatus::kNone, false, ""},
      {"signature in part", "PROX", ProxyLineStatus::kNeedMore, false, ""},
      {"line in part", "PROXY TCP4 192.0.2.7 12", ProxyLineStatus::kNeedMore, false, ""},
      {"never ends", "PROXY TCP4 " + std::string(120, '1'), ProxyLineStatus::kBad, false, ""},
      {"too long though ended", "PROXY UNKNOWN " + std::string(100, 'x') + "\r\n", ProxyLineStatus::kBad, false, ""},
      {"family mismatch", "PROXY TCP4 2001:db8::7 127.0.0.2 1 2\r\n", ProxyLineStatus::kBad, true, ""},
      {"host name", "PROXY TCP4 example.org 127.0.0.2 1 2\r\n", ProxyLineStatus::kBad, true, ""},
      {"port too large", "PROXY TCP4 192.0.2.7 127.0.0.2 65536 2\r\n", ProxyLineStatus::kBad, true, ""},
      {"port with a leading zero", "PROXY TCP4 192.0.2.7 127.0.0.2 01 2\r\n", ProxyLineStatus::kBad, true, ""},
      {"two spaces", "PROXY TCP4 192.0.2.7  127.0.0.2 1 2\r\n", ProxyLineStatus::kBad, true, ""},
      {"a field missing", "PROXY TCP4 192.0.2.7 127.0.0.2 1\r\n", ProxyLineStatus::kBad, true, ""},
      {"unknown protocol", "PROXY UDP4 192.0.2.7 127.0.0.2 1 2\r\n", ProxyLineStatus::kBad, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProxyLine line = parseProxyLine(c.input);
    EXPECT_EQ(line.status, c.want);
    if (c.ended) {
      EXPECT_EQ(line.length, c.input.find("\r\n") + 2);
    }
    EXPECT_EQ(line.source, c.source);
  }
}

TEST(ProxyHeaderTest, TheLastForwardedAddressIsTheProxys) {
  struct Case {
    const char* value;
    const char* want;
  };
  const Case cases[] = {
      {"192.0.2.7", "192.0.2.7"},
      {"10.9.9.9, 192.0.2.7", "192.0.2.7"},  // the first is whatever the client wrote
      {" 2001:db8::7 ", "2001:db8::7"},
      {"192.0.2.7, unknown", ""},
      {"", ""},
      {"192.0.2.7:5000", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(lastForwardedFor(c.value), c.want);
  }
}

}  // namespace
}  // namespace vantrel::server
