// SPDX-License-Identifier: MIT
#include "fileserver/http_header.h"

#include <cstdio>
#include <strings.h>

namespace vantrel {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct TypeEntry {
  const char* extension;
  const char* type;
};
// Order matters only in that the first match wins; the texts are the ones peers
// have always received, "text/text" and "file/executable" included. CSS is there
// for the pages' one stylesheet, which browsers apply only under its own type.
constexpr TypeEntry kTypes[] = {
    {"HTM", "text/html"},        {"HTML", "text/html"},       {"TXT", "text/text"},
    {"GIF", "image/gif"},        {"JPG", "image/jpeg"},       {"JPEG", "image/jpeg"},
    {"BMP", "image/x-xbitmap"},  {"ZIP", "application/zip"},  {"EXE", "file/executable"},
    {"DOC", "application/msword"}, {"AU", "audio/au"},        {"WAV", "audio/wav"},
    {"MPEG", "video/mpeg"},      {"MPG", "video/mpeg"},       {"AVI", "video/avi"},
    {"CSS", "text/css"},
};
constexpr std::string_view kDefaultType = "application/octet-stream";

std::tm gmt(std::time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  return parts;
}

}  // namespace

int formatHttpDate(std::string& out, std::size_t size, std::time_t when) {
  const std::tm t = gmt(when);
  char text[128];
  const int n = std::snprintf(text, sizeof text, "%s, %2.2d %s %d %2.2d:%2.2d:%2.2d GMT", kDays[t.tm_wday % 7],
                              t.tm_mday, kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  if (n < 0 || static_cast<std::size_t>(n) >= size) return kHeaderDateTooLong;
  out.assign(text, static_cast<std::size_t>(n));
  return kHeaderOk;
}

std::string formatLastModified(std::time_t when) {
  const std::tm t = gmt(when);
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d GMT", kDays[t.tm_wday % 7],
                              t.tm_mday, kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

int buildHeader(std::string& out, std::size_t bufferSize, int status, int clientVersion, std::time_t now) {
  std::string date;
  if (formatHttpDate(date, 100, now) != kHeaderOk) return kHeaderTooLong;
  std::string block = "HTTP/1.0 " + std::to_string(status) + " OK\r\n";
  block += "Date:" + date + "\r\n";
  block += "Server: Vantrel Windows Server " + std::to_string(clientVersion) + "\r\n";
  block += "MIME-verion: 1.0\r\n";
  if (block.size() >= bufferSize) return kHeaderTooLong;
  out = std::move(block);
  return kHeaderOk;
}

std::string_view contentTypeFor(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return kDefaultType;
  const std::string extension(fileName.substr(dot + 1));
  for (const auto& entry : kTypes) {
    if (::strcasecmp(extension.c_str(), entry.extension) == 0 && extension.size() == std::char_traits<char>::length(entry.extension)) {
      return entry.type;
    }
  }
  return kDefaultType;
}

}  // namespace vantrel
