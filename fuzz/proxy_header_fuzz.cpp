// SPDX-License-Identifier: MIT
// What a proxy (or anyone pretending to be one) puts in front of a request:
// the PROXY line, and the X-Forwarded-For value. A line read whole lies
// within the bytes and the longest line there is, and every address handed
// on is an address.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/http/proxy_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vantrel::server::ProxyLineStatus;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto line = vantrel::server::parseProxyLine(input);
  if (line.status == ProxyLineStatus::kComplete) {
    if (line.length > input.size() || line.length > vantrel::server::kMaxProxyLine) std::abort();
    if (input.substr(line.length - 2, 2) != "\r\n") std::abort();
    if (!line.source.empty() && !vantrel::server::isAddressText(line.source)) std::abort();
  } else if (!line.source.empty()) {
    std::abort();
  }
  if (line.status == ProxyLineStatus::kNeedMore && input.size() >= vantrel::server::kMaxProxyLine) std::abort();
  const std::string forwarded = vantrel::server::lastForwardedFor(input);
  if (!forwarded.empty() && !vantrel::server::isAddressText(forwarded)) std::abort();
  return 0;
}
