// SPDX-License-Identifier: MIT
#pragma once
// DownloadReporter: the lines vantreld prints about its downloads — progress
// now and then, "done PATH" when a file is complete, "failed NAME: REASON"
// when one ended without it, the reason alone while one waits to be tried
// again — and whether every download has ended. Fed snapshots of the
// download list; one thread.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "transfers/download_record.h"

namespace vantrel {

class DownloadReporter {
 public:
  // A progress line at most this often per download, unless it moved 10%.
  static constexpr int64_t kProgressEveryMs = 5000;

  // The downloads there before this run added any (taken up from the saved
  // list): the ones among them that have ended are not this run's news.
  void noteExisting(const std::vector<DownloadInfo>& all);
  // The lines for what changed since the last call.
  std::vector<std::string> update(const std::vector<DownloadInfo>& all, int64_t nowMs);

  // Ended: complete, stopped, or failed with no further try planned.
  static bool ended(const DownloadInfo& info);
  // Over the downloads of this run: the ones noteExisting found ended do not count.
  bool allEnded(const std::vector<DownloadInfo>& all) const;
  bool allCompleted(const std::vector<DownloadInfo>& all) const;

 private:
  struct Seen {
    DownloadState state = DownloadState::Queued;
    std::string status;
    int32_t percent = -1;
    int64_t lastLineMs = 0;
    bool endedBefore = false;
  };
  bool counts(const DownloadInfo& info) const;
  std::map<int32_t, Seen> m_seen;
};

}  // namespace vantrel
