// SPDX-License-Identifier: MIT
#include "net/head_reader.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace vantrel {

std::string_view nextHeadLine(std::string_view pending, std::size_t maxBytes) {
  if (maxBytes <= 1) return {};
  const std::size_t end = pending.find("\r\n");
  const std::size_t length = end == std::string_view::npos ? pending.size() : end + 2;
  return pending.substr(0, std::min(length, maxBytes - 1));
}

void HeadReader::look(int waitSeconds, SocketDeadline deadline) {
  m_looked = true;
  if (waitSeconds <= 0 && deadline == kNoDeadline) return;
  auto timeout = waitSeconds > 0 ? std::chrono::milliseconds(waitSeconds * 1000LL) : std::chrono::milliseconds::max();
  if (deadline != kNoDeadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    timeout = std::min(timeout, std::max(left, std::chrono::milliseconds(0)));
  }
  long seen = ::recv(m_fd, m_copy.data(), m_copy.size(), MSG_PEEK | MSG_DONTWAIT);
  if (seen < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && timeout.count() > 0 &&
      waitReadable(m_fd, timeout)) {
    seen = ::recv(m_fd, m_copy.data(), m_copy.size(), MSG_PEEK | MSG_DONTWAIT);
  }
  if (seen <= 0) return;
  const std::string_view copy(m_copy.data(), static_cast<std::size_t>(seen));
  // A head cut by the end of what has arrived is read line by line instead:
  // waiting for the rest is readLine's work, with its deadline.
  if (const std::size_t end = copy.find("\r\n\r\n"); end != std::string_view::npos) m_headBytes = end + 4;
}

std::size_t HeadReader::readLine(std::string& line, std::size_t maxBytes, int waitSeconds,
                                 SocketDeadline deadline) {
  if (!m_looked) look(waitSeconds, deadline);
  if (m_handed < m_headBytes) {
    const std::string_view pending(m_copy.data() + m_handed, m_headBytes - m_handed);
    const std::string_view next = nextHeadLine(pending, maxBytes);
    line.assign(next);
    m_handed += next.size();
    return next.size();
  }
  if (!take()) {
    line.clear();
    return 0;
  }
  return vantrel::readLine(m_fd, line, maxBytes, waitSeconds, deadline);
}

bool HeadReader::take() {
  while (m_taken < m_handed) {
    const long got = ::recv(m_fd, m_copy.data() + m_taken, m_handed - m_taken, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    m_taken += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace vantrel
