// SPDX-License-Identifier: MIT
#include "transfers/download_list.h"

#include <charconv>

#include "core/text_codecs.h"

namespace vantrel {
namespace {

// Spaces (the field separator), control and non-ASCII bytes and "%" as %XX.
void appendEscaped(std::string& out, std::string_view text) {
  out += percentEncode(text, [](unsigned char c) { return c <= 0x20 || c >= 0x7F || c == '%'; });
}

// Every "%" must start an escape: a line that has a bad one is damaged.
bool unescape(std::string_view text, std::string& out) {
  return percentDecode(text, PlusSign::kLiteral, BadEscape::kReject, out) && out.size() <= kMaxSavedText;
}

template <typename T>
bool number(std::string_view text, T& value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool decodeLine(std::string_view line, SavedDownload& d) {
  std::string_view fields[8];
  std::size_t count = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = line.find(' ', start);
    if (count == 8) return false;  // a ninth field
    fields[count++] = line.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start);
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  if (count != 8) return false;
  int32_t state = 0;
  int32_t reason = 0;
  if (!number(fields[0], state) || state < 0 || state > static_cast<int32_t>(DownloadState::Refused)) return false;
  if (!number(fields[1], reason) || reason < 0 || reason >= kDownloadReasonCount) return false;
  if (!number(fields[2], d.fileId) || !number(fields[3], d.ownerId)) return false;
  if (!number(fields[4], d.expectedSize) || !number(fields[5], d.bytesPresent) || d.bytesPresent < 0) return false;
  if (!unescape(fields[6], d.url) || !unescape(fields[7], d.localPath) || d.localPath.empty()) return false;
  d.state = static_cast<DownloadState>(state);
  d.reason = static_cast<DownloadReason>(reason);
  return true;
}

}  // namespace

std::string encodeDownloadList(const std::vector<SavedDownload>& downloads) {
  std::string out(kDownloadListHeader);
  out += '\n';
  for (const SavedDownload& d : downloads) {
    out += std::to_string(static_cast<int32_t>(d.state)) + ' ' + std::to_string(static_cast<int32_t>(d.reason)) + ' ' +
           std::to_string(d.fileId) + ' ' + std::to_string(d.ownerId) + ' ' + std::to_string(d.expectedSize) + ' ' +
           std::to_string(d.bytesPresent) + ' ';
    appendEscaped(out, d.url);
    out += ' ';
    appendEscaped(out, d.localPath);
    out += '\n';
  }
  return out;
}

bool decodeDownloadList(std::string_view text, std::vector<SavedDownload>& out) {
  out.clear();
  std::size_t end = text.find('\n');
  if (text.substr(0, end) != kDownloadListHeader) return false;
  while (end != std::string_view::npos && out.size() < kMaxSavedDownloads) {
    const std::size_t start = end + 1;
    end = text.find('\n', start);
    const std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    SavedDownload d;
    if (!line.empty() && decodeLine(line, d)) out.push_back(std::move(d));
  }
  return true;
}

}  // namespace vantrel
