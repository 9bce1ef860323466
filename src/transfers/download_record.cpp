// SPDX-License-Identifier: MIT
#include "transfers/download_record.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>

namespace vantrel {

std::string downloadStateText(int32_t state, int32_t resultCode, std::string_view peerErrorText) {
  switch (state) {
    case static_cast<int32_t>(DownloadState::Queued):
      return "queued";
    case static_cast<int32_t>(DownloadState::Downloading):
      return "Downloading";
    case static_cast<int32_t>(DownloadState::Stopped):
      return "Stopped";
    case static_cast<int32_t>(DownloadState::Completed):
      return "Completed";
    case static_cast<int32_t>(DownloadState::Error):
      return "Error " + std::to_string(resultCode);
    case static_cast<int32_t>(DownloadState::Refused):
      return peerErrorText.empty() ? std::string("Error") : std::string(peerErrorText);
    default:
      return "Unknown";
  }
}

std::string downloadStateText(const DownloadInfo& info) {
  return downloadStateText(static_cast<int32_t>(info.state), info.resultCode, info.peerErrorText);
}

std::string downloadProgressText(const DownloadInfo& info) {
  // From the 64-bit values: the capped counts would stop at 2147483 k.
  return std::to_string(info.bytesPresent / 1000) + " k / " + std::to_string(info.fileSize / 1000) + " k";
}

std::string downloadSpeedText(const DownloadInfo& info) { return std::to_string(info.rate / 1000) + " k/s"; }

std::string peerErrorMessage(std::string_view line) {
  // The line is cut at every "&" and "="; the piece after "errormessage" is the text.
  bool next = false;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find_first_of("&=", start);
    if (end == std::string_view::npos) end = line.size();
    const std::string_view piece = line.substr(start, end - start);
    if (next) return std::string(piece);
    next = piece.size() == 12 && ::strncasecmp(piece.data(), "errormessage", 12) == 0;
    start = end + 1;
  }
  return {};
}

namespace {
int32_t capped(int64_t n) { return static_cast<int32_t>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX)); }
}  // namespace

DownloadRecord::DownloadRecord(int32_t downloadId, std::string url, std::string localPath, int64_t size)
    : id(downloadId), expectedSize(capped(size)), fileSize(size), m_url(std::move(url)) {
  setLocalPath(std::move(localPath));
}

void DownloadRecord::setBytesPresent(int64_t n) {
  bytesPresent = n;
  received = capped(n);
}

void DownloadRecord::setResumeAt(int64_t n) {
  resumeAt = n;
  resumeOffset = capped(n);
}

std::string DownloadRecord::url() const {
  std::scoped_lock lock(m_mutex);
  return m_url;
}
std::string DownloadRecord::localPath() const {
  std::scoped_lock lock(m_mutex);
  return m_localPath;
}
std::string DownloadRecord::fileName() const {
  std::scoped_lock lock(m_mutex);
  return m_fileName;
}
std::string DownloadRecord::peerErrorText() const {
  std::scoped_lock lock(m_mutex);
  return m_peerErrorText;
}

void DownloadRecord::setLocalPath(std::string path) {
  std::scoped_lock lock(m_mutex);
  m_localPath = std::move(path);
  const std::size_t slash = m_localPath.rfind('/');
  m_fileName = slash == std::string::npos ? std::string() : m_localPath.substr(slash + 1);
}

void DownloadRecord::setPeerErrorText(std::string text) {
  std::scoped_lock lock(m_mutex);
  m_peerErrorText = std::move(text);
}

DownloadInfo DownloadRecord::info() const {
  DownloadInfo out;
  out.id = id;
  out.state = currentState();
  out.rate = rate;
  out.expectedSize = expectedSize;
  out.received = received;
  out.resultCode = resultCode;
  out.resumeOffset = resumeOffset;
  out.options = options;
  out.fileSize = fileSize;
  out.bytesPresent = bytesPresent;
  out.resumeAt = resumeAt;
  std::scoped_lock lock(m_mutex);
  out.url = m_url;
  out.localPath = m_localPath;
  out.fileName = m_fileName;
  out.peerErrorText = m_peerErrorText;
  return out;
}

}  // namespace vantrel
