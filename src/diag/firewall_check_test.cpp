// SPDX-License-Identifier: MIT
#include "diag/firewall_check.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "net/test_sockets.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;
using namespace std::chrono_literals;

std::string queryValue(const std::string& request, const std::string& name) {
  const std::size_t at = request.find("&" + name + "=");
  if (at == std::string::npos) return {};
  const std::size_t start = at + name.size() + 2;
  return request.substr(start, request.find_first_of("& ", start) - start);
}

// What the central server does for "action=test": connect back over TCP with a
// greeting and, when asked, send a datagram; then answer the request.
ScriptedHttpServer::Handler testResponder(std::string greeting, bool sendDatagram, std::string pingReply) {
  return [=](int fd, const std::string& request) {
    if (request.rfind("GET /clientrequest?action=test&ip=10.0.0.5&", 0) == 0) {
      const auto tcp = static_cast<uint16_t>(std::stoi(queryValue(request, "port")));
      UniqueFd probe = testing::connectLoopback(tcp);
      testing::sendAll(probe.get(), greeting + "\r\n");
      if (sendDatagram) {
        UniqueFd udp(::socket(AF_INET, SOCK_DGRAM, 0));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(std::stoi(queryValue(request, "udpport"))));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(udp.get(), "hi", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
      testing::waitFor([&] { return false; }, 100ms);  // let the probe land first
      sendText(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nok\r\n");
    } else {
      sendText(fd, "HTTP/1.0 200 OK\r\n\r\n" + pingReply);
    }
  };
}

class FirewallCheckTest : public ::testing::Test, public ProtocolFixture {
 protected:
  FirewallCheckTest() {
    loggedIn(7);
    state.SetLocalAddress("10.0.0.5");
    check.setPorts(0, 0);
    check.setTiming(5ms, 20ms, 10ms);
  }
  FirewallCheck check{ctx};
};

TEST_F(FirewallCheckTest, BothProbesArriving) {
  ScriptedHttpServer server(testResponder("i am your father!", true, ""));
  useServer(server.port());  // the test request must use this port, not 80
  EXPECT_EQ(check.run(), firewall::kBothReached);
  const std::string report = check.reportText(3);
  EXPECT_EQ(report.rfind("Vantrel Firewall Check\r\n\r\nClient Version: 201\r\nTemplate Version 3\r\nUsername: bob\r\n", 0), 0u);
  EXPECT_NE(report.find("\r\nClient IP: 10.0.0.5\r\nServer Address: 127.0.0.1\r\nServer IP: 127.0.0.1\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\nOS: "), std::string::npos);
  EXPECT_NE(report.find("\r\nResults:\r\n\r\nInitialization: Successful!\r\n\r\nTCP: Success! Ticks "), std::string::npos);
  EXPECT_NE(report.find("\r\nUDP: Success! Ticks "), std::string::npos);
  EXPECT_NE(report.find("\r\nTCP Ping: Not started, not needed\r\n"), std::string::npos);
}

TEST_F(FirewallCheckTest, WrongGreetingAndNoDatagramLeadToTheTcpPing) {
  ScriptedHttpServer server(testResponder("hello there", false, "pong"));
  useServer(server.port());
  EXPECT_EQ(check.run(), firewall::kProbeMissing);
  EXPECT_EQ(settings.GetSettingNumber("tcppings"), 1);
  const std::string report = check.reportText(1);
  EXPECT_NE(report.find("\r\nTCP Error 9: Received wrong data from server\r\nTCP Result 0\r\nTCP Ticks "), std::string::npos);
  EXPECT_NE(report.find("\r\nUDP Error 12: Timeout waiting for UDP packet from server\r\nUDP Result 0\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\nTCP Ping: Success! Ticks 0\r\n"), std::string::npos);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=ping");
}

TEST_F(FirewallCheckTest, TheRoutersPortsAreAskedForAndItsLineComesBeforeTheResults) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("ok\r\n"));
  useServer(server.port());
  PortMappingStatus mapping;
  mapping.phase = PortMappingStatus::Phase::kMapped;
  mapping.gatewayKind = "NAT-PMP";
  mapping.gateway = "192.168.1.1";
  mapping.publicAddress = "198.51.100.7";
  mapping.tcpPort = 8323;
  mapping.udpPort = 8324;
  mapping.tcpExternal = 40001;
  mapping.udpExternal = 40002;
  check.setPortMapping(mapping);
  EXPECT_EQ(check.run(), firewall::kProbeMissing);
  const std::string request = server.requests().front();
  EXPECT_EQ(queryValue(request, "port"), "40001") << request;
  EXPECT_EQ(queryValue(request, "udpport"), "40002") << request;
  EXPECT_EQ(queryValue(request, "ip"), "10.0.0.5") << "the own address, as ever";
  EXPECT_NE(check.reportText(1).find("Initialization: Successful!\r\n\r\nRouter: NAT-PMP gateway 192.168.1.1 forwards "
                                     "TCP port 40001 (8323 on this computer) and UDP port 40002 (8324 on this computer) "
                                     "of 198.51.100.7 to this computer\r\n\r\nTCP Error 14: "),
            std::string::npos)
      << check.reportText(1);
}

TEST_F(FirewallCheckTest, FailedRequestReportsUdpAsNotStarted) {
  target.setPort(1);  // nothing listens
  settings.SetSettingText("serveraddress", "127.0.0.1");
  EXPECT_EQ(check.run(), firewall::kCannotConnect);
  const std::string report = check.reportText(1);
  EXPECT_NE(report.find("\r\nTCP Error 1: Could not connect to server\r\nTCP Result 1\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\nUDP: Not started, UDP firewall check aborted due to some other error\r\n"), std::string::npos);
}

TEST_F(FirewallCheckTest, EmptyServerAddressStopsTheCheck) {
  settings.SetSettingText("serveraddress", "");
  EXPECT_EQ(check.run(), firewall::kNoServerAddress);
  const std::string report = check.reportText(1);
  EXPECT_NE(report.find("Initialization: Error 7: No Vantrel server address - Returned Error 7\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\nTCP: Not started, TCP firewall check aborted due to some other error\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vantrel
