// SPDX-License-Identifier: MIT
#include "fileserver/byte_range.h"

#include <limits>

namespace vantrel {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

bool isSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isSpace(s.back()) || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

// A run of decimal digits; saturates instead of overflowing. nullopt when the
// text is empty or holds anything but digits.
std::optional<int64_t> number(std::string_view s) {
  if (s.empty()) return std::nullopt;
  int64_t value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return value;
}

ByteRange whole(int64_t size) { return ByteRange{ByteRange::Kind::Whole, 0, size - 1, size}; }

}  // namespace

int ByteRange::status() const {
  switch (kind) {
    case Kind::Whole:
      return 200;
    case Kind::Partial:
      return 206;
    case Kind::Unsatisfiable:
      return 416;
  }
  return 200;
}

std::string ByteRange::contentRange() const {
  if (kind == Kind::Unsatisfiable) return "bytes */" + std::to_string(size);
  return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size);
}

ByteRange parseRange(std::optional<std::string_view> header, int64_t fileSize) {
  const int64_t size = fileSize < 0 ? 0 : fileSize;
  if (!header) return whole(size);
  std::string_view value = *header;
  const std::size_t unit = value.find("bytes");
  if (unit == std::string_view::npos) return whole(size);
  value.remove_prefix(unit + 5);
  const std::size_t equals = value.find('=');
  if (equals == std::string_view::npos) return whole(size);
  value.remove_prefix(equals + 1);
  // Of a list only the first range counts, and it runs to the end of the file.
  const std::size_t comma = value.find(',');
  const bool list = comma != std::string_view::npos;
  if (list) value = value.substr(0, comma);
  const std::size_t dash = value.find('-');
  if (dash == std::string_view::npos) return whole(size);
  const std::string_view firstText = trim(value.substr(0, dash));
  const std::string_view lastText = trim(value.substr(dash + 1));

  int64_t first = 0;
  int64_t last = size - 1;
  if (firstText.empty()) {
    // "-N": the last N bytes.
    const auto suffix = number(lastText);
    if (!suffix) return whole(size);
    if (*suffix == 0) return ByteRange{ByteRange::Kind::Unsatisfiable, 0, -1, size};
    first = *suffix >= size ? 0 : size - *suffix;
  } else {
    const auto start = number(firstText);
    if (!start) return whole(size);
    first = *start;
    if (!lastText.empty()) {
      const auto end = number(lastText);
      if (!end || *end < first) return whole(size);  // not a usable range: ignore it
      last = *end < size - 1 ? *end : size - 1;
    }
    if (first >= size) return ByteRange{ByteRange::Kind::Unsatisfiable, 0, -1, size};
  }
  if (list) last = size - 1;
  if (first == 0 && last == size - 1) return whole(size);
  return ByteRange{ByteRange::Kind::Partial, first, last, size};
}

}  // namespace vantrel
