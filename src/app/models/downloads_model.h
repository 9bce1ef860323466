// SPDX-License-Identifier: MIT
#pragma once
// The logic behind the "Incoming" view: the texts of a download's row (a
// queued one says why it waits), the labels of the start/stop commands, which
// change of state is worth a desktop notification, and DownloadsSource, what
// the view reads and commands — ClientDownloads over the download manager.
// The manager must outlive ClientDownloads; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transfers/download_manager.h"
#include "transfers/download_record.h"

namespace vantrel {

struct DownloadRow {
  // The first four as the list has always had them; the rest tell rows of
  // the same name apart and say how far and how long.
  static constexpr const char* kColumns[7] = {"Name", "Progress", "Speed", "Status", "Done", "Time Left", "Saved to"};
  static constexpr int kStatusColumn = 3;
  int32_t id = 0;
  std::string name, progress, speed, status, done, timeLeft, savedTo;
  std::string statusTip;  // the codes behind a failure ("" when none)
  int64_t bytesPresent = 0;
  int32_t rate = 0;
  int32_t percent = 0;
  int64_t secondsLeft = -1;
};

// The row of a download while `running` of `limit` downloads run.
DownloadRow downloadRow(const DownloadInfo& info, int32_t running, int32_t limit);
// The folder a download goes to, as "Saved to" shows it.
std::string savedToText(const DownloadInfo& info);

// The top button and the first entry of "Downloads" for a download in `state`:
// "Stop transfer" while it runs, otherwise a start ("Start Transfer" as the
// menu's own text for a completed one, "Start transfer" for the rest).
std::string toggleText(DownloadState state);
std::string menuToggleText(DownloadState state);

// A change of state that the person hears about: the title and text of the
// notice, or nothing.
struct DownloadNotice {
  std::string title, text;
  bool failed = false;
};
std::optional<DownloadNotice> noticeFor(DownloadState before, const DownloadInfo& now);

class DownloadsSource {
 public:
  virtual ~DownloadsSource() = default;
  virtual std::vector<DownloadInfo> downloads() const = 0;
  virtual std::optional<DownloadInfo> find(int32_t id) const = 0;
  virtual bool start(int32_t id) = 0;
  virtual void stop(int32_t id) = 0;
  // The record goes; with `deletePartial` an unfinished download's partial file too.
  virtual bool remove(int32_t id, bool deletePartial = false) = 0;
  virtual int32_t runningCount() const = 0;
  virtual int32_t limit() const = 0;
  // Bytes per second of every running download together.
  virtual int32_t totalRate() const = 0;
  // The manager's events (added, changed, removed), on any thread.
  virtual int listen(DownloadListener listener) = 0;
  virtual void unlisten(int handle) = 0;
};

class ClientDownloads : public DownloadsSource {
 public:
  explicit ClientDownloads(DownloadManager& manager) : m_manager(manager) {}
  std::vector<DownloadInfo> downloads() const override { return m_manager.downloads(); }
  std::optional<DownloadInfo> find(int32_t id) const override { return m_manager.find(id); }
  bool start(int32_t id) override { return m_manager.start(id); }
  void stop(int32_t id) override { m_manager.stop(id); }
  bool remove(int32_t id, bool deletePartial = false) override { return m_manager.remove(id, deletePartial); }
  int32_t runningCount() const override { return m_manager.runningCount(); }
  int32_t limit() const override { return m_manager.limit(); }
  int32_t totalRate() const override { return m_manager.totalRate(); }
  int listen(DownloadListener listener) override { return m_manager.registerListener(std::move(listener)); }
  void unlisten(int handle) override { m_manager.unregisterListener(handle); }

 private:
  DownloadManager& m_manager;
};

}  // namespace vantrel
