// SPDX-License-Identifier: MIT
#pragma once
// UniqueFd: the one owner of a file descriptor or socket. Move-only; closes on
// destruction. Not thread-safe by itself: one owner at a time. Beside it,
// writeAll, the one loop that writes a whole buffer to a descriptor.

#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace vantrel {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.m_fd, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  int release() { return std::exchange(m_fd, -1); }

  void reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

// Writes all of data, going on after interruptions; false on any error or a
// descriptor that takes nothing.
inline bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace vantrel
