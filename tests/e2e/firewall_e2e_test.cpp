// SPDX-License-Identifier: MIT
// The firewall check as the settings sheet runs it, against the real
// reference server on loopback: the server reaches the client back over TCP
// and UDP, so the person is congratulated, and the client's own file server,
// paused for the check, listens again afterwards; a client whose port is
// closed gets the report, which says so.

#include <gtest/gtest.h>

#include <QMessageBox>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "diag/firewall_runner.h"
#include "net/socket_io.h"
#include "platform/unique_fd.h"
#include "protocol/server_session.h"
#include "protocol/testing/protocol_fixture.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/temp_folder.h"
#include "ui/firewall_window.h"
#include "ui/ui_test_support.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;

class FirewallE2eTest : public ::testing::Test, public protocol_testing::ProtocolFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start((dir.path() / "server.db").string(), {"--add-user", "alice:secret"}));
    loggedIn(7);
    state.SetLocalAddress("127.0.0.1");
    useServer(server.httpPort);
    check.setPorts(0, 0);
  }
  vantrel::testing::TempFolder dir;
  e2e::ServerProcess server;
  FirewallCheck check{ctx};
};

TEST_F(FirewallE2eTest, AReachableClientIsCongratulated) {
  std::vector<std::string> calls;
  FileServerSwitch fileServer{[&] {
                                calls.push_back("pause");
                                return true;
                              },
                              [&] {
                                calls.push_back("resume");
                                return true;
                              }};
  QString said;
  auto box = std::make_unique<WhenShown>(ui::firewall_texts::kCaption, [&](QWidget* window) {
    screenshot(window, "firewall-congratulations");
    if (auto* message = qobject_cast<QMessageBox*>(window)) said = message->text();
    button(window, "OK")->click();
  });
  EXPECT_EQ(ui::runFirewallCheckWindowed(nullptr, check, fileServer, 1, false), firewall::kBothReached);
  EXPECT_TRUE(box->done());
  EXPECT_EQ(said, "You are not behind a firewall");
  EXPECT_EQ(check.tcpState(), firewall::kGreeted);
  EXPECT_EQ(check.udpState(), firewall::kUdpReceived);
  EXPECT_EQ(calls, (std::vector<std::string>{"pause", "resume"}));
}

// Pings that are never answered: the window stays away during the check.
class QuietSessionUi : public SessionUi {
 public:
  void showLostConnection(LostConnectionPrompt&) override {}
  void closeLostConnection() override {}
  int showUpdate(const std::string&, UpdatePrompt&) override { return 2; }
  MessageAnswer showMessage(const MessageBox&) override { return MessageAnswer::Ok; }
};

// The running client holds its UDP port for its pings; the check run from the
// menu probes that port, so the session lends it for the check.
TEST_F(FirewallE2eTest, TheCheckOnItsOwnProbesTheRunningClientsPorts) {
  settings.SetSettingNumber("udpport", 0);  // the system picks
  QuietSessionUi sessionUi;
  ServerSession session(ctx, sessionUi);
  session.setServerUdpPort(server.udpPort);
  ASSERT_TRUE(session.start());
  const uint16_t udp = session.udpPort();
  ASSERT_NE(udp, 0);
  check.setPorts(0, udp);
  FileServerSwitch listeners{[&] { return session.pauseUdp(); }, [&] { return session.resumeUdp(); }};
  QString said;
  auto box = std::make_unique<WhenShown>(ui::firewall_texts::kCaption, [&](QWidget* window) {
    if (auto* message = qobject_cast<QMessageBox*>(window)) said = message->text();
    button(window, "OK")->click();
  });
  EXPECT_EQ(ui::runFirewallCheckSaying(nullptr, check, listeners, 1, ui::firewall_texts::kNotBehindDirect),
            firewall::kBothReached);
  EXPECT_EQ(said, "You are not behind a firewall.");
  EXPECT_EQ(check.udpState(), firewall::kUdpReceived);
  EXPECT_EQ(session.udpPort(), udp);  // the pings have their port back
  session.stop();
}

// A loopback TCP port that nothing listens on.
uint16_t closedPort() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    return 0;
  }
  return ntohs(at.sin_port);  // bound, never listening; free again once closed
}

TEST_F(FirewallE2eTest, AClosedPortGetsAReportThatSaysSo) {
  const uint16_t closed = closedPort();
  ASSERT_NE(closed, 0);
  check.setAnnouncedTcpPort(closed);  // the server is sent to a port nothing answers on
  check.setTiming(50ms, 20ms, 10ms);
  FileServerSwitch fileServer{[] { return true; }, [] { return true; }};
  QString report;
  auto dialog = std::make_unique<WhenShown>(ui::FirewallReportDialog::kTitle, [&](QWidget* window) {
    screenshot(window, "firewall-report-closed-port");
    report = qobject_cast<ui::FirewallReportDialog*>(window)->report()->toPlainText();
    button(window, "Close")->click();  // nothing is mailed
  });
  const int result = ui::runFirewallCheckWindowed(nullptr, check, fileServer, 1, false);
  EXPECT_EQ(result, firewall::kProbeMissing);  // a result of the check, not the runner's time-out
  EXPECT_TRUE(dialog->done());
  EXPECT_TRUE(report.contains("TCP Error 14: No connection from the server: the port is closed or blocked"))
      << report.toStdString();
  EXPECT_TRUE(report.contains("UDP: Success!")) << report.toStdString();
}

}  // namespace
}  // namespace vantrel
