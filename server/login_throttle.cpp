// SPDX-License-Identifier: MIT
#include "server/login_throttle.h"

#include <cctype>

namespace vantrel::server {

std::string LoginThrottle::keyOf(const std::string& user, const std::string& address) {
  std::string key;
  for (const char c : user) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key + '\n' + address;
}

bool LoginThrottle::allowed(const std::string& user, const std::string& address, int64_t now) {
  std::scoped_lock lock(m_mutex);
  const auto it = m_entries.find(keyOf(user, address));
  if (it == m_entries.end()) return true;
  if (now - it->second.firstFailure >= kWindowSeconds) {
    m_entries.erase(it);
    return true;
  }
  return it->second.failures < kMaxFailures;
}

void LoginThrottle::failed(const std::string& user, const std::string& address, int64_t now) {
  std::scoped_lock lock(m_mutex);
  if (m_entries.size() >= kMaxEntries) {
    // Drop what has expired; if that frees nothing, start afresh rather than grow.
    for (auto it = m_entries.begin(); it != m_entries.end();) {
      it = now - it->second.firstFailure >= kWindowSeconds ? m_entries.erase(it) : std::next(it);
    }
    if (m_entries.size() >= kMaxEntries) m_entries.clear();
  }
  Entry& e = m_entries[keyOf(user, address)];
  if (e.failures == 0 || now - e.firstFailure >= kWindowSeconds) {
    e.failures = 0;
    e.firstFailure = now;
  }
  ++e.failures;
}

void LoginThrottle::succeeded(const std::string& user, const std::string& address) {
  std::scoped_lock lock(m_mutex);
  m_entries.erase(keyOf(user, address));
}

}  // namespace vantrel::server
