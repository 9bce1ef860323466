// SPDX-License-Identifier: MIT
#include "net/reply_fields.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vantrel {

namespace {

constexpr std::size_t kMaxNumberText = 99;

// Where the value after `at` ends: the next "&", else the next space.
std::size_t valueEnd(std::string_view reply, std::size_t at) {
  const std::size_t amp = reply.find('&', at);
  return amp != std::string_view::npos ? amp : reply.find(' ', at);
}

}  // namespace

int ReplyNumber(std::string_view reply, std::string_view name) {
  const std::size_t found = reply.find(name);
  if (found == std::string_view::npos || name.empty()) return -1;
  const std::size_t start = found + name.size();
  const std::size_t end = valueEnd(reply, start);
  if (end == std::string_view::npos) return -1;
  std::string value(reply.substr(start, std::min(end - start, kMaxNumberText)));
  if (!value.empty() && value.front() == '0') return 0;
  errno = 0;
  const long n = std::strtol(value.c_str(), nullptr, 10);
  if (n == 0) return -1;
  // A number out of range saturates instead of wrapping into a plausible value.
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return static_cast<int>(n);
}

std::optional<std::string> ReplyText(std::string_view reply, std::string_view name, std::size_t size) {
  const std::size_t found = reply.find(name);
  if (found == std::string_view::npos || name.empty() || found == 0 || reply[found - 1] != '&') {
    return std::nullopt;
  }
  const std::size_t start = found + name.size();
  const std::size_t end = valueEnd(reply, start);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(reply.substr(start, std::min(end - start, size)));
}

}  // namespace vantrel
