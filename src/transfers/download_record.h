// SPDX-License-Identifier: MIT
#pragma once
// DownloadRecord: one download of the download manager — what to fetch, where
// to, and how far it got — and the texts the downloads view shows for it.
// Records live as long as their manager. The numbers are atomics written by the
// download's worker thread and read by the timer and the views; the texts are
// guarded by the record's own lock.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vantrel {

enum class DownloadState : int32_t { Queued = 0, Downloading = 1, Stopped = 2, Completed = 3, Error = 4, Refused = 5 };

namespace download_option {
inline constexpr int32_t kOverwrite = 1;
inline constexpr int32_t kResume = 2;
}  // namespace download_option

// A copy of a record's values, for views and tests. The 32-bit counts are the
// record's own, capped at INT32_MAX; fileSize and bytesPresent are the real
// 64-bit values that resuming and the views' texts use.
struct DownloadInfo {
  int32_t id = 0;
  DownloadState state = DownloadState::Queued;
  std::string url;
  std::string localPath;
  std::string fileName;
  std::string peerErrorText;
  int32_t rate = 0;
  int32_t expectedSize = 0;
  int32_t received = 0;
  int32_t resultCode = 0;
  int32_t resumeOffset = 0;
  int32_t options = 0;
  int64_t fileSize = 0;
  int64_t bytesPresent = 0;
  int64_t resumeAt = 0;
};

// "queued", "Downloading", "Stopped", "Completed", "Error %d", the peer's text
// (or "Error") for a refusal, "Unknown" for anything else.
std::string downloadStateText(int32_t state, int32_t resultCode, std::string_view peerErrorText);
std::string downloadStateText(const DownloadInfo& info);
// The downloads view's "Progress" ("%d k / %d k") and "Speed" ("%d k/s") columns.
std::string downloadProgressText(const DownloadInfo& info);
std::string downloadSpeedText(const DownloadInfo& info);
// The value after "errormessage" (any case) in a peer's refusal line, "" without one.
std::string peerErrorMessage(std::string_view line);

class DownloadRecord {
 public:
  DownloadRecord(int32_t id, std::string url, std::string localPath, int64_t expectedSize);

  const int32_t id;
  std::atomic<int32_t> state{static_cast<int32_t>(DownloadState::Queued)};
  std::atomic<int32_t> rate{0};
  std::atomic<int32_t> expectedSize{0};
  std::atomic<int32_t> received{0};
  std::atomic<int32_t> stopRequest{0};
  std::atomic<int32_t> resultCode{0};
  std::atomic<int32_t> resumeOffset{0};
  std::atomic<int32_t> options{0};
  // The 32-bit counts above cap at 2 GiB; a file past that is resumed and
  // checked with these. Written together with their 32-bit twins.
  std::atomic<int64_t> fileSize{0};
  std::atomic<int64_t> bytesPresent{0};
  std::atomic<int64_t> resumeAt{0};

  // Set a 64-bit count and its capped 32-bit twin.
  void setBytesPresent(int64_t n);
  void setResumeAt(int64_t n);

  DownloadState currentState() const { return static_cast<DownloadState>(state.load()); }
  void setState(DownloadState s) { state = static_cast<int32_t>(s); }

  std::string url() const;
  std::string localPath() const;
  std::string fileName() const;
  std::string peerErrorText() const;
  // Changes the target file; the file name follows the path.
  void setLocalPath(std::string path);
  void setPeerErrorText(std::string text);

  DownloadInfo info() const;

 private:
  mutable std::mutex m_mutex;
  std::string m_url;            // guarded by m_mutex
  std::string m_localPath;      // guarded by m_mutex
  std::string m_fileName;       // guarded by m_mutex
  std::string m_peerErrorText;  // guarded by m_mutex
};

}  // namespace vantrel
