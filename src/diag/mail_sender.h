// SPDX-License-Identifier: MIT
#pragma once
// MailSender: the client's own small SMTP client, used to mail the firewall
// report to the service's support address: plain SMTP with HELO, one
// transaction per recipient, no authentication and no MIME structure.
// One thread at a time; the progress hook runs on the calling thread.

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/client_socket.h"

namespace vantrel {

// Results of MailSender::connect and MailSender::sendMail.
namespace mail {
inline constexpr int kOk = 0;
inline constexpr int kCannotResolve = 1;  // connect
inline constexpr int kCannotConnect = 2;  // connect
inline constexpr int kHeloRefused = 3;    // connect
inline constexpr int kConnectionLost = 1;  // transaction
inline constexpr int kBadRecipient = 2;
inline constexpr int kSenderRefused = 3;  // also: the message itself refused
inline constexpr int kRecipientRefused = 4;
inline constexpr int kDataRefused = 5;
inline constexpr int kSendFailed = 6;
inline constexpr int kStopped = 7;
inline constexpr int kAttachmentUnreadable = 9;
}  // namespace mail

class MailSender {
 public:
  // (bytes done, total bytes) → false to stop.
  using Progress = std::function<bool(long done, long total)>;

  static constexpr uint16_t kSmtpPort = 25;

  ~MailSender() { quit(); }

  int connect(std::string_view host, std::string_view heloName, uint16_t port = kSmtpPort);
  int sendMail(std::string_view to, std::string_view from, std::string_view subject, std::string_view body,
               std::string_view cc = {}, std::string_view bcc = {},
               const std::vector<std::string>& attachments = {});
  void quit();

  void addHeader(std::string line) { m_extraHeaders.push_back(std::move(line)); }
  void setProgress(Progress progress) { m_progress = std::move(progress); }

  // The reply code of the server's next reply, continuation lines skipped;
  // 1 when no line comes. Exposed for the reply reader's own tests.
  static int readReply(int fd);
  // The address a transaction is sent to: the text in "<...>" outside quotes,
  // else the text up to the first space.
  static std::string recipientOf(std::string_view address);
  // The "Date:" text for a local time, the zone's offset west of GMT in seconds
  // and whether daylight saving time is in effect.
  static std::string mailDate(const std::tm& local, long westSeconds, bool daylight);
  // The body with every "." that begins a line doubled.
  static std::string dotStuffed(std::string_view body);

 private:
  int transaction(std::string_view address, std::string_view toHeader, std::string_view from,
                  std::string_view subject, std::string_view body, std::string_view cc,
                  const std::vector<std::string>& attachments);
  bool alive() const;
  int command(std::string_view text);

  ClientSocket m_socket;
  std::vector<std::string> m_extraHeaders;
  Progress m_progress;
};

}  // namespace vantrel
