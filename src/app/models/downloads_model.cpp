// SPDX-License-Identifier: MIT
#include "app/models/downloads_model.h"

#include <algorithm>

#include "app/models/uploads_model.h"

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
  row.percent = downloadPercent(info);
  row.done = std::to_string(row.percent) + "%";
  row.secondsLeft = downloadSecondsLeft(info);
  // As the Outgoing view says it, and nothing where it does not run.
  row.timeLeft = info.state == DownloadState::Downloading ? timeLeftText(row.secondsLeft) : "";
  row.savedTo = savedToText(info);
  row.statusTip = downloadCodeText(info);
  return row;
}

std::string savedToText(const DownloadInfo& info) {
  const std::size_t slash = info.localPath.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : info.localPath.substr(0, slash);
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
