// SPDX-License-Identifier: MIT
#include "app/models/uploads_model.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace vantrel {

int64_t ClientUploads::fileSize(int32_t fileId) const {
  const auto record = m_files ? m_files(fileId) : std::nullopt;
  if (!record) return -1;
  // The record's size stops at 2 GiB; the file itself knows better.
  std::error_code ec;
  const auto size = std::filesystem::file_size(record->localPath, ec);
  return ec ? static_cast<int64_t>(record->fileSize) : static_cast<int64_t>(size);
}

UploadLimits ClientUploads::limits() const {
  return UploadLimits{m_state.MaxUsers(), m_state.MaxUserBand(), m_state.MaxBand()};
}

void ClientUploads::setLimits(const UploadLimits& wanted) {
  const UploadLimits limits = normalisedLimits(wanted);
  m_state.SetLimits(limits.maxUsers, limits.maxBand, limits.maxUserBand);
  // In the order the settings sheet writes them.
  m_settings.SetSettingNumber("maxusers", limits.maxUsers);
  m_settings.SetSettingNumber("maxusrband", limits.maxUserBand);
  m_settings.SetSettingNumber("maxband", limits.maxBand);
}

UploadLimits normalisedLimits(UploadLimits limits) {
  limits.maxUsers = std::max(1, limits.maxUsers);
  limits.maxBand = std::max(1, limits.maxBand);
  limits.maxUserBand = std::clamp(limits.maxUserBand, 1, limits.maxBand);
  return limits;
}

UploadRow uploadRow(const UploadSession& session, int64_t fileSize) {
  UploadRow row;
  row.sessionId = session.sessionId();
  const std::string request = session.request();
  const std::string user = session.userName();
  const std::string peer = session.peerAddress();
  row.name = request.empty() ? "None yet" : request;
  row.user = (user.empty() ? "unknown" : user) + " (" + (peer.empty() ? "waiting" : peer) + ")";
  row.percent = std::clamp<int32_t>(session.percentage, 0, 100);
  row.progress = std::to_string(row.percent) + "%";
  row.bytesPerSecond = std::max<int32_t>(0, session.speed);
  row.speed = std::to_string(row.bytesPerSecond / 1000) + " k/s";
  const int64_t sent = session.bytesSent;
  if (!session.active) {
    row.status = "Stopped";
  } else if (request.empty()) {
    row.status = "Waiting";
  } else if (fileSize >= 0 && sent >= fileSize) {
    row.status = "Finished";
  } else {
    row.status = "Sending";
  }
  if (session.active && fileSize >= 0 && row.bytesPerSecond > 0) {
    row.secondsLeft = std::max<int64_t>(0, fileSize - sent) / row.bytesPerSecond;
  }
  row.timeLeft = timeLeftText(row.secondsLeft);
  return row;
}

std::vector<UploadRow> uploadRows(const UploadsSource& source) {
  std::vector<UploadRow> rows;
  for (const auto& session : source.sessions()) {
    const int32_t fileId = session->fileId;
    rows.push_back(uploadRow(*session, fileId >= 0 ? source.fileSize(fileId) : -1));
  }
  return rows;
}

std::string rateText(uint32_t bytesPerSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f k/s", bytesPerSecond / 1000.0);
  return text;
}

std::string timeLeftText(int64_t seconds) {
  if (seconds < 0) return "unknown";
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace vantrel
