// SPDX-License-Identifier: MIT
#pragma once
// DownloadManager: the process's downloads from other users' file servers — the
// list in queue order, the limit of simultaneous downloads ("maxsimdl", read
// again every tick), one worker thread per running download, the one-second
// tick that starts queued downloads as slots free up and tries failed ones
// again when their wait is over, and the listeners that views register.
//
// A download is written to "<name>.part" and gets its real name only once
// every byte is there, so a file under its real name is always complete. A
// ".part" file found at the start of a download is taken up where it ends,
// without asking. Once a list file is opened (openList), the list is saved
// there crash-safely whenever it changes, and taken up again from it.
//
// Thread-safe. Listeners are called on the thread that queues (event 0), on
// the tick's thread (event 1) and on the thread that removes (event 2); they
// must not call back into registerListener or unregisterListener.
// The settings, prompts and timer service must outlive the manager; its
// destructor asks every running download to stop and joins its thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/timer_service.h"
#include "protocol/catalogue_listing.h"
#include "protocol/protocol_context.h"
#include "settings/settings_store.h"
#include "transfers/download_links.h"
#include "transfers/download_prompts.h"
#include "transfers/download_record.h"

namespace vantrel {

class CatalogueCache;

namespace download_event {
inline constexpr int kAdded = 0;
inline constexpr int kChanged = 1;
inline constexpr int kRemoved = 2;  // taken off the list; the ID is not used again
}  // namespace download_event

using DownloadListener = std::function<void(int32_t id, int event, const std::string& text)>;

class DownloadManager {
 public:
  static constexpr int32_t kDefaultLimit = 2;
  static constexpr const char* kPartSuffix = ".part";
  // The first wait before a download that failed for a passing reason is
  // tried again, and the longest; every failure in a row doubles the wait.
  static constexpr std::chrono::seconds kFirstRetryWait{30};
  static constexpr std::chrono::seconds kLongestRetryWait{600};
  // A fresh link for a catalogue file (see download_links.h).
  using LinkSource = std::function<FileLink(int32_t fileId)>;

  // `timers` (optional) drives the one-second tick; without it the owner calls tick().
  DownloadManager(SettingsStore& settings, DownloadPrompts& prompts, TimerService* timers = nullptr,
                  int clientVersion = 201);
  ~DownloadManager();
  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

  // Queues a download and starts it at once when a slot is free. Returns its ID.
  // `expectedSize` is the listing's size; it may pass 2 GiB.
  int32_t QueueDownload(const std::string& url, const std::string& localPath, int64_t expectedSize,
                        DownloadSource source = {});
  // A file entry of a listing into `directory` (which ends with "/").
  int32_t downloadFile(const FileEntry& file, const std::string& directory);
  // The children of a catalogue directory, fetched when never listed; with
  // `recursive`, subdirectories into folders of their names. 0 or the code.
  // `queued` (optional) counts the downloads queued.
  int DownloadDirectory(const DirectoryEntry& directory, const std::string& destination, bool recursive,
                        CatalogueCache& cache, ProtocolContext& ctx, int* queued = nullptr);

  // Asks a running (or queued) download to stop; a download that has ended is left as it is.
  void stop(int32_t id);
  // Starts the download now, whatever the limit, from what is on disk; false
  // when unknown or already running.
  bool start(int32_t id);
  // Takes the record off the list, asking a running download to stop first.
  // The file stays on disk; with `deletePartial` an unfinished download's
  // ".part" file goes too (a running one's once its worker has let go of it;
  // this call does not wait for that). False when unknown.
  bool remove(int32_t id, bool deletePartial = false);
  std::optional<DownloadInfo> find(int32_t id) const;
  std::vector<DownloadInfo> downloads() const;
  // Returns a handle for unregisterListener. A call already under way on
  // another thread may still arrive after unregisterListener returns.
  int registerListener(DownloadListener listener);
  void unregisterListener(int handle);
  // Writes "maxsimdl" and uses the value from now on.
  void setLimit(int32_t limit);
  int32_t limit() const { return m_limit; }
  // Counted from the records as they are now, so that the status bar and
  // the rows always agree (a finished download no longer counts).
  int32_t runningCount() const;
  int32_t totalRate() const;

  // The one-second tick: recount, tell the listeners, start queued downloads.
  void tick();

  // Reads the downloads saved in `path` (added to the list: stopped ones stay
  // stopped, the ones that ran or waited are queued again, the ones that
  // failed for a passing reason are tried at once) and saves the list there
  // from now on. Opening the path already open does nothing.
  void openList(const std::string& path);
  // Where a fresh link for a catalogue file comes from; without one a
  // download is tried again with the link it was given.
  void setLinkSource(LinkSource source);
  void setRetryWaits(std::chrono::milliseconds first, std::chrono::milliseconds longest);
  // The catalogue shows the user `ownerId` online: their downloads that wait
  // for them are tried at the next tick.
  void sharerSeenOnline(int32_t ownerId);
  // "<path>.part", where a download's bytes go until it is complete.
  static std::string partPath(const std::string& path) { return path + kPartSuffix; }

  // The body of a download's worker thread.
  void RunDownload(DownloadRecord& record);

 private:
  void firstUse();
  DownloadRecord* recordFor(int32_t id) const;
  // Starts RunDownload on a new thread; false when the record is already running.
  bool launch(DownloadRecord& record);
  std::vector<DownloadListener> listeners() const;
  // Ends a run that failed: state, reason, and the next try for a passing reason.
  void fail(DownloadRecord& record, DownloadState state, DownloadReason reason, std::string detail = {});
  // Writes the list to its file when it changed (in more than byte counts).
  void persist();
  void refreshLimit();

  SettingsStore& m_settings;
  DownloadPrompts& m_prompts;
  TimerService* const m_timers;
  const int m_clientVersion;

  std::atomic<int32_t> m_limit{kDefaultLimit};
  std::atomic<int32_t> m_running{0};
  std::atomic<int32_t> m_totalRate{0};

  std::once_flag m_started;
  TimerService::TimerId m_tickTimer{};
  std::atomic<bool> m_hasTimer{false};

  // One "File Already Exists" question at a time, across all downloads.
  std::mutex m_promptMutex;

  std::atomic<int64_t> m_firstRetryMs{std::chrono::milliseconds(kFirstRetryWait).count()};
  std::atomic<int64_t> m_longestRetryMs{std::chrono::milliseconds(kLongestRetryWait).count()};

  // Set by the destructor: the downloads it stops are saved as they ran.
  std::atomic<bool> m_closing{false};
  std::mutex m_saveMutex;  // one save at a time
  std::string m_listPath;   // guarded by m_saveMutex
  std::string m_savedKey;   // guarded by m_saveMutex; what the file holds, byte counts left out
  LinkSource m_linkSource;  // guarded by m_mutex

  mutable std::mutex m_mutex;
  int32_t m_nextId = 0;                                  // guarded by m_mutex
  std::vector<std::unique_ptr<DownloadRecord>> m_records;  // guarded by m_mutex
  std::vector<std::unique_ptr<DownloadRecord>> m_removed;  // guarded by m_mutex; their workers may still run
  int m_nextListener = 0;                                 // guarded by m_mutex
  std::vector<std::pair<int, DownloadListener>> m_listeners;  // guarded by m_mutex
  std::map<int32_t, std::jthread> m_workers;             // guarded by m_mutex; declared last
};

}  // namespace vantrel
