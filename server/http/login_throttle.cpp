// SPDX-License-Identifier: MIT
#include "server/http/login_throttle.h"

#include <algorithm>
#include <cctype>

namespace vantrel::server {

std::string LoginThrottle::accountOf(const std::string& user) {
  std::string key;
  for (const char c : user) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

std::string LoginThrottle::keyOf(const std::string& user, const std::string& address) {
  return accountOf(user) + '\n' + address;
}

int64_t LoginThrottle::delayAfter(int failures) {
  if (failures < kAccountFreeFailures) return 0;
  const int doublings = std::min(failures - kAccountFreeFailures, 20);
  return std::min<int64_t>(int64_t{1} << doublings, kMaxDelaySeconds);
}

template <typename Map, typename Expired>
void LoginThrottle::bound(Map& map, const Expired& expired) {
  if (map.size() < kMaxEntries) return;
  // Drop what has expired; if that frees nothing, start afresh rather than grow.
  std::erase_if(map, [&](const auto& entry) { return expired(entry.second); });
  if (map.size() >= kMaxEntries) map.clear();
}

bool LoginThrottle::allowed(const std::string& user, const std::string& address, int64_t now) {
  std::scoped_lock lock(m_mutex);
  if (const auto it = m_entries.find(keyOf(user, address)); it != m_entries.end()) {
    if (now - it->second.firstFailure >= kWindowSeconds) {
      m_entries.erase(it);
    } else if (it->second.failures >= kMaxFailures) {
      return false;
    }
  }
  const auto account = m_accounts.find(accountOf(user));
  if (account == m_accounts.end()) return true;
  const Account& a = account->second;
  if (std::find(a.known.begin(), a.known.end(), address) != a.known.end()) return true;
  return now >= a.lastFailure + delayAfter(a.failures);
}

void LoginThrottle::failed(const std::string& user, const std::string& address, int64_t now) {
  std::scoped_lock lock(m_mutex);
  bound(m_entries, [&](const Entry& e) { return now - e.firstFailure >= kWindowSeconds; });
  Entry& e = m_entries[keyOf(user, address)];
  if (e.failures == 0 || now - e.firstFailure >= kWindowSeconds) {
    e.failures = 0;
    e.firstFailure = now;
  }
  ++e.failures;

  bound(m_accounts, [&](const Account& a) { return now - a.lastFailure >= kWindowSeconds; });
  Account& a = m_accounts[accountOf(user)];
  // The owner's own mistakes from a known address do not slow the account.
  if (std::find(a.known.begin(), a.known.end(), address) != a.known.end()) return;
  if (now - a.lastFailure >= kWindowSeconds) a.failures = 0;
  ++a.failures;
  a.lastFailure = now;
}

void LoginThrottle::succeeded(const std::string& user, const std::string& address) {
  std::scoped_lock lock(m_mutex);
  m_entries.erase(keyOf(user, address));
  if (m_accounts.size() >= kMaxEntries) m_accounts.clear();
  Account& a = m_accounts[accountOf(user)];
  std::erase(a.known, address);
  a.known.push_back(address);
  if (a.known.size() > kKnownAddresses) a.known.erase(a.known.begin());
}

}  // namespace vantrel::server
