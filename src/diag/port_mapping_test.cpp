// SPDX-License-Identifier: MIT
#include "diag/port_mapping.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using Phase = PortMappingStatus::Phase;

PortMappingStatus status(Phase phase, uint16_t tcpExternal = 0, uint16_t udpExternal = 0) {
  PortMappingStatus s;
  s.phase = phase;
  s.tcpPort = 8323;
  s.udpPort = 8324;
  s.tcpExternal = tcpExternal;
  s.udpExternal = udpExternal;
  s.gatewayKind = "UPnP";
  s.gateway = "192.168.1.1";
  s.publicAddress = "198.51.100.7";
  return s;
}

TEST(PortMappingText, SaysWhatTheRouterDidAndWhatToForwardByHand) {
  PortMappingStatus failed = status(Phase::kFailed);
  failed.problem = "UPnP error 606 (Action not authorized)";
  PortMappingStatus half = status(Phase::kMapped, 8323, 0);
  half.problem = "it has no room for more mappings";
  struct Case {
    const char* name;
    PortMappingStatus in;
    const char* want;
  } cases[] = {
      {"none answered", status(Phase::kNoRouter), "no router answered; forward TCP port 8323 and UDP port 8324 by hand"},
      {"off", status(Phase::kOff), "automatic port mapping is off; forward TCP port 8323 and UDP port 8324 by hand"},
      {"both", status(Phase::kMapped, 8323, 8324),
       "UPnP gateway 192.168.1.1 forwards TCP port 8323 and UDP port 8324 of 198.51.100.7 to this computer"},
      {"other external port", status(Phase::kMapped, 40001, 8324),
       "UPnP gateway 192.168.1.1 forwards TCP port 40001 (8323 on this computer) and UDP port 8324 of 198.51.100.7 to "
       "this computer"},
      {"one of two", half,
       "UPnP gateway 192.168.1.1 forwards TCP port 8323 of 198.51.100.7 to this computer; UDP port 8324 is not mapped "
       "(it has no room for more mappings): forward it by hand"},
      {"refused", failed,
       "UPnP gateway 192.168.1.1 answered but opened no port: UPnP error 606 (Action not authorized); forward TCP port "
       "8323 and UDP port 8324 by hand"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describePortMapping(c.in), c.want);
  }
}

TEST(PortMappingText, RouterTextsAreReadStrictly) {
  EXPECT_EQ(parsePortText("8323"), 8323);
  EXPECT_EQ(parsePortText("65535"), 65535);
  for (const char* bad : {"", "0", "65536", "99999999", "-1", "83 23", "8323x", "0x10"}) {
    EXPECT_FALSE(parsePortText(bad)) << bad;
  }
  EXPECT_EQ(parseLeaseText("3600"), std::chrono::seconds(3600));
  EXPECT_EQ(parseLeaseText("0"), std::chrono::seconds(0));
  EXPECT_EQ(parseLeaseText("99999999999999999999999999"), std::chrono::seconds(365LL * 24 * 3600));
  EXPECT_FALSE(parseLeaseText("1h"));

  EXPECT_EQ(parsePublicAddress("198.51.100.7"), "198.51.100.7");
  for (const char* bad : {"", "0.0.0.0", "255.255.255.255", "198.51.100", "198.51.100.7 ", "host.example",
                          "1.2.3.4.5", "198.51.100.256"}) {
    EXPECT_FALSE(parsePublicAddress(bad)) << bad;
  }
  EXPECT_TRUE(isPrivateAddress("10.1.2.3"));
  EXPECT_TRUE(isPrivateAddress("100.64.0.9"));
  EXPECT_TRUE(isPrivateAddress("172.31.255.1"));
  EXPECT_TRUE(isPrivateAddress("192.168.0.1"));
  EXPECT_FALSE(isPrivateAddress("172.32.0.1"));
  EXPECT_FALSE(isPrivateAddress("198.51.100.7"));

  EXPECT_EQ(printableText(std::string("a\nb\x01\xff", 5)), "a?b??");
  EXPECT_EQ(printableText(std::string(100, 'x'), 5), "xxxxx...");
}

TEST(PortMappingText, OnlyAMappingToOurAddressAndPortIsOurs) {
  struct Case {
    ExistingMapping entry;
    MappingOwner want;
  } cases[] = {
      {{"192.168.1.20", "8323", "Vantrel File Manager"}, MappingOwner::kOurs},
      {{"192.168.1.20", "8323", "another program"}, MappingOwner::kOurs},  // only we listen on our port
      {{"192.168.1.21", "8323", "Vantrel File Manager"}, MappingOwner::kOther},
      {{"192.168.1.20", "9000", "another program"}, MappingOwner::kOther},
      {{"", "", ""}, MappingOwner::kOther},
      {{"garbage", "8323", ""}, MappingOwner::kOther},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry.internalClient + ":" + c.entry.internalPort);
    EXPECT_EQ(ownerOf(c.entry, "192.168.1.20", 8323), c.want);
  }
  EXPECT_EQ(describeHolder({"192.168.1.21", "8323", "other\tprogram"}), "192.168.1.21 port 8323 (\"other?program\")");
}

}  // namespace
}  // namespace vantrel
