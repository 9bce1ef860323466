// SPDX-License-Identifier: MIT
#include "server/sessions/session_table.h"

#include "server/store/account_store.h"  // PingMark

namespace vantrel::server {

void SessionTable::setLoader(Loader loader) { m_loader = std::move(loader); }

void SessionTable::setPingReader(PingReader reader) { m_pingReader = std::move(reader); }

std::shared_ptr<ClientSession> SessionTable::find(int64_t clientId) const {
  const auto now = std::chrono::steady_clock::now();
  {
    std::scoped_lock lock(m_mutex);
    const auto it = m_sessions.find(clientId);
    if (it != m_sessions.end()) return it->second;
    if (!m_loader) return nullptr;
    const auto absent = m_absent.find(clientId);
    if (absent != m_absent.end() && absent->second > now) return nullptr;
  }
  auto loaded = m_loader(clientId);
  std::scoped_lock lock(m_mutex);
  if (loaded == nullptr) {
    // Listings ask about every file's owner: remember the absent ones a
    // moment, and keep the memory of them small.
    if (m_absent.size() > 100000) m_absent.clear();
    m_absent[clientId] = now + std::chrono::seconds(kAbsentSeconds);
    return nullptr;
  }
  // Another thread may have put one in meanwhile: the first stays.
  const auto [it, added] = m_sessions.emplace(clientId, std::move(loaded));
  m_absent.erase(clientId);
  return it->second;
}

std::shared_ptr<ClientSession> SessionTable::peek(int64_t clientId) const {
  std::scoped_lock lock(m_mutex);
  const auto it = m_sessions.find(clientId);
  return it != m_sessions.end() ? it->second : nullptr;
}

bool SessionTable::adopt(std::shared_ptr<ClientSession> session) {
  std::scoped_lock lock(m_mutex);
  auto& slot = m_sessions[session->clientId];
  if (slot != nullptr && (slot->salt == session->salt || slot->loginTime > session->loginTime)) return false;
  m_absent.erase(session->clientId);
  slot = std::move(session);
  return true;
}

void SessionTable::forget(int64_t clientId) {
  std::scoped_lock lock(m_mutex);
  m_sessions.erase(clientId);
  m_absent.erase(clientId);
}

void SessionTable::notePing(ClientSession& session, int64_t now, int udpPort) {
  session.lastPing = now;
  if (udpPort > 0) session.udpPort = udpPort;
  std::scoped_lock lock(m_mutex);
  auto& mark = m_pings[session.clientId];
  mark.first = now;
  if (udpPort > 0) mark.second = udpPort;
}

std::vector<PingMark> SessionTable::takePings() {
  std::unordered_map<int64_t, std::pair<int64_t, int>> pings;
  {
    std::scoped_lock lock(m_mutex);
    pings.swap(m_pings);
  }
  std::vector<PingMark> out;
  out.reserve(pings.size());
  for (const auto& [id, mark] : pings) out.push_back({id, mark.first, mark.second});
  return out;
}

std::shared_ptr<ClientSession> SessionTable::replace(std::shared_ptr<ClientSession> session) {
  std::scoped_lock lock(m_mutex);
  m_absent.erase(session->clientId);
  auto& slot = m_sessions[session->clientId];
  std::swap(slot, session);
  return session;
}

bool SessionTable::remove(const std::shared_ptr<ClientSession>& session) {
  std::scoped_lock lock(m_mutex);
  const auto it = m_sessions.find(session->clientId);
  if (it == m_sessions.end() || it->second != session) return false;
  m_sessions.erase(it);
  return true;
}

std::vector<std::shared_ptr<ClientSession>> SessionTable::all() const {
  std::scoped_lock lock(m_mutex);
  std::vector<std::shared_ptr<ClientSession>> out;
  out.reserve(m_sessions.size());
  for (const auto& [id, s] : m_sessions) out.push_back(s);
  return out;
}

bool SessionTable::online(int64_t clientId, int64_t now) const {
  // Listings ask this about every file's owner: the stored session's ping is
  // read when needed, and its key is never set up for it.
  std::shared_ptr<ClientSession> held;
  {
    std::scoped_lock lock(m_mutex);
    const auto it = m_sessions.find(clientId);
    if (it != m_sessions.end()) {
      held = it->second;
    } else {
      const auto absent = m_absent.find(clientId);
      if (absent != m_absent.end() && absent->second > std::chrono::steady_clock::now()) return false;
    }
  }
  if (held != nullptr && now - held->lastPing.load() <= kOnlineSeconds) return true;
  // Its pings may go to another server process: the stored session knows.
  if (!m_pingReader) return false;
  const auto stored = m_pingReader(clientId);
  if (!stored) {
    if (held == nullptr) {
      std::scoped_lock lock(m_mutex);
      if (m_absent.size() > 100000) m_absent.clear();
      m_absent[clientId] = std::chrono::steady_clock::now() + std::chrono::seconds(kAbsentSeconds);
    }
    return false;
  }
  // The stored session is the client's current login. Its pings count for
  // the one held here only when it is the same login.
  if (held != nullptr && stored->salt == held->salt) {
    int64_t seen = held->lastPing.load();
    while (seen < stored->lastPing && !held->lastPing.compare_exchange_weak(seen, stored->lastPing)) {
    }
  }
  return now - stored->lastPing <= kOnlineSeconds;
}

size_t SessionTable::size() const {
  std::scoped_lock lock(m_mutex);
  return m_sessions.size();
}

}  // namespace vantrel::server
