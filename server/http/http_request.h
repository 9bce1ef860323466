// SPDX-License-Identifier: MIT
#pragma once
// HttpRequest and its parser: the one reader of the bytes that clients and
// browsers send to the server. It takes what has arrived so far and says
// whether a whole request is there, more is needed, or the input is refused;
// sizes are bounded, so a peer cannot make the server hold more than
// kMaxHeaderBytes + kMaxBodyBytes for one request.
//
// Pure functions over values; thread-safe.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"

namespace vantrel::server {

struct HttpRequest {
  std::string method;  // upper case
  std::string target;  // as sent: path and query
  std::string path;    // without the query, "\" turned into "/"
  std::string query;   // after the first "?", may be empty
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The first header of that name (case-insensitive), or "".
  std::string header(std::string_view name) const;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain";
  std::string body;
  std::vector<std::string> extraHeaders;  // whole lines without CR LF
  // False: no Content-Length; the body ends where the connection closes.
  bool announceLength = true;
  // When set, the listener's worker hands the connection over instead of
  // answering, and is free at once; the taker answers (HttpListener::answer).
  std::function<void(UniqueFd connection)> handOff;

  // Status line, headers and body as they go on the wire.
  std::string serialize() const;
};

enum class ParseStatus { kComplete, kNeedMore, kBad, kTooLarge };

inline constexpr size_t kMaxHeaderBytes = 16 * 1024;
inline constexpr size_t kMaxBodyBytes = 4 * 1024 * 1024;
inline constexpr size_t kMaxHeaderLines = 100;

// Parses the request at the start of `data`. The body is Content-Length bytes
// ("Content-length" as the client writes it is the same header); anything after
// it, such as the two spare line ends the client sends, is not part of it.
ParseStatus parseHttpRequest(std::string_view data, HttpRequest& out);

}  // namespace vantrel::server
