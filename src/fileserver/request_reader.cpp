// SPDX-License-Identifier: MIT
#include "fileserver/request_reader.h"

#include <cctype>
#include <cstdlib>

#include "net/socket_io.h"

namespace vantrel {
namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string_view trimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

// Splits text into the tokens a tokeniser on `delimiters` gives: empty pieces
// between consecutive delimiters are skipped.
std::vector<std::string_view> tokens(std::string_view text, std::string_view delimiters) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    pos = text.find_first_not_of(delimiters, pos);
    if (pos == std::string_view::npos) break;
    const std::size_t end = std::min(text.find_first_of(delimiters, pos), text.size());
    out.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

// The CR LF-terminated lines of a block, without their line ends.
template <typename Fn>
void forEachLine(std::string_view block, Fn&& fn) {
  while (!block.empty()) {
    const std::size_t end = block.find("\r\n");
    if (end == std::string_view::npos) break;
    fn(block.substr(0, end));
    block.remove_prefix(end + 2);
  }
}

}  // namespace

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<RequestLine> splitRequestLine(std::string_view line) {
  const std::size_t firstSpace = line.find(' ');
  const std::size_t lastSpace = line.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) return std::nullopt;
  const std::string_view method = line.substr(0, firstSpace);
  if (method.size() > kMaxMethodLength) return std::nullopt;
  RequestLine request;
  request.url = std::string(line.substr(firstSpace + 1, lastSpace - firstSpace - 1));
  if (startsWithNoCase(method, "GET")) {
    request.method = HttpMethod::Get;
  } else if (startsWithNoCase(method, "POST")) {
    request.method = HttpMethod::Post;
  }
  return request;
}

std::optional<UrlParts> splitUrl(std::string_view url) {
  const std::size_t first = url.find('/');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = url.find('/', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view command = url.substr(first + 1, second - first - 1);
  if (command.size() > kMaxCommandLength) return std::nullopt;
  UrlParts parts;
  parts.command = std::string(command);
  std::string_view rest = url.substr(second);
  if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
    parts.query = std::string(rest.substr(mark + 1));
    rest = rest.substr(0, mark);
  }
  parts.path = std::string(rest);
  const std::string_view resource = rest.substr(1);
  if (resource.size() <= kMaxResourceLength) parts.resource = std::string(resource);
  return parts;
}

std::vector<HeaderLine> headerLines(std::string_view block) {
  std::vector<HeaderLine> lines;
  forEachLine(block, [&](std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return;
    lines.push_back({std::string(line.substr(0, colon)), std::string(trimRight(trimLeft(line.substr(colon + 1))))});
  });
  return lines;
}

void addHeaderParams(std::string_view block, RequestParams& params) {
  forEachLine(block, [&](std::string_view line) {
    const auto pieces = tokens(line, ":");
    if (pieces.empty()) return;
    params.replace(pieces[0], pieces.size() > 1 ? std::string(pieces[1]) : std::string());
  });
}

bool isOwnClientUserAgent(std::string_view line) {
  line = withoutLineEnd(line);
  if (!startsWithNoCase(line, "User-Agent:")) return false;
  const auto pieces = tokens(line, ":/");
  if (pieces.size() < 4) return false;
  if (!equalsNoCase(pieces[0], "User-Agent")) return false;
  if (!startsWithNoCase(trimLeft(pieces[1]), "Vantrel Client")) return false;
  const std::string version(pieces[2]);
  return std::atoi(version.c_str()) > 0 && !pieces[3].empty();
}

std::optional<long long> contentLengthOf(std::string_view line, long long maxLength) {
  if (!startsWithNoCase(line, "Content-length:")) return std::nullopt;
  const std::string_view value = trimRight(trimLeft(line.substr(15)));
  const std::string_view word = value.substr(0, value.find(' '));
  if (word.empty() || word.size() > 20) return -1;
  long long length = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return -1;
    length = length * 10 + (c - '0');
    if (length > maxLength) return -1;
  }
  return length;
}

}  // namespace vantrel
