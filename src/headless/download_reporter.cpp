// SPDX-License-Identifier: MIT
#include "headless/download_reporter.h"

namespace vantrel {

bool DownloadReporter::ended(const DownloadInfo& info) {
  switch (info.state) {
    case DownloadState::Completed:
    case DownloadState::Stopped:
      return true;
    case DownloadState::Error:
    case DownloadState::Refused:
      return info.retryInSeconds < 0;
    case DownloadState::Queued:
    case DownloadState::Downloading:
      return false;
  }
  return false;
}

bool DownloadReporter::counts(const DownloadInfo& info) const {
  const auto it = m_seen.find(info.id);
  return it == m_seen.end() || !it->second.endedBefore;
}

bool DownloadReporter::allEnded(const std::vector<DownloadInfo>& all) const {
  for (const DownloadInfo& info : all) {
    if (counts(info) && !ended(info)) return false;
  }
  return true;
}

bool DownloadReporter::allCompleted(const std::vector<DownloadInfo>& all) const {
  for (const DownloadInfo& info : all) {
    if (counts(info) && info.state != DownloadState::Completed) return false;
  }
  return true;
}

void DownloadReporter::noteExisting(const std::vector<DownloadInfo>& all) {
  for (const DownloadInfo& info : all) {
    if (!ended(info)) continue;
    Seen& seen = m_seen[info.id];
    seen.state = info.state;
    seen.endedBefore = true;
  }
}

std::vector<std::string> DownloadReporter::update(const std::vector<DownloadInfo>& all, int64_t nowMs) {
  std::vector<std::string> lines;
  for (const DownloadInfo& info : all) {
    const auto [it, fresh] = m_seen.try_emplace(info.id);
    Seen& seen = it->second;
    if (seen.endedBefore) continue;
    const bool changed = fresh || seen.state != info.state;
    // Without the countdown, which changes every second.
    std::string status = downloadStateText(info);
    if (const std::size_t at = status.find("; retrying in "); at != std::string::npos) status.resize(at);
    switch (info.state) {
      case DownloadState::Completed:
        if (changed) lines.push_back("done " + info.localPath);
        break;
      case DownloadState::Stopped:
        if (changed) lines.push_back("stopped " + info.fileName);
        break;
      case DownloadState::Error:
      case DownloadState::Refused:
        if (ended(info)) {
          if (changed || status != seen.status) lines.push_back("failed " + info.fileName + ": " + status);
        } else if (changed || status != seen.status) {
          lines.push_back(info.fileName + ": " + downloadStateText(info));
        }
        break;
      case DownloadState::Downloading: {
        const int32_t percent = downloadPercent(info);
        if (changed || percent >= seen.percent + 10 || nowMs - seen.lastLineMs >= kProgressEveryMs) {
          lines.push_back(info.fileName + ": " + std::to_string(percent) + "% (" + downloadProgressText(info) + ", " +
                          downloadSpeedText(info) + ")");
          seen.percent = percent;
          seen.lastLineMs = nowMs;
        }
        break;
      }
      case DownloadState::Queued:
        if (changed) lines.push_back(info.fileName + ": queued");
        break;
    }
    seen.state = info.state;
    seen.status = status;
  }
  return lines;
}

}  // namespace vantrel
