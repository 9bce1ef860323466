// SPDX-License-Identifier: MIT
#include "server/http/http_request.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "server/http/form_fields.h"

namespace vantrel::server {

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

}  // namespace

std::string HttpRequest::header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (equalsIgnoreCase(n, name)) return v;
  }
  return {};
}

std::string HttpResponse::serialize() const {
  std::string out = "HTTP/1.0 " + std::to_string(status) + " " + reason(status) + "\r\n";
  out += "Content-Type: " + contentType + "\r\n";
  if (announceLength) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "Connection: close\r\n";
  out += "Cache-Control: no-store\r\n";
  for (const auto& h : extraHeaders) out += h + "\r\n";
  out += "\r\n";
  out += body;
  return out;
}

ParseStatus parseHttpRequest(std::string_view data, HttpRequest& out) {
  // Lines may end in CR LF or a bare LF.
  const size_t headEnd = [&] {
    const size_t crlf = data.find("\r\n\r\n");
    const size_t lf = data.find("\n\n");
    if (crlf == std::string_view::npos) return lf == std::string_view::npos ? lf : lf + 2;
    if (lf == std::string_view::npos || crlf + 2 < lf) return crlf + 4;
    return lf + 2;
  }();
  if (headEnd == std::string_view::npos) {
    return data.size() > kMaxHeaderBytes ? ParseStatus::kTooLarge : ParseStatus::kNeedMore;
  }
  if (headEnd > kMaxHeaderBytes) return ParseStatus::kTooLarge;

  out = HttpRequest{};
  std::string_view head = data.substr(0, headEnd);
  size_t lineNo = 0;
  size_t contentLength = 0;
  while (!head.empty()) {
    const size_t nl = head.find('\n');
    std::string_view line = head.substr(0, nl);
    head.remove_prefix(nl == std::string_view::npos ? head.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (line.find('\0') != std::string_view::npos) return ParseStatus::kBad;
    if (lineNo++ == 0) {
      const size_t s1 = line.find(' ');
      const size_t s2 = line.rfind(' ');
      if (s1 == std::string_view::npos || s1 == 0 || s1 > 10) return ParseStatus::kBad;
      out.method.assign(line.substr(0, s1));
      for (char& c : out.method) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      out.target.assign(s2 > s1 ? line.substr(s1 + 1, s2 - s1 - 1) : line.substr(s1 + 1));
      if (out.target.empty()) return ParseStatus::kBad;
      std::string target = out.target;
      // Clients write the request path with backslashes.
      const size_t q = target.find('?');
      std::replace(target.begin(), q == std::string::npos ? target.end() : target.begin() + static_cast<long>(q), '\\',
                   '/');
      out.path = target.substr(0, q);
      if (q != std::string::npos) out.query = target.substr(q + 1);
      // An absolute URL ("http://host/path") names the path after the host.
      if (out.path.rfind("http://", 0) == 0) {
        const size_t slash = out.path.find('/', 7);
        out.path = slash == std::string::npos ? "/" : out.path.substr(slash);
      }
      if (out.path.empty() || out.path.front() != '/') out.path.insert(out.path.begin(), '/');
      continue;
    }
    if (out.headers.size() >= kMaxHeaderLines) return ParseStatus::kTooLarge;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;  // tolerated, ignored
    std::string name(trim(line.substr(0, colon)));
    std::string value(trim(line.substr(colon + 1)));
    if (equalsIgnoreCase(name, "Content-Length")) {
      // A second, different length would let two readers disagree on where the body ends.
      const std::string_view digits = value;
      const size_t space = digits.find(' ');
      const auto n = parseNumber(digits.substr(0, space));
      if (!n || *n < 0) return ParseStatus::kBad;
      if (static_cast<uint64_t>(*n) > kMaxBodyBytes) return ParseStatus::kTooLarge;
      if (contentLength != 0 && contentLength != static_cast<size_t>(*n)) return ParseStatus::kBad;
      contentLength = static_cast<size_t>(*n);
    }
    if (equalsIgnoreCase(name, "Transfer-Encoding")) return ParseStatus::kBad;  // HTTP/1.0: lengths only
    out.headers.emplace_back(std::move(name), std::move(value));
  }
  if (out.method.empty()) return ParseStatus::kBad;
  if (data.size() - headEnd < contentLength) return ParseStatus::kNeedMore;
  out.body.assign(data.substr(headEnd, contentLength));
  return ParseStatus::kComplete;
}

}  // namespace vantrel::server
