// SPDX-License-Identifier: MIT
#pragma once
// The pieces of a request as the file server reads them: the request line, the
// URL (command, resource name, query string) and the header block. Pure
// functions over text, so that every one can be fuzzed; the connection does the
// socket reading. Thread-safe: no state.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fileserver/request_params.h"

namespace vantrel {

enum class HttpMethod { Get, Post, Other };

struct RequestLine {
  HttpMethod method = HttpMethod::Other;
  std::string url;
};

// Longest command, resource name and method the server takes.
inline constexpr std::size_t kMaxCommandLength = 99;
inline constexpr std::size_t kMaxResourceLength = 159;
inline constexpr std::size_t kMaxMethodLength = 10;

// Method before the first space, URL between the first and the last space.
// nullopt when the line is not a request: fewer than two spaces or a method
// longer than 10 characters. A method that starts with "GET" or "POST" (any
// case) is that method.
std::optional<RequestLine> splitRequestLine(std::string_view line);

struct UrlParts {
  std::string command;   // between the first and the second "/"
  std::string resource;  // behind the second "/", "" when longer than 159
  std::string path;      // from the second "/" on, without the query
  std::optional<std::string> query;  // behind the first "?" of the path
};

// nullopt when there is no command (fewer than two "/") or it is too long.
std::optional<UrlParts> splitUrl(std::string_view url);

// One header line of the block.
struct HeaderLine {
  std::string name;
  std::string value;  // the whole text behind the first ":", leading spaces removed
};

// The CR LF-terminated lines of a header block with their full values, for the
// checks that need them (the parameter map keeps only what the first ":" and
// the next ":" enclose).
std::vector<HeaderLine> headerLines(std::string_view block);

// Files the header lines into the parameter map: name before the first ":",
// value up to the next ":" with its leading space kept; a line replaces what
// the name held.
void addHeaderParams(std::string_view block, RequestParams& params);

// True when the line is the User-Agent of the program's own client:
// "User-Agent: Vantrel Client/<version above 0>/<platform>".
bool isOwnClientUserAgent(std::string_view line);

// The value of a "Content-length:" line (any case): nullopt when the line is
// not one; -1 when the value is not a number from 0 to maxLength.
std::optional<long long> contentLengthOf(std::string_view line, long long maxLength);

bool startsWithNoCase(std::string_view text, std::string_view prefix);
bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace vantrel
