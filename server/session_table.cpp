// SPDX-License-Identifier: MIT
#include "server/session_table.h"

namespace vantrel::server {

std::shared_ptr<ClientSession> SessionTable::find(int64_t clientId) const {
  std::scoped_lock lock(m_mutex);
  const auto it = m_sessions.find(clientId);
  return it == m_sessions.end() ? nullptr : it->second;
}

std::shared_ptr<ClientSession> SessionTable::replace(std::shared_ptr<ClientSession> session) {
  std::scoped_lock lock(m_mutex);
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
  const auto s = find(clientId);
  return s != nullptr && now - s->lastPing.load() <= kOnlineSeconds;
}

std::vector<int64_t> SessionTable::onlineClients(int64_t now) const {
  std::scoped_lock lock(m_mutex);
  std::vector<int64_t> out;
  for (const auto& [id, s] : m_sessions) {
    if (now - s->lastPing.load() <= kOnlineSeconds) out.push_back(id);
  }
  return out;
}

size_t SessionTable::size() const {
  std::scoped_lock lock(m_mutex);
  return m_sessions.size();
}

}  // namespace vantrel::server
