// SPDX-License-Identifier: MIT
#include "fileserver/request_reader.h"

#include <gtest/gtest.h>

#include "core/base64.h"
#include "fileserver/testing_fakes.h"

namespace vantrel {
namespace {

using testing::ReversingCipher;

TEST(RequestLine, SplitsMethodAndUrl) {
  struct Case {
    const char* line;
    bool isRequest;
    HttpMethod method;
    const char* url;
  };
  const Case cases[] = {
      {"GET /getfile/?fileid=1 HTTP/1.0", true, HttpMethod::Get, "/getfile/?fileid=1"},
      {"get /template/x HTTP/1.1", true, HttpMethod::Get, "/template/x"},
      {"POST /addFiles/ HTTP/1.0", true, HttpMethod::Post, "/addFiles/"},
      {"GET /a b/ HTTP/1.0", true, HttpMethod::Get, "/a b/"},
      {"DELETE /x/ HTTP/1.0", true, HttpMethod::Other, "/x/"},
      {"GETTING /x/ HTTP/1.0", true, HttpMethod::Get, "/x/"},
      {"PROPFINDXYZ /x/ HTTP/1.0", false, HttpMethod::Other, ""},
      {"GET /x/", false, HttpMethod::Other, ""},
      {"GET", false, HttpMethod::Other, ""},
      {"", false, HttpMethod::Other, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto r = splitRequestLine(c.line);
    ASSERT_EQ(r.has_value(), c.isRequest);
    if (!r) continue;
    EXPECT_EQ(r->method, c.method);
    EXPECT_EQ(r->url, c.url);
  }
}

TEST(Url, SplitsCommandResourceAndQuery) {
  const auto parts = splitUrl("/template/client-share_files_template.html?dirid=4&token=a$b");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->command, "template");
  EXPECT_EQ(parts->resource, "client-share_files_template.html");
  EXPECT_EQ(parts->path, "/client-share_files_template.html");
  EXPECT_EQ(parts->query, "dirid=4&token=a$b");

  EXPECT_FALSE(splitUrl("/getfile?fileid=1"));
  EXPECT_FALSE(splitUrl("getfile"));
  EXPECT_FALSE(splitUrl("/" + std::string(100, 'c') + "/"));
  EXPECT_TRUE(splitUrl("/" + std::string(99, 'c') + "/"));

  const auto longName = splitUrl("/images/" + std::string(160, 'n'));
  ASSERT_TRUE(longName);
  EXPECT_EQ(longName->resource, "");
  const auto bare = splitUrl("/getfile/");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->resource, "");
  EXPECT_FALSE(bare->query);
}

TEST(QueryString, ParsesNamesValuesAndTheEmptyValueRule) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::pair<std::string, std::vector<std::string>>> want;
  };
  const Case cases[] = {
      {"repeated names collect values", "fileid=1&fileid=2&x=y", {{"fileid", {"1", "2"}}, {"x", {"y"}}}},
      {"first empty value stays a space", "a=&b=2", {{"a", {" "}}, {"b", {"2"}}}},
      {"later empty values are empty", "a=1&b=&c=3", {{"a", {"1"}}, {"b", {""}}, {"c", {"3"}}}},
      {"missing last value is empty", "a=1&b=", {{"a", {"1"}}, {"b", {""}}}},
      {"form body behind CR LF", "\r\na=1", {{"a", {"1"}}}},
      {"plus and percent decode", "q=a+b%20c%2Bd", {{"q", {"a b c+d"}}}},
      {"decoded percent is not decoded again", "q=%2541", {{"q", {"%41"}}}},
      {"bad hex reads as far as it can", "q=%4z!", {{"q", {"\x04!"}}}},
      {"percent at the end", "q=ab%4", {{"q", {"ab\x04"}}}},
      {"a decoded zero ends the value", "q=ab%00cd", {{"q", {"ab"}}}},
      {"short @ value is a plain one", "@t=ab", {{"@t", {"ab"}}}},
      {"@ value is decoded and decrypted", "@token=" + base64Encode("cba") + " ", {{"token", {"abc"}}}},
  };
  ReversingCipher cipher;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RequestParams params;
    parseQueryString(c.text, params, &cipher);
    EXPECT_EQ(params.size(), c.want.size());
    for (const auto& [name, values] : c.want) EXPECT_EQ(params.all(name), values) << name;
  }
}

TEST(QueryString, RemembersWhichValuesCameInTheClear) {
  ReversingCipher cipher;
  RequestParams params;
  parseQueryString("@token=" + base64Encode("x$y$z") + "&fileid=1", params, &cipher);
  EXPECT_FALSE(params.receivedPlain("token"));
  EXPECT_TRUE(params.receivedPlain("fileid"));
  parseQueryString("token=a$b", params, &cipher);
  EXPECT_TRUE(params.receivedPlain("token"));
  EXPECT_EQ(*params.first("token"), "z$y$x");
}

TEST(HeaderBlock, FillsParamsWithTheTextBetweenColons) {
  RequestParams params;
  params.append("Range", "from the query");
  addHeaderParams("Range: bytes=5-\r\nHost: h:8323\r\nEmpty\r\nReferer: http://x/y\r\n\r\n", params);
  EXPECT_EQ(params.all("Range"), std::vector<std::string>{" bytes=5-"});
  EXPECT_EQ(*params.first("Host"), " h");
  EXPECT_EQ(*params.first("Empty"), "");
  EXPECT_EQ(*params.first("Referer"), " http");

  const auto lines = headerLines("Host: h:8323\r\nReferer: http://x/y \r\nbroken\r\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].value, "h:8323");
  EXPECT_EQ(lines[1].value, "http://x/y");
}

TEST(HeaderBlock, RecognisesTheOwnClientUserAgent) {
  struct Case {
    const char* line;
    bool own;
  };
  const Case cases[] = {
      {"User-Agent: Vantrel Client/201/windows\r\n", true},
      {"user-agent:vantrel client/5/linux", true},
      {"User-Agent: Vantrel Client/0/windows", false},
      {"User-Agent: Vantrel Client/201", false},
      {"User-Agent: Mozilla/5.0 (X11)", false},
      {"X-User-Agent: Vantrel Client/201/windows", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(isOwnClientUserAgent(c.line), c.own);
  }
}

TEST(HeaderBlock, ContentLengthMustBeASmallNumber) {
  struct Case {
    const char* line;
    std::optional<long long> want;
  };
  const Case cases[] = {
      {"Content-length: 42", 42},
      {"content-LENGTH:7 extra", 7},
      {"Content-length: 1048576", 1048576},
      {"Content-length: 1048577", -1},
      {"Content-length: 123456789012345678901", -1},
      {"Content-length: -5", -1},
      {"Content-length: ten", -1},
      {"Content-length:", -1},
      {"Content-type: text/plain", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(contentLengthOf(c.line, 1 << 20), c.want);
  }
}

}  // namespace
}  // namespace vantrel
