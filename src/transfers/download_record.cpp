// SPDX-License-Identifier: MIT
#include "transfers/download_record.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace vantrel {

bool reasonRetries(DownloadReason reason) {
  switch (reason) {
    case DownloadReason::SharerOffline:
    case DownloadReason::SharerBusy:
    case DownloadReason::ConnectionLost:
    case DownloadReason::LinkExpired:
      return true;
    case DownloadReason::None:
    case DownloadReason::MembersOnly:
    case DownloadReason::NoLongerShared:
    case DownloadReason::DiskFull:
    case DownloadReason::PermissionDenied:
    case DownloadReason::SizeMismatch:
    case DownloadReason::Other:
      return false;
  }
  return false;
}

std::string downloadReasonText(DownloadReason reason, std::string_view detail) {
  switch (reason) {
    case DownloadReason::None:
      return {};
    case DownloadReason::MembersOnly:
      return "members only: join the group";
    case DownloadReason::SharerOffline:
      return "the sharer is offline; will retry";
    case DownloadReason::SharerBusy:
      return "the sharer is busy; will retry";
    case DownloadReason::ConnectionLost:
      return "the connection was lost; will retry";
    case DownloadReason::LinkExpired:
      return "the sharer asked for a new link; will retry";
    case DownloadReason::NoLongerShared:
      return "the file is no longer shared";
    case DownloadReason::DiskFull:
      return "the disk is full: free some space, then start it again";
    case DownloadReason::PermissionDenied:
      return "permission denied: cannot write to " + std::string(detail.empty() ? "the folder" : detail);
    case DownloadReason::SizeMismatch:
      return "the file that came is not the size listed: start it again";
    case DownloadReason::Other:
      return "the download failed: start it again";
  }
  return {};
}

std::string durationText(int64_t seconds) {
  seconds = std::max<int64_t>(0, seconds);
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

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
  const bool failed = info.state == DownloadState::Error || info.state == DownloadState::Refused;
  if (!failed || info.reason == DownloadReason::None) {
    return downloadStateText(static_cast<int32_t>(info.state), info.resultCode, info.peerErrorText);
  }
  std::string text = downloadReasonText(info.reason, info.reasonDetail);
  if (info.retryInSeconds >= 0 && reasonRetries(info.reason)) {
    // "…; will retry" becomes "…; retrying in 2:00" once the time is set.
    const std::size_t at = text.rfind("; will retry");
    if (at != std::string::npos) text.resize(at);
    text += "; retrying in " + durationText(info.retryInSeconds);
  }
  return text;
}

std::string downloadCodeText(const DownloadInfo& info) {
  if (info.state != DownloadState::Error && info.state != DownloadState::Refused) return {};
  std::string text = "Error " + std::to_string(info.resultCode);
  if (info.peerCode != 0) text += ", refused by the sharer with error " + std::to_string(info.peerCode);
  if (!info.peerErrorText.empty()) text += ": " + info.peerErrorText;
  return text;
}

std::string downloadProgressText(const DownloadInfo& info) {
  // From the 64-bit values: the capped counts would stop at 2147483 k.
  return std::to_string(info.bytesPresent / 1000) + " k / " + std::to_string(info.fileSize / 1000) + " k";
}

std::string downloadSpeedText(const DownloadInfo& info) { return std::to_string(info.rate / 1000) + " k/s"; }

int32_t downloadPercent(const DownloadInfo& info) {
  if (info.state == DownloadState::Completed) return 100;
  if (info.fileSize <= 0) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(info.bytesPresent * 100 / info.fileSize, 0, 100));
}

int64_t downloadSecondsLeft(const DownloadInfo& info) {
  if (info.state != DownloadState::Downloading || info.rate <= 0 || info.fileSize <= 0) return -1;
  return (std::max<int64_t>(0, info.fileSize - info.bytesPresent) + info.rate - 1) / info.rate;
}

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

int32_t peerErrorCode(std::string_view line) {
  // "error=" as a name of its own: after the start or an "&".
  for (std::size_t at = 0; (at = line.find("error=", at)) != std::string_view::npos; at += 6) {
    if (at != 0 && line[at - 1] != '&') continue;
    int64_t value = 0;
    std::size_t i = at + 6;
    for (; i < line.size() && i < at + 15 && line[i] >= '0' && line[i] <= '9'; ++i) value = value * 10 + (line[i] - '0');
    return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
  }
  return 0;
}

int64_t steadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {
int32_t capped(int64_t n) { return static_cast<int32_t>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX)); }
}  // namespace

DownloadRecord::DownloadRecord(int32_t downloadId, std::string url, std::string localPath, int64_t size,
                               DownloadSource source)
    : id(downloadId),
      catalogueFileId(source.fileId),
      ownerId(source.ownerId),
      sharerOnline(source.online),
      expectedSize(capped(size)),
      fileSize(size),
      m_url(std::move(url)) {
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

void DownloadRecord::setReason(DownloadReason r, std::string detail) {
  std::scoped_lock lock(m_mutex);
  reason = static_cast<int32_t>(r);
  m_reasonDetail = std::move(detail);
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
std::string DownloadRecord::reasonDetail() const {
  std::scoped_lock lock(m_mutex);
  return m_reasonDetail;
}

void DownloadRecord::setUrl(std::string url) {
  std::scoped_lock lock(m_mutex);
  m_url = std::move(url);
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
  out.catalogueFileId = catalogueFileId;
  out.ownerId = ownerId;
  out.peerCode = peerCode;
  out.retryWaitMs = retryWaitMs;
  if (const int64_t at = retryAtMs; at > 0) out.retryInSeconds = static_cast<int32_t>(std::max<int64_t>(0, (at - steadyNowMs() + 999) / 1000));
  std::scoped_lock lock(m_mutex);
  out.reason = static_cast<DownloadReason>(reason.load());
  out.url = m_url;
  out.localPath = m_localPath;
  out.fileName = m_fileName;
  out.peerErrorText = m_peerErrorText;
  out.reasonDetail = m_reasonDetail;
  return out;
}

}  // namespace vantrel
