// SPDX-License-Identifier: MIT
#include "fileserver/token_check.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(CommandToken, AllowsOrNamesTheReason) {
  struct Case {
    const char* name;
    const char* token;  // nullptr: none
    const char* requester;
    const char* external;  // nullptr: not known
    int want;
  };
  const Case cases[] = {
      {"no token", nullptr, "10.0.0.9", nullptr, 43},
      {"one piece", "abc", "127.0.0.1", nullptr, 44},
      {"local requester, any second piece", "r$anything", "127.0.0.1", nullptr, 0},
      {"own address counts as local", "r$x", "192.168.1.5", nullptr, 0},
      {"no external: requester in the token", "r$10.0.0.9", "10.0.0.9", nullptr, 0},
      {"no external: someone else's token", "r$10.0.0.8", "10.0.0.9", nullptr, 49},
      {"external: third piece needed", "r$80.1.1.1", "10.0.0.9", "80.1.1.1", 46},
      {"external: for us", "r$80.1.1.1$192.168.1.5", "10.0.0.9", "80.1.1.1", 0},
      {"external: ours but wrong own address", "r$80.1.1.1$192.168.1.6", "10.0.0.9", "80.1.1.1", 48},
      {"other external with our own address", "r$80.9.9.9$192.168.1.5", "10.0.0.9", "80.1.1.1", 47},
      {"other external, other own address", "r$80.9.9.9$10.1.1.1", "10.0.0.9", "80.1.1.1", 0},
      {"doubled dollar gives no empty piece", "r$$10.0.0.9", "10.0.0.9", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string token = c.token ? c.token : "";
    RequesterAddresses a{c.requester, "192.168.1.5",
                         c.external ? std::optional<std::string>(c.external) : std::nullopt};
    EXPECT_EQ(checkCommandToken(c.token ? &token : nullptr, a), c.want);
  }
}

TEST(DownloadToken, ChecksAddressNetworkAndGroup) {
  struct Case {
    const char* name;
    const char* token;
    const char* requester;
    const char* external;
    int want;
  };
  const Case cases[] = {
      {"no token", nullptr, "10.0.0.9", nullptr, 26},
      {"empty token", "$$", "10.0.0.9", nullptr, 27},
      {"no external: requester matches", "10.0.0.9$7", "10.0.0.9", nullptr, 0},
      {"no external: another requester", "10.0.0.8$7", "10.0.0.9", nullptr, 28},
      {"no group piece", "10.0.0.9", "10.0.0.9", nullptr, 29},
      {"wrong group", "10.0.0.9$8", "10.0.0.9", nullptr, 30},
      {"same external from our network", "80.1.1.1$7", "192.168.1.77", "80.1.1.1", 0},
      {"same external from another network", "80.1.1.1$7", "192.168.2.77", "80.1.1.1", 28},
      {"other external is not checked", "80.2.2.2$7", "5.5.5.5", "80.1.1.1", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string token = c.token ? c.token : "";
    RequesterAddresses a{c.requester, "192.168.1.5",
                         c.external ? std::optional<std::string>(c.external) : std::nullopt};
    EXPECT_EQ(checkDownloadToken(c.token ? &token : nullptr, a, 7), c.want);
  }
}

TEST(BrowserCheck, RefusesPagesOfOtherSites) {
  const TrustedHosts trusted{{"127.0.0.1", "192.168.1.5"}, "myhost", "central.example:8080"};
  struct Case {
    const char* name;
    std::vector<HeaderLine> headers;
    bool allowed;
  };
  const Case cases[] = {
      {"no browser headers", {}, true},
      {"script with a host name header", {{"Host", "localhost:8323"}}, true},
      {"own address in Origin", {{"Origin", "http://192.168.1.5:8323"}, {"Host", "192.168.1.5:8323"}}, true},
      {"loopback Referer", {{"Referer", "http://127.0.0.1:8323/template/x"}}, true},
      {"central server page", {{"Origin", "https://Central.Example"}}, true},
      {"host name as the page's host", {{"Host", "MYHOST:8323"}}, true},
      {"host name in Origin is not an address", {{"Origin", "http://myhost:8323"}}, false},
      {"name beginning like loopback", {{"Origin", "http://127.evil.example"}}, false},
      {"name beginning with loopback", {{"Referer", "http://127.0.0.1.evil.example/"}}, false},
      {"name beginning with our address", {{"Origin", "http://192.168.1.5.evil.example"}}, false},
      {"name ending with the central server", {{"Origin", "http://xcentral.example"}}, false},
      {"another loopback address", {{"Origin", "http://127.0.0.2:8323"}}, true},
      {"IPv6 loopback", {{"Origin", "http://[::1]:8323"}}, true},
      {"other address", {{"Origin", "http://192.168.1.6:8323"}}, false},
      {"another site", {{"Origin", "https://evil.example"}}, false},
      {"another site in the Referer", {{"Referer", "https://evil.example/page"}}, false},
      {"Origin wins over Referer", {{"Origin", "https://evil.example"}, {"Referer", "http://localhost/"}}, false},
      {"opaque origin", {{"Origin", "null"}}, false},
      {"user name trick", {{"Referer", "http://localhost@evil.example/"}}, false},
      {"cross-site fetch", {{"Sec-Fetch-Site", "cross-site"}}, false},
      {"same-origin fetch", {{"Sec-Fetch-Site", "same-origin"}}, true},
      {"rebound DNS name", {{"Host", "attacker.example:8323"}}, false},
      {"IP literal host", {{"Host", "10.1.2.3:8323"}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(browserMayDrive(c.headers, trusted), c.allowed);
  }
}

}  // namespace
}  // namespace vantrel
