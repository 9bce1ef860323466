// SPDX-License-Identifier: MIT
#include "state/client_state.h"

#include <algorithm>
#include <cstdio>

namespace vantrel {

namespace {

// Settings names of the totals, smallest unit first. The terabytes have a name
// of their own: sharing "tbts" with the bytes would overwrite one with the other.
constexpr const char* kTotalNames[5] = {"tbts", "tbkts", "tbmts", "tbgts", "tbtts"};
constexpr const char* kUnitNames[5] = {"", "Kbytes", "Megs", "Gigs", "Ter"};
constexpr uint64_t kCarryAt = 1024;

int32_t storedCount(int32_t value) { return value < 0 ? 0 : value; }

void raiseTo(std::atomic<int>& peak, int value) {
  int seen = peak.load();
  while (value > seen && !peak.compare_exchange_weak(seen, value)) {
  }
}

void raiseTo(std::atomic<uint32_t>& peak, uint32_t value) {
  uint32_t seen = peak.load();
  while (value > seen && !peak.compare_exchange_weak(seen, value)) {
  }
}

}  // namespace

ClientState::ClientState(SettingsStore& settings, TimerService& timers, Clock clock)
    : m_settings(settings), m_timers(timers), m_clock(std::move(clock)) {
  m_windowStart = m_clock();
}

ClientState::~ClientState() { Finalise(); }

void ClientState::Initialise() {
  m_settings.EnsureDefaults();
  m_automatic = m_settings.GetSettingNumber("contype") == 0;
  if (m_automatic) {
    const int32_t ever = m_settings.GetSettingNumber("maxbandever");
    if (ever < 0) {  // never measured (or nonsense stored)
      m_maxBandEver = 0;
      m_maxUsers = 2;
      m_maxBand = 3000;
      m_maxUserBand = 3000;
    } else {
      m_maxBandEver = ever;
      m_maxUsers = std::max(1, ever / 5000);
      m_maxBand = ever;
      m_maxUserBand = ever;
    }
  } else {
    const int32_t users = m_settings.GetSettingNumber("maxusers");
    const int32_t band = m_settings.GetSettingNumber("maxband");
    const int32_t userBand = m_settings.GetSettingNumber("maxusrband");
    m_maxUsers = users == -1 ? 15 : users;
    m_maxBand = band == -1 ? 2000 : band;
    m_maxUserBand = userBand == -1 ? 2000 : userBand;
    if (m_maxBand < m_maxUserBand) {
      m_maxUserBand = m_maxBand.load();
      m_settings.SetSettingNumber("maxusrband", m_maxUserBand);
    }
    m_maxBandEver = storedCount(m_settings.GetSettingNumber("maxbandever"));
  }
  const int32_t perUser = m_settings.GetSettingNumber("maxperuser");
  m_maxPerUser = perUser < 1 ? 5 : perUser;
  m_filesSent = storedCount(m_settings.GetSettingNumber("tlfls"));
  {
    std::scoped_lock lock(m_countersMutex);
    for (int i = 0; i < 5; ++i) {
      const int32_t stored = m_settings.GetSettingNumber(kTotalNames[i]);
      m_totals[i] = stored == -1 ? 0 : static_cast<uint32_t>(stored);
    }
    m_windowBytes = 0;
  }
  resetLogin();
  m_windowStart = m_clock();
  m_connected = false;

  std::scoped_lock lock(m_lifeMutex);
  if (m_initialised) return;  // a second Initialise reloads, it does not add timers
  m_initialised = true;
  m_fileCheckTimer = m_timers.schedule(kFileCheckPeriod, [this] { FileCheckTick(); });
  m_bandwidthTimer = m_timers.schedule(kBandwidthPeriod, [this] { BandwidthTick(); });
}

void ClientState::Finalise() {
  {
    std::scoped_lock lock(m_lifeMutex);
    if (!m_initialised) return;
    m_initialised = false;
    // cancel() waits for a tick that runs right now, so nothing below races it.
    m_timers.cancel(m_bandwidthTimer);
    m_timers.cancel(m_fileCheckTimer);
    m_bandwidthTimer = m_fileCheckTimer = TimerService::kNoTimer;
  }
  {
    std::scoped_lock lock(m_sessionsMutex);
    m_sessions.clear();
  }
  const SentTotals totals = Totals();
  const uint32_t values[5] = {totals.bytes, totals.kilobytes, totals.megabytes, totals.gigabytes, totals.terabytes};
  for (int i = 0; i < 5; ++i) m_settings.SetSettingNumber(kTotalNames[i], static_cast<int32_t>(values[i]));
  std::scoped_lock lock(m_filesMutex);
  m_settings.SetSettingNumber("tlfls", m_filesSent);
}

void ClientState::setLog(Log* log) { m_log = log; }

void ClientState::setTrayCallback(std::function<void(const TrayState&)> callback) {
  std::scoped_lock lock(m_hooksMutex);
  m_tray = std::move(callback);
}

void ClientState::setFileCheckHook(std::function<void()> hook) {
  std::scoped_lock lock(m_hooksMutex);
  m_fileCheck = std::move(hook);
}

void ClientState::logText(std::string_view text, int level) {
  if (Log* log = m_log.load()) log->logText(text, level);
}

// ---------------------------------------------------------------------------
// Counting and pacing

int64_t ClientState::CountSent(uint32_t n, std::string_view peer) {
  const bool local = IsLocalAddress(peer);
  const int64_t maxBand = m_maxBand.load();
  const int64_t now = m_clock();
  uint64_t window = 0;
  double due = 0;
  {
    std::scoped_lock lock(m_countersMutex);
    m_windowBytes += n;
    window = m_windowBytes;
    m_totals[0] += n;
    // Carry upwards only past 1024: a counter of exactly 1024 stays as it is.
    for (int i = 0; i < 4; ++i) {
      if (m_totals[i] > kCarryAt) {
        m_totals[i + 1] += m_totals[i] / kCarryAt;
        m_totals[i] %= kCarryAt;
      }
    }
    // Waiting only for the window's end would let a whole window's allowance
    // out at once whenever sending starts: a download that starts late in a
    // window ran up to a quarter above the limit. These bytes are due once
    // those before them have had their share of the second.
    if (!local && maxBand > 0) {
      m_paceDue = std::max(m_paceDue, static_cast<double>(now)) + static_cast<double>(n) * 1000.0 / maxBand;
      due = m_paceDue;
    }
  }
  if (local) return 0;
  // Rounded down: the schedule itself keeps the fractions, so the waits of a
  // long transfer add up to its share exactly.
  int64_t wait = static_cast<int64_t>(due) - now;
  if (static_cast<int64_t>(window) > 4 * maxBand) {
    wait = std::max(wait, m_windowStart.load() + kBandwidthPeriod.count() - now);
  }
  return wait > 0 ? wait : 0;
}

SentTotals ClientState::Totals() const {
  std::scoped_lock lock(m_countersMutex);
  auto at = [&](int i) { return static_cast<uint32_t>(m_totals[i]); };
  return SentTotals{at(0), at(1), at(2), at(3), at(4)};
}

void ClientState::SetTotals(const SentTotals& totals) {
  std::scoped_lock lock(m_countersMutex);
  const uint32_t values[5] = {totals.bytes, totals.kilobytes, totals.megabytes, totals.gigabytes, totals.terabytes};
  for (int i = 0; i < 5; ++i) m_totals[i] = values[i];
}

std::string ClientState::FormatTotalSent() const {
  const SentTotals t = Totals();
  const uint32_t units[5] = {t.bytes, t.kilobytes, t.megabytes, t.gigabytes, t.terabytes};
  char text[64];
  for (int unit = 4; unit >= 1; --unit) {
    if (units[unit] == 0) continue;
    // The smaller unit as tenths. Rounding can reach ten tenths (973 or more of
    // 1024); that is the next whole unit, not ".10".
    uint64_t whole = units[unit];
    char tenths[32];
    std::snprintf(tenths, sizeof tenths, "%.0f", units[unit - 1] * 10.0 / 1024.0);
    if (std::string_view(tenths) == "10") {
      ++whole;
      tenths[0] = '0';
      tenths[1] = '\0';
    }
    std::snprintf(text, sizeof text, "%llu.%s %s", static_cast<unsigned long long>(whole), tenths, kUnitNames[unit]);
    return text;
  }
  std::snprintf(text, sizeof text, "%u bytes", t.bytes);
  return text;
}

void ClientState::UploadStarted() { raiseTo(m_peakUploads, ++m_activeUploads); }

void ClientState::UploadEnded() {
  int active = m_activeUploads.load();
  // Never below zero, even for an unmatched end.
  while (active > 0 && !m_activeUploads.compare_exchange_weak(active, active - 1)) {
  }
}

void ClientState::FileSent() {
  // Increment and write as one step, so the stored total is never an older count.
  std::scoped_lock lock(m_filesMutex);
  m_settings.SetSettingNumber("tlfls", ++m_filesSent);
}

// ---------------------------------------------------------------------------
// Sessions

std::shared_ptr<UploadSession> ClientState::NewUploadSession() {
  auto session = std::make_shared<UploadSession>(++m_lastSessionId);
  std::scoped_lock lock(m_sessionsMutex);
  m_sessions.emplace(session->sessionId(), session);
  return session;
}

void ClientState::MarkSessionInactive(int32_t sessionId) {
  std::scoped_lock lock(m_sessionsMutex);
  if (auto it = m_sessions.find(sessionId); it != m_sessions.end()) it->second->active = false;
}

bool ClientState::RemoveUploadSession(int32_t sessionId) {
  std::scoped_lock lock(m_sessionsMutex);
  return m_sessions.erase(sessionId) > 0;
}

std::size_t ClientState::SessionCount() const {
  std::scoped_lock lock(m_sessionsMutex);
  return m_sessions.size();
}

std::shared_ptr<UploadSession> ClientState::LookupSession(int32_t sessionId) const {
  std::scoped_lock lock(m_sessionsMutex);
  auto it = m_sessions.find(sessionId);
  return it == m_sessions.end() ? nullptr : it->second;
}

std::shared_ptr<UploadSession> ClientState::FirstSession() const {
  std::scoped_lock lock(m_sessionsMutex);
  return m_sessions.empty() ? nullptr : m_sessions.begin()->second;
}

std::vector<std::shared_ptr<UploadSession>> ClientState::Sessions() const {
  std::scoped_lock lock(m_sessionsMutex);
  std::vector<std::shared_ptr<UploadSession>> out;
  out.reserve(m_sessions.size());
  for (const auto& [id, session] : m_sessions) out.push_back(session);
  return out;
}

int ClientState::UploadsFromAddress(std::string_view peer) const {
  if (IsLocalAddress(peer)) return 0;
  int count = 0;
  {
    std::scoped_lock lock(m_sessionsMutex);
    for (const auto& [id, session] : m_sessions) {
      if (session->peerAddress() == peer) ++count;
    }
  }
  return count > m_maxPerUser ? count : 0;
}

// ---------------------------------------------------------------------------
// Limits

void ClientState::SetLimits(int maxUsers, int maxBand, int maxUserBand) {
  m_maxUsers = maxUsers;
  m_maxBand = maxBand;
  m_maxUserBand = maxUserBand;
}

void ClientState::SetMaxPerUser(int count) {
  m_maxPerUser = count < 1 ? 5 : count;
  m_settings.SetSettingNumber("maxperuser", count);
}

void ClientState::ReloadLimits() {
  const int32_t users = m_settings.GetSettingNumber("maxusers");
  const int32_t band = m_settings.GetSettingNumber("maxband");
  if (users != -1) m_maxUsers = users;
  if (band != -1) m_maxBand = band;
  // A type chosen by the user ends automatic limits; otherwise the next better
  // measurement would overwrite the limits the user has just applied.
  m_automatic = m_settings.GetSettingNumber("contype") == 0;
}

int ClientState::LoadClass() {
  const int32_t type = m_settings.GetSettingNumber("contype");
  if (type >= 1 && type <= 5) return 1;
  if (type >= 6 && type <= 8) return 3;
  if (type == 9) return 4;
  if (type >= 10 && type <= 12) return 5;
  // Automatic (0), user set (13), none stored, and types this client does not
  // know: the class follows the best bandwidth measured, 20,000 bytes a second each.
  const int32_t ever = m_settings.GetSettingNumber("maxbandever");
  if (ever <= 0) return 0;
  return std::min(5, static_cast<int>(ever / 20000));
}

// ---------------------------------------------------------------------------
// Connection and tray

void ClientState::SetConnected(bool connected) {
  if (m_connected.exchange(connected) != connected) {
    logText(connected ? "Connected to server" : "Disconnected from server", 1);
  }
  refreshTray();
}

void ClientState::QueueTrayNotice() {
  m_notice = true;
  refreshTray();
}

void ClientState::ClearTrayNotice() {
  m_notice = false;
  refreshTray();
}

void ClientState::showTray(const TrayState& state) {
  std::function<void(const TrayState&)> tray;
  {
    std::scoped_lock lock(m_hooksMutex);
    tray = m_tray;
  }
  if (tray) tray(state);
}

void ClientState::refreshTray() {
  if (m_notice) {
    showTray({kIconNotice, "Some shared files have been moved or deleted, click here", kIconNoticeFlash});
  } else if (!m_connected) {
    showTray({kIconDisconnected, "", 0});
  } else if (m_activeUploads == 0) {
    showTray({kIconConnected, "Vantrel - 0 connected users, 0 k/s bandwidth used", 0});
  }
  // Connected with uploads running: the next bandwidth tick shows their numbers.
}

void ClientState::BandwidthTick() {
  logText("Update: Updating bandwidth measurements", 3);
  uint64_t window = 0;
  {
    std::scoped_lock lock(m_countersMutex);
    window = m_windowBytes;
    m_windowBytes = 0;
    m_windowStart = m_clock();
  }
  const uint32_t rate = static_cast<uint32_t>(std::min<uint64_t>(window / 4, INT32_MAX));
  m_currentRate = rate;
  raiseTo(m_peakRate, rate);

  if (static_cast<int64_t>(m_maxBandEver.load()) < static_cast<int64_t>(rate)) {
    m_settings.EnsureDefaults();
    m_maxBandEver = static_cast<int>(rate);
    m_settings.SetSettingNumber("maxbandever", static_cast<int32_t>(rate));
    if (m_automatic) {
      const int doubled = static_cast<int>(std::min<uint64_t>(2ull * rate, INT32_MAX));
      m_maxBand = doubled;
      m_maxUserBand = doubled;
      m_maxUsers = std::max(1, static_cast<int>(rate / 5000));
      m_settings.SetSettingNumber("maxusrband", m_maxUserBand);
      m_settings.SetSettingNumber("maxband", m_maxBand);
      m_settings.SetSettingNumber("maxusers", m_maxUsers);
    }
  }

  if (m_connected) {
    if (m_activeUploads == 0) {
      refreshTray();
    } else if (!m_notice) {
      char tooltip[128];
      std::snprintf(tooltip, sizeof tooltip, "Vantrel - %d connected users, %u k/s bandwidth used",
                    m_activeUploads.load(), rate / 1000);
      showTray({kIconConnected, tooltip, 0});
    }
  }
}

void ClientState::FileCheckTick() {
  logText("Update: Verifying that all files exist", 3);
  std::function<void()> hook;
  {
    std::scoped_lock lock(m_hooksMutex);
    hook = m_fileCheck;
  }
  if (hook) hook();
}

}  // namespace vantrel
