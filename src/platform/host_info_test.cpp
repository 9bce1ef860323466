// SPDX-License-Identifier: MIT
#include "platform/host_info.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/clock.h"

namespace vantrel {
namespace {

TEST(HostInfo, AddressesAreDottedQuadsAndLoopbackOnlyWhenAsked) {
  std::vector<std::string> all = hostIpv4Addresses(true);
  std::vector<std::string> outside = hostIpv4Addresses(false);
  EXPECT_NE(std::find(all.begin(), all.end(), "127.0.0.1"), all.end());
  EXPECT_EQ(std::find(outside.begin(), outside.end(), "127.0.0.1"), outside.end());
  for (const std::string& a : all) {
    in_addr addr{};
    EXPECT_EQ(::inet_pton(AF_INET, a.c_str(), &addr), 1) << a;
  }
  EXPECT_FALSE(hostName().empty());
}

TEST(Clock, TicksNeverGoBackAndCalendarFormats) {
  int64_t a = tickMs();
  int64_t b = tickMs();
  EXPECT_LE(a, b);
  EXPECT_GT(unixTimeNow(), 1600000000);
  EXPECT_EQ(formatUtcTime(0, "%m/%d/%y %H:%M:%S"), "01/01/70 00:00:00");
  EXPECT_EQ(formatUtcTime(2147483648, "%Y"), "2038") << "past the 32-bit time_t limit";
  EXPECT_EQ(formatUtcTime(0, ""), "");
}

}  // namespace
}  // namespace vantrel
