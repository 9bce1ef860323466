// SPDX-License-Identifier: MIT
// The firewall check as a window runs it, against a scripted central server
// on loopback: the report dialog when the probe does not arrive (closing it
// mails nothing), and what the dialog hands back when the person sends it.

#include "ui/firewall_window.h"

#include <gtest/gtest.h>

#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "protocol/testing/protocol_fixture.h"
#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;

class FirewallWindowTest : public ::testing::Test, public protocol_testing::ProtocolFixture {
 protected:
  FirewallWindowTest() {
    loggedIn(7);
    state.SetLocalAddress("10.0.0.5");
    check.setPorts(0, 0);
    check.setTiming(5ms, 10ms, 5ms);
  }
  FirewallCheck check{ctx};
};

TEST_F(FirewallWindowTest, AProbeThatNeverArrivesShowsTheReport) {
  // The server takes the test request but never reaches back; its ping answers.
  vantrel::testing::ScriptedHttpServer server([](int fd, const std::string&) {
    sendText(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nok\r\n");
  });
  useServer(server.port());
  int paused = 0, resumed = 0;
  FileServerSwitch fileServer{[&] { return ++paused > 0; }, [&] { return ++resumed > 0; }};
  QString shown;
  auto report = std::make_unique<WhenShown>(FirewallReportDialog::kTitle, [&](QWidget* window) {
    screenshot(window, "firewall-report");
    shown = qobject_cast<FirewallReportDialog*>(window)->report()->toPlainText();
    button(window, "Close")->click();
  });
  const int result = runFirewallCheckWindowed(nullptr, check, fileServer, 4, false);
  EXPECT_EQ(result, firewall::kProbeMissing);
  EXPECT_TRUE(report->done());
  EXPECT_TRUE(shown.startsWith("Vantrel Firewall Check\n\nClient Version: 201\nTemplate Version 4\n")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("UDP Error 12: Timeout waiting for UDP packet from server")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("TCP Error 14: No connection from the server")) << shown.toStdString();
  EXPECT_EQ(paused, 1);
  EXPECT_EQ(resumed, 1);
}

TEST(FirewallReportDialogTest, SendHandsBackTheAddressAndComments) {
  QtFirewallReportUi reportUi(nullptr);
  auto fill = std::make_unique<WhenShown>(FirewallReportDialog::kTitle, [](QWidget* window) {
    auto* dialog = qobject_cast<FirewallReportDialog*>(window);
    dialog->email()->setText(" me@example.org ");
    dialog->comments()->setPlainText("behind a router\nport 8323 forwarded");
    button(dialog, FirewallReportDialog::kSend)->click();
  });
  std::string email, comments;
  EXPECT_TRUE(reportUi.showFirewallReport("Vantrel Firewall Check\r\n", email, comments));
  EXPECT_EQ(email, "me@example.org");
  EXPECT_EQ(comments, "behind a router\r\nport 8323 forwarded");

  auto close = clickWhenShown(FirewallReportDialog::kTitle, "Close");
  EXPECT_FALSE(reportUi.showFirewallReport("x", email, comments));
}

}  // namespace
}  // namespace vantrel::ui
