// SPDX-License-Identifier: MIT
#include "server/http/proxy_header.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <vector>

namespace vantrel::server {

namespace {

constexpr std::string_view kSignature = "PROXY ";

bool isPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  // No leading zero, as the format says ("0" itself aside).
  if (text.size() > 1 && text.front() == '0') return false;
  uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value <= 65535;
}

bool isFamilyAddress(std::string_view text, int family) {
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return false;
  const std::string copy(text);
  std::array<unsigned char, sizeof(in6_addr)> bytes{};
  return inet_pton(family, copy.c_str(), bytes.data()) == 1;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

bool isAddressText(std::string_view text) { return isFamilyAddress(text, AF_INET) || isFamilyAddress(text, AF_INET6); }

ProxyLine parseProxyLine(std::string_view data) {
  ProxyLine line;
  const size_t prefix = std::min(data.size(), kSignature.size());
  if (data.substr(0, prefix) != kSignature.substr(0, prefix)) return line;
  const size_t end = data.find("\r\n");
  if (end == std::string_view::npos || end + 2 > kMaxProxyLine) {
    // Whole lines are short: one that has not ended by then never will.
    line.status = data.size() >= kMaxProxyLine ? ProxyLineStatus::kBad : ProxyLineStatus::kNeedMore;
    return line;
  }
  line.length = end + 2;
  line.status = ProxyLineStatus::kBad;
  // Single spaces between the fields, as the format has them.
  std::vector<std::string_view> fields;
  std::string_view rest = data.substr(kSignature.size(), end - kSignature.size());
  while (true) {
    const size_t space = rest.find(' ');
    fields.push_back(rest.substr(0, space));
    if (space == std::string_view::npos) break;
    rest.remove_prefix(space + 1);
  }
  if (fields.empty()) return line;
  if (fields[0] == "UNKNOWN") {
    // Whatever follows is to be ignored.
    line.status = ProxyLineStatus::kComplete;
    return line;
  }
  const int family = fields[0] == "TCP4" ? AF_INET : fields[0] == "TCP6" ? AF_INET6 : -1;
  if (family < 0 || fields.size() != 5) return line;
  if (!isFamilyAddress(fields[1], family) || !isFamilyAddress(fields[2], family)) return line;
  if (!isPort(fields[3]) || !isPort(fields[4])) return line;
  line.source = std::string(fields[1]);
  // An IPv4 client of a dual-stack proxy shows as itself, as on our own sockets.
  if (family == AF_INET6 && line.source.rfind("::ffff:", 0) == 0 && isFamilyAddress(line.source.substr(7), AF_INET)) {
    line.source = line.source.substr(7);
  }
  line.status = ProxyLineStatus::kComplete;
  return line;
}

std::string lastForwardedFor(std::string_view value) {
  const size_t comma = value.rfind(',');
  const std::string_view last = trimmed(comma == std::string_view::npos ? value : value.substr(comma + 1));
  return isAddressText(last) ? std::string(last) : std::string();
}

}  // namespace vantrel::server
