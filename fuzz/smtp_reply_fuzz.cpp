// SPDX-License-Identifier: MIT
// The SMTP reply reader on whatever a mail server sends, through a socket pair
// whose far end closes after the bytes, so every read ends at once.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "diag/mail_sender.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fds[0], data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::shutdown(fds[0], SHUT_WR);
  (void)vantrel::MailSender::readReply(fds[1]);
  ::close(fds[0]);
  ::close(fds[1]);
  return 0;
}
