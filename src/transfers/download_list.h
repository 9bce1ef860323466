// SPDX-License-Identifier: MIT
#pragma once
// The saved download list, "<home><user>downloads.dat": what the download
// manager needs to take its downloads up again after the program ends, a
// crash included. A text file: the line "vantrel downloads 1", then one line
// per download with eight fields separated by single spaces —
//   state reason fileId ownerId expectedSize bytesPresent url localPath
// numbers in decimal, the two texts with "%", control characters, spaces and
// bytes 0x7F and above written as "%XX". Lines that do not read are skipped,
// so that one bad line costs one download, not the list. Pure functions.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transfers/download_record.h"

namespace vantrel {

struct SavedDownload {
  DownloadState state = DownloadState::Queued;
  DownloadReason reason = DownloadReason::None;
  int32_t fileId = 0;
  int32_t ownerId = 0;
  int64_t expectedSize = 0;
  int64_t bytesPresent = 0;
  std::string url;
  std::string localPath;

  bool operator==(const SavedDownload&) const = default;
};

inline constexpr std::string_view kDownloadListHeader = "vantrel downloads 1";
// More than this many lines are not read: the list is the person's own, and
// a file that claims more was not written by us.
inline constexpr std::size_t kMaxSavedDownloads = 100000;
inline constexpr std::size_t kMaxSavedText = 8192;  // per URL or path, decoded

std::string encodeDownloadList(const std::vector<SavedDownload>& downloads);
// False when the text is not a download list (no header); the readable lines
// otherwise, in file order.
bool decodeDownloadList(std::string_view text, std::vector<SavedDownload>& out);

}  // namespace vantrel
