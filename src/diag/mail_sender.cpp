// SPDX-License-Identifier: MIT
#include "diag/mail_sender.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

#include "net/socket_io.h"

namespace vantrel {

namespace {

constexpr std::size_t kReplyLine = 256;
constexpr int kReplyWaitSeconds = 20;
// A server that answers with continuation lines forever is cut off here.
constexpr int kMaxReplyLines = 100;
constexpr std::size_t kMaxPiece = 255;

std::vector<std::string> splitList(std::string_view list) {
  std::vector<std::string> out;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (!item.empty()) out.emplace_back(item);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return out;
}

bool inRange2xx(int code) { return code >= 200 && code <= 299; }

std::string resolve(std::string_view host) {
  const std::string text(host);
  in_addr parsed{};
  if (::inet_pton(AF_INET, text.c_str(), &parsed) == 1) return text;
  const std::size_t at = text.rfind('@');
  const std::string name = at == std::string::npos ? text : text.substr(at + 1);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
  char out[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, out, sizeof out);
  return out;
}

}  // namespace

int MailSender::readReply(int fd) {
  std::string line;
  for (int i = 0; i < kMaxReplyLines; ++i) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kReplyWaitSeconds);
    if (readLine(fd, line, kReplyLine, kReplyWaitSeconds, deadline) == 0) return 1;
    trimLineEnd(line);
    const std::string word = line.substr(0, line.find(' '));
    // "250-..." continues a reply as well as a first word that ends in "-".
    const bool continues = (!word.empty() && word.back() == '-') || (word.size() > 3 && word[3] == '-');
    if (continues || dataWaiting(fd)) continue;
    return static_cast<int>(std::strtol(word.c_str(), nullptr, 10));
  }
  return 1;
}

std::string MailSender::recipientOf(std::string_view address) {
  bool quoted = false;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (address[i] == '"') quoted = !quoted;
    if (address[i] == '<' && !quoted) {
      const std::size_t close = address.find('>', i + 1);
      return std::string(address.substr(i + 1, close == std::string_view::npos ? std::string_view::npos : close - i - 1));
    }
  }
  return std::string(address.substr(0, address.find(' ')));
}

std::string MailSender::mailDate(const std::tm& local, long westSeconds, bool daylight) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long hours = westSeconds / 3600;
  if (daylight) hours -= 1;
  const long minutes = std::labs(westSeconds % 3600) / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %2.2d %s %d %2.2d:%2.2d:%2.2d %c%2.2ld%2.2ld",
                kDays[std::clamp(local.tm_wday, 0, 6)], local.tm_mday, kMonths[std::clamp(local.tm_mon, 0, 11)],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, hours < 0 ? '+' : '-',
                std::labs(hours), minutes);
  return text;
}

std::string MailSender::dotStuffed(std::string_view body) {
  std::string out;
  out.reserve(body.size() + 16);
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '.' && (i == 0 || body[i - 1] == '\r' || body[i - 1] == '\n')) out += '.';
    out += body[i];
  }
  return out;
}

int MailSender::connect(std::string_view host, std::string_view heloName, uint16_t port) {
  quit();
  const std::string address = resolve(host);
  if (address.empty()) return mail::kCannotResolve;
  if (!m_socket.connect(address, port)) return mail::kCannotConnect;
  readReply(m_socket.fd());  // the greeting
  const int fd = m_socket.fd();
  sendText(fd, "HELO ");
  sendText(fd, heloName);
  sendText(fd, "\r\n");
  return inRange2xx(readReply(fd)) ? mail::kOk : mail::kHeloRefused;
}

void MailSender::quit() {
  if (!m_socket.connected()) return;
  sendText(m_socket.fd(), "Quit\r\n");
  m_socket.close();
}

bool MailSender::alive() const {
  if (!m_socket.connected()) return false;
  pollfd p{m_socket.fd(), POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return true;
  char c;
  const ssize_t n = ::recv(m_socket.fd(), &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return n > 0;
}

int MailSender::command(std::string_view text) {
  if (sendText(m_socket.fd(), text) < 0) return 1;
  return readReply(m_socket.fd());
}

int MailSender::sendMail(std::string_view to, std::string_view from, std::string_view subject, std::string_view body,
                         std::string_view cc, std::string_view bcc, const std::vector<std::string>& attachments) {
  for (const std::string& address : splitList(to)) {
    if (const int rc = transaction(address, address, from, subject, body, cc, attachments); rc != mail::kOk) return rc;
  }
  for (std::string_view list : {cc, bcc}) {
    const std::vector<std::string> addresses = splitList(list);
    if (addresses.empty()) continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (const std::string& address : addresses) {
      if (const int rc = transaction(address, to, from, subject, body, cc, attachments); rc != mail::kOk) return rc;
    }
  }
  return mail::kOk;
}

int MailSender::transaction(std::string_view address, std::string_view toHeader, std::string_view from,
                            std::string_view subject, std::string_view body, std::string_view cc,
                            const std::vector<std::string>& attachments) {
  if (!alive()) return mail::kConnectionLost;
  long total = static_cast<long>(body.size());
  for (const std::string& name : attachments) {
    std::ifstream in(name, std::ios::binary | std::ios::ate);
    if (!in) return mail::kAttachmentUnreadable;
    total += static_cast<long>(in.tellg());
  }
  const std::string recipient = recipientOf(address);
  if (recipient.size() < 3) return mail::kBadRecipient;

  if (!inRange2xx(command("MAIL from:<" + std::string(from) + ">\r\n"))) return mail::kSenderRefused;
  if (!inRange2xx(command("RCPT to:<" + recipient + ">\r\n"))) return mail::kRecipientRefused;
  if (command("DATA\r\n") != 354) return mail::kDataRefused;

  const int fd = m_socket.fd();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::string headers = "From: " + std::string(from) + "\r\nTo: " + std::string(toHeader) +
                        "\r\nSubject: " + std::string(subject) + "\r\nDate: " +
                        mailDate(local, -local.tm_gmtoff + (local.tm_isdst > 0 ? 3600 : 0), local.tm_isdst > 0) +
                        "\r\n";
  for (const std::string& c : splitList(cc)) headers += "cc: " + c + "\r\n";
  for (const std::string& h : m_extraHeaders) headers += h + "\r\n";
  headers += "\r\n";
  if (sendText(fd, headers) < 1) return mail::kSendFailed;

  const int buffer = sendBufferSize(fd);
  const std::size_t pieceSize = buffer > 0 ? std::min<std::size_t>(static_cast<std::size_t>(buffer), kMaxPiece) : kMaxPiece;
  const std::string stuffed = dotStuffed(body);
  long done = 0;
  for (std::size_t at = 0; at < stuffed.size(); at += pieceSize) {
    const std::string_view piece = std::string_view(stuffed).substr(at, pieceSize);
    if (sendText(fd, piece) < 1) return mail::kSendFailed;
    done = std::min<long>(total, done + static_cast<long>(piece.size()));
    if (m_progress && !m_progress(done, total)) return mail::kStopped;
  }
  for (const std::string& name : attachments) {
    sendText(fd, "\r\n\r\n");
    std::ifstream in(name, std::ios::binary);
    char block[256];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
      if (sendBytes(fd, block, static_cast<std::size_t>(in.gcount())) < 1) return mail::kSendFailed;
      done += static_cast<long>(in.gcount());
      if (m_progress && !m_progress(std::min(done, total), total)) return mail::kStopped;
    }
  }
  if (!inRange2xx(command("\r\n.\r\n"))) return mail::kSenderRefused;
  if (m_progress) m_progress(total, total);
  return mail::kOk;
}

}  // namespace vantrel
