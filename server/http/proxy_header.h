// SPDX-License-Identifier: MIT
#pragma once
// The real address of a request that came through a proxy: the PROXY line
// (version 1, as haproxy's "send-proxy" writes it) in front of the request,
// or the last address of an X-Forwarded-For header. Believed only when the
// connection itself comes from one of the configured proxies; that check is
// the caller's (HttpListener).
//
// Pure functions; thread-safe. Their input is whatever a peer sent.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::server {

// True for an IPv4 or IPv6 address literal (no brackets, no port).
bool isAddressText(std::string_view text);

enum class ProxyLineStatus {
  kNone,      // the bytes do not begin with a PROXY line
  kNeedMore,  // they begin like one; it is not whole yet
  kComplete,  // a PROXY line, `length` bytes with its CR LF
  kBad,       // a PROXY line that breaks its format
};

struct ProxyLine {
  ProxyLineStatus status = ProxyLineStatus::kNone;
  size_t length = 0;
  // The client's address; empty for "PROXY UNKNOWN" (the proxy's own
  // connection, such as a health check), where the peer address stands.
  std::string source;
};

// The longest PROXY line there is, CR LF included.
inline constexpr size_t kMaxProxyLine = 107;

// Reads the PROXY line at the start of `data`: "PROXY TCP4 SRC DST SPORT
// DPORT\r\n", the same with TCP6, or "PROXY UNKNOWN ...\r\n".
ProxyLine parseProxyLine(std::string_view data);

// The last address of an X-Forwarded-For value: the one the proxy added
// (the ones before it are the client's to write). Empty when it is not an
// address.
std::string lastForwardedFor(std::string_view value);

}  // namespace vantrel::server
