// SPDX-License-Identifier: MIT
#pragma once
// ClientState: the running state that every part of the client shares — the
// session with the central server and who is logged in, the upload limits, the
// file server's upload sessions, the byte totals and the measured bandwidth.
// It measures the bandwidth every 4 seconds (adapting the limits when the
// connection type is automatic) and asks for a check of the shared files every
// 50 minutes, both on the TimerService it is given.
//
// One object per process, owned by the application. The settings store, the
// timer service and the log (optional) must outlive it. Every method may be
// called from any thread: limits and counters are atomics, the byte totals and
// the session map each have a mutex. The tray and file-check callbacks run on
// the thread that caused them (usually the timer thread); they must not call
// Finalise.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "core/timer_service.h"
#include "settings/settings_store.h"
#include "state/client_login.h"
#include "state/upload_session.h"

namespace vantrel {

// What the tray icon should show.
struct TrayState {
  int icon = 0;
  std::string tooltip;  // empty: keep the tooltip shown now
  int flashIcon = 0;  // non-zero: alternate with this icon
};

// Bytes sent in all, as the counters keep them: each below 1025 after a carry.
struct SentTotals {
  uint32_t bytes = 0, kilobytes = 0, megabytes = 0, gigabytes = 0, terabytes = 0;
};

class ClientState : public ClientLogin {
 public:
  static constexpr int kOwnClientVersion = 201;
  static constexpr std::chrono::milliseconds kBandwidthPeriod{4000};
  static constexpr std::chrono::milliseconds kFileCheckPeriod{3'000'000};
  static constexpr int kIconConnected = 175, kIconDisconnected = 199, kIconNotice = 254, kIconNoticeFlash = 255;

  using Clock = std::function<int64_t()>;  // milliseconds, steady
  ClientState(SettingsStore& settings, TimerService& timers, Clock clock = steadyMillis);
  ~ClientState();  // Finalise, when Initialise ran
  ClientState(const ClientState&) = delete;
  ClientState& operator=(const ClientState&) = delete;

  // Loads limits and totals from the settings and starts the two timers.
  void Initialise();
  // Stops the timers, drops every session and writes the totals. Idempotent.
  void Finalise();

  // Optional; must outlive this object or be reset to nullptr first.
  void setLog(Log* log);
  void setTrayCallback(std::function<void(const TrayState&)> callback);
  // What the 50-minute tick runs: the verification of the shared files.
  void setFileCheckHook(std::function<void()> hook);

  // Counts n bytes sent to `peer`; returns the milliseconds to wait before
  // sending them (0 for local peers). Remote bytes are paced to maxband bytes
  // per second, one after another with no credit for idle time, and never more
  // than 4 x maxband in one bandwidth window.
  int64_t CountSent(uint32_t n, std::string_view peer);
  uint32_t CurrentRate() const { return m_currentRate; }
  uint32_t PeakRate() const { return m_peakRate; }
  SentTotals Totals() const;
  void SetTotals(const SentTotals& totals);
  std::string FormatTotalSent() const;

  void UploadStarted();
  void UploadEnded();
  int ActiveUploads() const { return m_activeUploads; }
  int PeakUploads() const { return m_peakUploads; }
  // One more file sent in all; written to the settings at once.
  void FileSent();
  int FilesSent() const { return m_filesSent; }

  // A new session with the next ID, filed in the map.
  std::shared_ptr<UploadSession> NewUploadSession();
  void MarkSessionInactive(int32_t sessionId);
  bool RemoveUploadSession(int32_t sessionId);
  std::size_t SessionCount() const;
  std::shared_ptr<UploadSession> LookupSession(int32_t sessionId) const;
  std::shared_ptr<UploadSession> FirstSession() const;  // lowest ID
  std::vector<std::shared_ptr<UploadSession>> Sessions() const;  // in ID order
  // Sessions from `peer` when they are more than maxperuser, else 0.
  int UploadsFromAddress(std::string_view peer) const;

  int MaxUsers() const { return m_maxUsers; }
  int MaxBand() const { return m_maxBand; }
  int MaxUserBand() const { return m_maxUserBand; }
  int MaxPerUser() const { return m_maxPerUser; }
  int MaxBandEver() const { return m_maxBandEver; }
  bool AutomaticBandwidth() const { return m_automatic; }
  // Running limits as the settings page applies them (not written here).
  void SetLimits(int maxUsers, int maxBand, int maxUserBand);
  void SetMaxPerUser(int count);  // also writes "maxperuser"
  // Reads "maxusers", "maxband" and whether "contype" is automatic again,
  // after a connection type was applied.
  void ReloadLimits();

  // The "load=" class of the ping: 0 to 5, from the connection type.
  int LoadClass();

  void SetConnected(bool connected);
  bool Connected() const { return m_connected; }

  // The one tray notice: shared files moved or deleted.
  void QueueTrayNotice();
  void ClearTrayNotice();
  bool TrayNoticePending() const { return m_notice; }

  // The timer bodies, public so tests and a manual refresh can run them.
  void BandwidthTick();
  void FileCheckTick();

 private:
  void refreshTray();
  void showTray(const TrayState& state);
  void logText(std::string_view text, int level);

  SettingsStore& m_settings;
  TimerService& m_timers;
  const Clock m_clock;

  std::atomic<Log*> m_log{nullptr};
  mutable std::mutex m_hooksMutex;
  std::function<void(const TrayState&)> m_tray;  // guarded by m_hooksMutex
  std::function<void()> m_fileCheck;             // guarded by m_hooksMutex

  std::atomic<int> m_maxUsers{15}, m_maxBand{2000}, m_maxUserBand{2000}, m_maxPerUser{5}, m_maxBandEver{0};
  std::atomic<bool> m_automatic{false}, m_connected{false}, m_notice{false};
  std::atomic<uint32_t> m_currentRate{0}, m_peakRate{0};
  std::atomic<int> m_activeUploads{0}, m_peakUploads{0}, m_lastSessionId{0};

  std::mutex m_filesMutex;  // keeps "tlfls" in step with the count
  std::atomic<int> m_filesSent{0};

  mutable std::mutex m_countersMutex;
  uint64_t m_totals[5] = {};       // guarded by m_countersMutex: bytes .. terabytes
  uint64_t m_windowBytes = 0;      // guarded by m_countersMutex
  // When the bytes counted for remote peers so far are due at maxband bytes per
  // second (ms on m_clock, fractional); guarded by m_countersMutex.
  double m_paceDue = 0;
  std::atomic<int64_t> m_windowStart{0};

  mutable std::mutex m_sessionsMutex;
  std::map<int32_t, std::shared_ptr<UploadSession>> m_sessions;  // guarded by m_sessionsMutex

  std::mutex m_lifeMutex;
  bool m_initialised = false;  // guarded by m_lifeMutex
  TimerService::TimerId m_bandwidthTimer = TimerService::kNoTimer;  // guarded by m_lifeMutex
  TimerService::TimerId m_fileCheckTimer = TimerService::kNoTimer;  // guarded by m_lifeMutex
};

}  // namespace vantrel
