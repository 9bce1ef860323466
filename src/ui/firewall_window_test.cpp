// SPDX-License-Identifier: MIT
// The firewall check as a window runs it, against a scripted central server
// on loopback: the report dialog when the probe does not arrive (closing it
// mails nothing), and what the dialog hands back when the person sends it.

#include "ui/firewall_window.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>

#include <optional>

#include "diag/testing/fake_smtp_server.h"
#include "net/scripted_http_server.h"
#include "platform/testing/env_override.h"
#include "net/socket_io.h"
#include "protocol/testing/protocol_fixture.h"
#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;

// A loopback port that nothing listens on (bound, then closed).
uint16_t closedLoopbackPort() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &length);
  return ntohs(at.sin_port);
}

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

TEST_F(FirewallWindowTest, TheReportIsMailedOnAWorkerAndTheOutcomeShown) {
  vantrel::testing::ScriptedHttpServer server([](int fd, const std::string&) {
    sendText(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nok\r\n");
  });
  useServer(server.port());
  vantrel::testing::EnvOverride env;
  env.set("VANTREL_MAIL_HOST", "127.0.0.1");
  FileServerSwitch fileServer{[] { return true; }, [] { return true; }};
  struct Case {
    const char* name;
    bool smtpListens;
    QString said;
  };
  const Case cases[] = {
      {"sent", true, firewall_texts::kReportSent},
      {"no mail server", false, "The report could not be sent: the mail server 127.0.0.1 could not be reached (error 2)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<diag_testing::FakeSmtpServer> smtp;
    if (c.smtpListens) smtp.emplace();
    check.setMailPort(c.smtpListens ? smtp->port() : closedLoopbackPort());
    auto send = std::make_unique<WhenShown>(FirewallReportDialog::kTitle, [](QWidget* window) {
      if (auto* dialog = qobject_cast<FirewallReportDialog*>(window)) {
        dialog->email()->setText("zo\xC3\xAB@example.org");
        button(dialog, FirewallReportDialog::kSend)->click();
      }
    });
    // The window keeps answering while the mail goes out.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);
    QString said;
    auto outcome = std::make_unique<WhenShown>(FirewallReportDialog::kSend, [&](QWidget* window) {
      if (auto* box = qobject_cast<QMessageBox*>(window)) {
        said = box->text();
        box->accept();
      }
    });
    runFirewallCheckWindowed(nullptr, check, fileServer, 4, false);
    EXPECT_EQ(said, c.said);
    EXPECT_GT(ticks, 0);
    if (smtp) {
      EXPECT_NE(smtp->transcript().find("E-mail: zo\xC3\xAB@example.org"), std::string::npos);
    }
  }
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
