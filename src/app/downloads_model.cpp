// SPDX-License-Identifier: MIT
#include "app/downloads_model.h"

#include <algorithm>

namespace vantrel {

DownloadRow downloadRow(const DownloadInfo& info, int32_t running, int32_t limit) {
  DownloadRow row;
  row.id = info.id;
  row.name = info.fileName;
  row.progress = downloadProgressText(info);
  row.speed = downloadSpeedText(info);
  row.status = downloadStateText(info);
  // A queued download waits for a free slot; with the count the person sees why.
  if (info.state == DownloadState::Queued) {
    row.status += ": " + std::to_string(std::max(0, running)) + " of " + std::to_string(std::max(0, limit)) +
                  " downloads running";
  }
  row.bytesPresent = info.bytesPresent;
  row.rate = info.rate;
  return row;
}

std::string toggleText(DownloadState state) {
  return state == DownloadState::Downloading ? "Stop transfer" : "Start transfer";
}

std::string menuToggleText(DownloadState state) {
  switch (state) {
    case DownloadState::Downloading:
      return "Stop transfer";
    case DownloadState::Completed:
      return "Start Transfer";
    case DownloadState::Queued:
    case DownloadState::Stopped:
    case DownloadState::Error:
    case DownloadState::Refused:
      return "Start transfer";
  }
  return "Start transfer";
}

std::optional<DownloadNotice> noticeFor(DownloadState before, const DownloadInfo& now) {
  if (before == now.state) return std::nullopt;
  switch (now.state) {
    case DownloadState::Completed:
      return DownloadNotice{"Download complete", now.fileName, false};
    case DownloadState::Error:
    case DownloadState::Refused:
      return DownloadNotice{"Download failed", now.fileName + ": " + downloadStateText(now), true};
    case DownloadState::Queued:
    case DownloadState::Downloading:
    case DownloadState::Stopped:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace vantrel
