// SPDX-License-Identifier: MIT
#include "diag/mail_sender.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <mutex>
#include <thread>

#include "net/socket_io.h"
#include "diag/testing/fake_smtp_server.h"
#include "net/test_sockets.h"

namespace vantrel {
namespace {

using diag_testing::FakeSmtpServer;

TEST(MailSender, SendsOneTransactionWithDotsDoubled) {
  FakeSmtpServer server("220-first\r\n220 second\r\n");
  MailSender sender;
  ASSERT_EQ(sender.connect("127.0.0.1", "10.1.2.3", server.port()), mail::kOk);
  long lastDone = -1, lastTotal = -1;
  sender.setProgress([&](long done, long total) {
    lastDone = done;
    lastTotal = total;
    return true;
  });
  ASSERT_EQ(sender.sendMail("Support <support@example.org>", "fm@example.org", "Firewall check",
                            "line one\r\n.\r\nlast"),
            mail::kOk);
  sender.quit();
  ASSERT_TRUE(testing::waitFor([&] { return server.transcript().find("Quit\r\n") != std::string::npos; }));
  const std::string t = server.transcript();
  EXPECT_EQ(t.rfind("HELO 10.1.2.3\r\nMAIL from:<fm@example.org>\r\nRCPT to:<support@example.org>\r\nDATA\r\n"
                    "From: fm@example.org\r\nTo: Support <support@example.org>\r\nSubject: Firewall check\r\nDate: ",
                    0),
            0u);
  EXPECT_NE(t.find("\r\n\r\nline one\r\n..\r\nlast\r\n.\r\nQuit\r\n"), std::string::npos);
  EXPECT_EQ(lastDone, 17);
  EXPECT_EQ(lastTotal, 17);
}

TEST(MailSender, FailuresGiveTheirCodes) {
  {
    FakeSmtpServer server("220 hi\r\n", "554 go away\r\n");
    MailSender sender;
    EXPECT_EQ(sender.connect("127.0.0.1", "me", server.port()), mail::kHeloRefused);
  }
  {
    FakeSmtpServer server("220 hi\r\n", "250 ok\r\n", "550 no such user\r\n");
    MailSender sender;
    ASSERT_EQ(sender.connect("127.0.0.1", "me", server.port()), mail::kOk);
    EXPECT_EQ(sender.sendMail("ab", "me@x", "s", "b"), mail::kBadRecipient);
    EXPECT_EQ(sender.sendMail("a@b.c", "me@x", "s", "b"), mail::kRecipientRefused);
    EXPECT_EQ(sender.sendMail("a@b.c", "me@x", "s", "b", "", "", {"/nonexistent/file"}), mail::kAttachmentUnreadable);
  }
  MailSender sender;
  EXPECT_EQ(sender.connect("no-such-host.invalid", "me"), mail::kCannotResolve);
  EXPECT_EQ(sender.sendMail("a@b.c", "me@x", "s", "b"), mail::kConnectionLost);
}

TEST(MailSender, RecipientComesFromAngleBracketsOutsideQuotes) {
  struct Case { const char* address; const char* want; };
  const Case cases[] = {
      {"Support <help@example.org>", "help@example.org"},
      {"\"A <b>\" <real@example.org>", "real@example.org"},
      {"plain@example.org trailing", "plain@example.org"},
      {"<unclosed@example.org", "unclosed@example.org"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(MailSender::recipientOf(c.address), c.want);
  }
}

TEST(MailSender, ReplyReaderSkipsContinuationLines) {
  struct Case { const char* name; std::string input; int want; };
  const Case cases[] = {
      {"single", "250 ok\r\n", 250},
      {"dash word", "250- a\r\n250- b\r\n251 c\r\n", 251},
      {"extended style", "250-PIPELINING\r\n250 SIZE\r\n", 250},
      {"nothing", "", 1},
      {"garbage", "hello\r\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto [a, b] = testing::loopbackPair();
    testing::sendAll(a.get(), c.input);
    ::shutdown(a.get(), SHUT_WR);
    EXPECT_EQ(MailSender::readReply(b.get()), c.want);
  }
}

TEST(MailSender, DateCarriesTheZoneAsWritten) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 3;
  t.tm_wday = 4;
  t.tm_hour = 7;
  t.tm_min = 5;
  t.tm_sec = 9;
  struct Case { long west; bool dst; const char* want; };
  const Case cases[] = {
      {0, false, "Thu, 03 Dec 2026 07:05:09 -0000"},
      {-3600, false, "Thu, 03 Dec 2026 07:05:09 +0100"},
      {-3600, true, "Thu, 03 Dec 2026 07:05:09 +0200"},
      {18000, false, "Thu, 03 Dec 2026 07:05:09 -0500"},
      {-19800, false, "Thu, 03 Dec 2026 07:05:09 +0530"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(MailSender::mailDate(t, c.west, c.dst), c.want);
  }
}

}  // namespace
}  // namespace vantrel
