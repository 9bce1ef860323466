// SPDX-License-Identifier: MIT
#pragma once
// FakeSmtpServer: a loopback SMTP server for tests of the mail sender and of
// the firewall report's mail. Tests only.

#include <poll.h>
#include <sys/socket.h>

#include <mutex>
#include <string>
#include <thread>

#include "net/socket_io.h"
#include "platform/unique_fd.h"

namespace vantrel::diag_testing {

// A loopback SMTP server that answers every command from a script and records
// what the client sent. One connection; bounded waits throughout.
class FakeSmtpServer {
 public:
  // `dataReply` answers DATA, `endReply` the final dot.
  explicit FakeSmtpServer(std::string greeting = "220 hi\r\n", std::string heloReply = "250 ok\r\n",
                          std::string rcptReply = "250 ok\r\n")
      : m_greeting(std::move(greeting)), m_helo(std::move(heloReply)), m_rcpt(std::move(rcptReply)) {
    m_listener = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::listen(m_listener.get(), 1);
    ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&at), &length);
    m_port = ntohs(at.sin_port);
    m_thread = std::jthread([this](std::stop_token st) { run(st); });
  }
  uint16_t port() const { return m_port; }
  std::string transcript() const {
    std::scoped_lock lock(m_mutex);
    return m_seen;
  }

 private:
  void run(std::stop_token st) {
    pollfd p{m_listener.get(), POLLIN, 0};
    while (!st.stop_requested() && ::poll(&p, 1, 50) <= 0) {
    }
    if (st.stop_requested()) return;
    UniqueFd conn(::accept(m_listener.get(), nullptr, nullptr));
    sendText(conn.get(), m_greeting);
    bool inData = false;
    std::string line;
    while (!st.stop_requested()) {
      if (!waitReadable(conn.get(), std::chrono::milliseconds(50))) continue;
      if (readLine(conn.get(), line, 4096, 1) == 0) return;
      {
        std::scoped_lock lock(m_mutex);
        m_seen += line;
      }
      if (inData) {
        if (line == ".\r\n") {
          inData = false;
          sendText(conn.get(), "250 queued\r\n");
        }
      } else if (line.rfind("HELO", 0) == 0) {
        sendText(conn.get(), m_helo);
      } else if (line.rfind("RCPT", 0) == 0) {
        sendText(conn.get(), m_rcpt);
      } else if (line == "DATA\r\n") {
        inData = true;
        sendText(conn.get(), "354 go\r\n");
      } else if (line == "Quit\r\n") {
        return;
      } else {
        sendText(conn.get(), "250 ok\r\n");
      }
    }
  }

  std::string m_greeting, m_helo, m_rcpt;
  UniqueFd m_listener;
  uint16_t m_port = 0;
  mutable std::mutex m_mutex;
  std::string m_seen;  // guarded by m_mutex
  std::jthread m_thread;
};

}  // namespace vantrel::diag_testing
