// SPDX-License-Identifier: MIT
#include "diag/port_mapper.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "diag/testing/fake_gateways.h"
#include "net/test_sockets.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Phase = PortMappingStatus::Phase;
using testing::FakeNatPmp;
using testing::FakeUpnp;

constexpr uint16_t kTcp = 40123;
constexpr uint16_t kUdp = 40124;
// Nothing answers there: connections are refused at once.
constexpr const char* kNoUpnp = "http://127.0.0.1:1/rootDesc.xml";

class PortMapperTest : public ::testing::Test {
 protected:
  std::unique_ptr<PortMapper> mapper(const std::string& natPmp, const std::string& upnp) {
    PortMapper::Options options;
    options.search.natPmpWait = 400ms;
    // An address where nothing listens for NAT-PMP, when the test wants none.
    options.search.natPmpGateway = natPmp.empty() ? testing::randomLoopbackAddress() : natPmp;
    options.search.upnpDescription = upnp;
    return std::make_unique<PortMapper>(options, [this](std::string_view text, int level) {
      std::scoped_lock lock(m_mutex);
      m_log.push_back(std::to_string(level) + " " + std::string(text));
    });
  }
  std::string log() {
    std::scoped_lock lock(m_mutex);
    std::string all;
    for (const std::string& line : m_log) all += line + "\n";
    return all;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_log;  // guarded by m_mutex
};

TEST_F(PortMapperTest, NatPmpMapsBothPortsReportsTheRoutersPortsAndRemovesThemAtStop) {
  FakeNatPmp router(FakeNatPmp::Mode::kGrants, 1000);
  ASSERT_FALSE(router.address().empty());
  auto m = mapper(router.address(), kNoUpnp);
  m->start(kTcp, kUdp);
  const PortMappingStatus s = m->waitForOutcome(5s);
  EXPECT_EQ(s.phase, Phase::kMapped);
  EXPECT_EQ(s.gatewayKind, "NAT-PMP");
  EXPECT_EQ(s.gateway, router.address());
  EXPECT_EQ(s.publicAddress, "198.51.100.7");
  EXPECT_EQ(s.tcpExternal, kTcp + 1000) << "the port the router gave is the one reported";
  EXPECT_EQ(s.udpExternal, kUdp + 1000);
  EXPECT_NE(log().find("1 Router: NAT-PMP gateway " + router.address() + " maps TCP port 41123 of 198.51.100.7 to "
                       "port 40123 of this computer (lease 3600 s)"),
            std::string::npos)
      << log();

  m->stop();
  const auto requests = router.requests();
  const auto removed = [&](int opcode, uint16_t port) {
    return std::any_of(requests.begin(), requests.end(), [&](const FakeNatPmp::Request& r) {
      return r.opcode == opcode && r.privatePort == port && r.lifetime == 0;
    });
  };
  EXPECT_TRUE(removed(2, kTcp)) << "TCP mapping removed";
  EXPECT_TRUE(removed(1, kUdp)) << "UDP mapping removed";
  EXPECT_NE(log().find("no longer forwards TCP port 41123"), std::string::npos) << log();
}

TEST_F(PortMapperTest, AStrayAnswerForAnotherPortIsPassedOver) {
  FakeNatPmp router(FakeNatPmp::Mode::kStrayFirst);
  ASSERT_FALSE(router.address().empty());
  auto m = mapper(router.address(), kNoUpnp);
  m->start(kTcp, 0);
  const PortMappingStatus s = m->waitForOutcome(5s);
  EXPECT_EQ(s.phase, Phase::kMapped);
  EXPECT_EQ(s.tcpExternal, kTcp) << "not the stray answer's port 9";
}

TEST_F(PortMapperTest, UpnpAfterNatPmpFailsAndTheSettingSwitchesTheMappingsOffAndOn) {
  FakeUpnp router(FakeUpnp::Mode::kWorks);
  auto m = mapper("", router.descriptionUrl());
  m->start(kTcp, kUdp);
  PortMappingStatus s = m->waitForOutcome(10s);
  ASSERT_EQ(s.phase, Phase::kMapped) << log();
  EXPECT_EQ(s.gatewayKind, "UPnP");
  EXPECT_EQ(s.gateway, "127.0.0.1");
  EXPECT_EQ(s.publicAddress, "198.51.100.7");
  EXPECT_EQ(s.tcpExternal, kTcp);
  EXPECT_EQ(s.udpExternal, kUdp);
  EXPECT_TRUE(router.has("TCP", kTcp));
  EXPECT_TRUE(router.has("UDP", kUdp));

  m->setEnabled(false);
  ASSERT_TRUE(testing::waitFor([&] { return !router.has("TCP", kTcp) && !router.has("UDP", kUdp); }, 10s));
  EXPECT_TRUE(testing::waitFor([&] { return m->status().phase == Phase::kOff; }, 5s));
  m->setEnabled(true);
  EXPECT_TRUE(testing::waitFor([&] { return router.has("TCP", kTcp) && router.has("UDP", kUdp); }, 10s));
  m->stop();
  EXPECT_FALSE(router.has("TCP", kTcp));
  EXPECT_FALSE(router.has("UDP", kUdp));
}

TEST_F(PortMapperTest, AnotherComputersMappingIsLeftAloneAndTheNextPortTaken) {
  FakeUpnp router(FakeUpnp::Mode::kWorks);
  router.hold("TCP", kTcp, {"192.168.1.77", kTcp, "Someone else"});
  auto m = mapper("", router.descriptionUrl());
  m->start(kTcp, 0);
  const PortMappingStatus s = m->waitForOutcome(10s);
  ASSERT_EQ(s.phase, Phase::kMapped) << log();
  EXPECT_EQ(s.tcpExternal, kTcp + 1);
  for (const std::string& action : router.actions()) {
    EXPECT_NE(action, "AddPortMapping TCP " + std::to_string(kTcp)) << "never asked to replace it";
  }
  EXPECT_NE(log().find("1 Router: TCP port 40123 on the router is already forwarded to 192.168.1.77 port 40123 "
                       "(\"Someone else\"); it is left alone"),
            std::string::npos)
      << log();
  m->stop();
  EXPECT_TRUE(router.has("TCP", kTcp)) << "theirs stays";
  EXPECT_FALSE(router.has("TCP", kTcp + 1));
}

// Each bad router leaves the client unmapped, with a line saying why, and in
// bounded time.
TEST_F(PortMapperTest, BadRoutersLeaveTheClientUnmappedSayingWhy) {
  struct Case {
    const char* name;
    std::optional<FakeNatPmp::Mode> natPmp;
    std::optional<FakeUpnp::Mode> upnp;
    int hundredTaken;  // mappings of another computer from our port up
    Phase want;
    const char* logged;
  } cases[] = {
      {"NAT-PMP garbage", FakeNatPmp::Mode::kGarbage, std::nullopt, 0, Phase::kNoRouter,
       "NAT-PMP: it answered in another version of NAT-PMP"},
      {"NAT-PMP silent", FakeNatPmp::Mode::kSilent, std::nullopt, 0, Phase::kNoRouter, "NAT-PMP: no NAT-PMP answer"},
      {"NAT-PMP refuses", FakeNatPmp::Mode::kRefusesMapping, std::nullopt, 0, Phase::kFailed,
       "did not map TCP port 40123: it refused the request (not authorized)"},
      {"UPnP garbage description", std::nullopt, FakeUpnp::Mode::kGarbageDescription, 0, Phase::kNoRouter,
       "UPnP: the gateway's description names no internet connection service"},
      {"UPnP garbage answers", std::nullopt, FakeUpnp::Mode::kGarbageAnswers, 0, Phase::kFailed,
       "did not map TCP port 40123: "},
      {"UPnP refuses", std::nullopt, FakeUpnp::Mode::kRefuses, 0, Phase::kFailed,
       "did not map TCP port 40123: UPnP error 606"},
      {"UPnP a hundred mappings", std::nullopt, FakeUpnp::Mode::kWorks, 100, Phase::kFailed,
       "Router: TCP ports 40123 to 40130 on the router are held by others; TCP port 40123 is not mapped"},
      {"UPnP late", std::nullopt, FakeUpnp::Mode::kLate, 0, Phase::kNoRouter,
       "UPnP: no internet gateway description could be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<FakeNatPmp> natPmp;
    std::optional<FakeUpnp> upnp;
    if (c.natPmp) natPmp.emplace(*c.natPmp);
    if (c.upnp) upnp.emplace(*c.upnp);
    for (int i = 0; i < c.hundredTaken; ++i) {
      upnp->hold("TCP", static_cast<uint16_t>(kTcp + i), {"192.168.1.77", static_cast<uint16_t>(kTcp + i), "other"});
    }
    auto m = mapper(natPmp ? natPmp->address() : "", upnp ? upnp->descriptionUrl() : kNoUpnp);
    const auto started = std::chrono::steady_clock::now();
    m->start(kTcp, 0);
    const PortMappingStatus s = m->waitForOutcome(30s);
    EXPECT_EQ(s.phase, c.want) << log();
    EXPECT_FALSE(s.mapped());
    EXPECT_NE(log().find(c.logged), std::string::npos) << log();
    m->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 25s);
    if (upnp) {
      EXPECT_FALSE(upnp->has("TCP", kTcp + c.hundredTaken)) << "nothing left behind";
    }
  }
}

}  // namespace
}  // namespace vantrel
