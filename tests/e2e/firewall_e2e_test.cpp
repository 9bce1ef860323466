// SPDX-License-Identifier: MIT
// The firewall check as the settings sheet runs it, against the real
// reference server on loopback: the server reaches the client back over TCP
// and UDP, so the person is congratulated, and the client's own file server,
// paused for the check, listens again afterwards.

#include <gtest/gtest.h>

#include <QMessageBox>

#include "core/testing/scratch_dir.h"
#include "diag/firewall_runner.h"
#include "net/socket_io.h"
#include "protocol/testing/protocol_fixture.h"
#include "tests/e2e/e2e_support.h"
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
  core_testing::ScratchDir dir;
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

}  // namespace
}  // namespace vantrel
