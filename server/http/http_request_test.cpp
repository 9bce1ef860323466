// SPDX-License-Identifier: MIT
#include "server/http/http_request.h"

#include <gtest/gtest.h>

namespace vantrel::server {
namespace {

TEST(HttpRequestTest, ReadsWhatClientsAndBrowsersSend) {
  struct Case {
    const char* name;
    std::string data;
    ParseStatus want;
    std::string path;
    std::string query;
    std::string body;
  };
  const std::string big(kMaxBodyBytes + 1, 'x');
  static constexpr char kNulHeader[] = "GET / HTTP/1.0\r\nX: a\0b\r\n\r\n";
  const Case cases[] = {
      {"client POST with backslash path and spare line ends",
       "POST /clientrequest?clientid=7 HTTP/1.0\r\nConnection: Keep-Alive\r\nHost: 10.0.0.1\r\nContent-type: "
       "application/x-www-form-urlencoded\r\nContent-length: 12\r\n\r\ncrypted=AAA=\r\n\r\n",
       ParseStatus::kComplete, "/clientrequest", "clientid=7", "crypted=AAA="},
      {"client path written with backslashes", "POST \\clientrequest HTTP/1.0\r\nContent-length: 0\r\n\r\n",
       ParseStatus::kComplete, "/clientrequest", "", ""},
      {"browser GET, bare line feeds", "get /browse.jsp?categoryid=3 HTTP/1.1\nHost: x\n\n", ParseStatus::kComplete,
       "/browse.jsp", "categoryid=3", ""},
      {"absolute URL", "GET http://host:80/server.html HTTP/1.0\r\n\r\n", ParseStatus::kComplete, "/server.html", "",
       ""},
      {"headers not finished", "GET / HTTP/1.0\r\nHost: x\r\n", ParseStatus::kNeedMore, "", "", ""},
      {"body not all there", "POST / HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc", ParseStatus::kNeedMore, "", "", ""},
      {"no method", " / HTTP/1.0\r\n\r\n", ParseStatus::kBad, "", "", ""},
      {"method of 11 characters", "GETGETGETGE / HTTP/1.0\r\n\r\n", ParseStatus::kBad, "", "", ""},
      {"no target", "GET\r\n\r\n", ParseStatus::kBad, "", "", ""},
      {"negative length", "POST / HTTP/1.0\r\nContent-Length: -5\r\n\r\n", ParseStatus::kBad, "", "", ""},
      {"length not a number", "POST / HTTP/1.0\r\nContent-Length: 1e3\r\n\r\n", ParseStatus::kBad, "", "", ""},
      {"two different lengths", "POST / HTTP/1.0\r\nContent-Length: 1\r\nContent-length: 2\r\n\r\nab",
       ParseStatus::kBad, "", "", ""},
      {"chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", ParseStatus::kBad, "", "", ""},
      {"NUL in a header", std::string(kNulHeader, sizeof kNulHeader - 1), ParseStatus::kBad, "", "", ""},
      {"body over the limit", "POST / HTTP/1.0\r\nContent-Length: " + std::to_string(kMaxBodyBytes + 1) + "\r\n\r\n",
       ParseStatus::kTooLarge, "", "", ""},
      {"headers over the limit", "GET / HTTP/1.0\r\nX: " + big.substr(0, kMaxHeaderBytes), ParseStatus::kTooLarge,
       "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpRequest r;
    ASSERT_EQ(parseHttpRequest(c.data, r), c.want);
    if (c.want != ParseStatus::kComplete) continue;
    EXPECT_EQ(r.path, c.path);
    EXPECT_EQ(r.query, c.query);
    EXPECT_EQ(r.body, c.body);
  }
}

TEST(HttpRequestTest, TooManyHeaderLinesAreRefused) {
  std::string data = "GET / HTTP/1.0\r\n";
  for (size_t i = 0; i <= kMaxHeaderLines; ++i) data += "X: y\r\n";
  data += "\r\n";
  HttpRequest r;
  EXPECT_EQ(parseHttpRequest(data, r), ParseStatus::kTooLarge);
}

TEST(HttpRequestTest, ResponseCarriesLengthAndClosesTheConnection) {
  HttpResponse r;
  r.body = "result=0&";
  EXPECT_EQ(r.serialize(),
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 9\r\nConnection: close\r\n"
            "Cache-Control: no-store\r\n\r\nresult=0&");
  r.announceLength = false;
  EXPECT_EQ(r.serialize(),
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
            "Cache-Control: no-store\r\n\r\nresult=0&");
}

}  // namespace
}  // namespace vantrel::server
