// SPDX-License-Identifier: MIT
#pragma once
// DownloadRecord: one download of the download manager — what to fetch, where
// to, how far it got and, when it failed, why — and the texts the downloads
// view shows for it. Records live as long as their manager. The numbers are
// atomics written by the download's worker thread and read by the timer and
// the views; the texts are guarded by the record's own lock.

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

// Why a download failed, in the person's terms. Kept in step with
// downloadReasonText and with the numbers of the saved download list (they
// are stored): new reasons go at the end.
enum class DownloadReason : int32_t {
  None = 0,          // no failure, or one the state text tells (a peer's own message)
  MembersOnly = 1,   // the group lets only its members download
  SharerOffline = 2,
  SharerBusy = 3,    // the sharer's limits are full
  ConnectionLost = 4,
  LinkExpired = 5,   // the sharer no longer accepts the link (it logged in again)
  NoLongerShared = 6,
  DiskFull = 7,
  PermissionDenied = 8,  // the detail names the folder
  SizeMismatch = 9,      // the bytes that came are not the file's size
  Other = 10,            // the code tells the rest (tooltip, log)
};
inline constexpr int32_t kDownloadReasonCount = 11;

// Reasons that pass by themselves: the download is tried again after a wait.
bool reasonRetries(DownloadReason reason);
// "members only: join the group", "the sharer is offline; will retry", …;
// `detail` is the folder of PermissionDenied.
std::string downloadReasonText(DownloadReason reason, std::string_view detail);

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
  // Where the file came from in the catalogue (0 when the download was given a bare link).
  int32_t catalogueFileId = 0;
  int32_t ownerId = 0;
  DownloadReason reason = DownloadReason::None;
  std::string reasonDetail;
  int32_t peerCode = 0;       // the number of a peer's refusal
  int32_t retryInSeconds = -1;  // seconds until the next try by itself, -1 when none is planned
  int64_t retryWaitMs = 0;      // the wait that led to it (it doubles with every failure in a row)
};

// "queued", "Downloading", "Stopped", "Completed", "Error %d", the peer's text
// (or "Error") for a refusal, "Unknown" for anything else.
std::string downloadStateText(int32_t state, int32_t resultCode, std::string_view peerErrorText);
// The status of a download: its reason in words when it failed for a known
// reason ("the sharer is offline; retrying in 2:00" while a try is planned),
// else the state text.
std::string downloadStateText(const DownloadInfo& info);
// The codes behind a failure, for the tooltip and the log ("" when it did not fail).
std::string downloadCodeText(const DownloadInfo& info);
// The downloads view's "Progress" ("%d k / %d k") and "Speed" ("%d k/s") columns.
std::string downloadProgressText(const DownloadInfo& info);
std::string downloadSpeedText(const DownloadInfo& info);
// How much is there (0 to 100) and the seconds still to go at the present
// rate (-1 when it does not run or nothing tells).
int32_t downloadPercent(const DownloadInfo& info);
int64_t downloadSecondsLeft(const DownloadInfo& info);
// The value after "errormessage" (any case) in a peer's refusal line, "" without one.
std::string peerErrorMessage(std::string_view line);
// The number after "error=" in a peer's refusal line, 0 without one.
int32_t peerErrorCode(std::string_view line);
// "m:ss", or "h:mm:ss" from an hour on.
std::string durationText(int64_t seconds);

// Where a download stands as the catalogue listed it.
struct DownloadSource {
  int32_t fileId = 0;
  int32_t ownerId = 0;
  bool online = true;
};

class DownloadRecord {
 public:
  DownloadRecord(int32_t id, std::string url, std::string localPath, int64_t expectedSize, DownloadSource source = {});

  const int32_t id;
  const int32_t catalogueFileId;
  std::atomic<int32_t> ownerId{0};
  std::atomic<bool> sharerOnline{true};
  std::atomic<int32_t> state{static_cast<int32_t>(DownloadState::Queued)};
  std::atomic<int32_t> rate{0};
  std::atomic<int32_t> expectedSize{0};
  std::atomic<int32_t> received{0};
  std::atomic<int32_t> stopRequest{0};
  // Removed with "delete partial file": the worker deletes it when it ends.
  std::atomic<bool> deletePartial{false};
  std::atomic<int32_t> resultCode{0};
  std::atomic<int32_t> resumeOffset{0};
  std::atomic<int32_t> options{0};
  std::atomic<int32_t> reason{0};
  std::atomic<int32_t> peerCode{0};
  // The next try by itself (steady-clock milliseconds, 0 for none) and the
  // wait that led to it, which grows with every failure in a row.
  std::atomic<int64_t> retryAtMs{0};
  std::atomic<int64_t> retryWaitMs{0};
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
  DownloadReason currentReason() const { return static_cast<DownloadReason>(reason.load()); }
  void setReason(DownloadReason r, std::string detail = {});

  std::string url() const;
  std::string localPath() const;
  std::string fileName() const;
  std::string peerErrorText() const;
  std::string reasonDetail() const;
  void setUrl(std::string url);
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
  std::string m_reasonDetail;   // guarded by m_mutex
};

// Milliseconds of the steady clock, the time base of retryAtMs.
int64_t steadyNowMs();

}  // namespace vantrel
