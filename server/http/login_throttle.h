// SPDX-License-Identifier: MIT
#pragma once
// LoginThrottle: slows down password guessing, for the web site and the
// client protocol together. Failed logins are counted per user name and
// address: after kMaxFailures within kWindowSeconds, further attempts from
// that address for that user are refused without looking at the password
// until the window has passed. They are also counted per account, whatever the
// address: past kAccountFreeFailures, each next attempt must wait a delay that
// doubles with every failure (up to kMaxDelaySeconds), so many addresses
// together guess no faster than one. An address the account signed in from
// before is spared the account's delay, so a guesser cannot lock the owner out.
//
// Thread-safe; bounded: at most kMaxEntries pairs and as many accounts are kept.

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantrel::server {

class LoginThrottle {
 public:
  static constexpr int kMaxFailures = 10;
  static constexpr int64_t kWindowSeconds = 15 * 60;
  static constexpr size_t kMaxEntries = 100000;
  static constexpr int kAccountFreeFailures = 5;
  static constexpr int64_t kMaxDelaySeconds = 5 * 60;
  static constexpr size_t kKnownAddresses = 8;  // per account

  bool allowed(const std::string& user, const std::string& address, int64_t now);
  void failed(const std::string& user, const std::string& address, int64_t now);
  void succeeded(const std::string& user, const std::string& address);

 private:
  struct Entry {
    int failures = 0;
    int64_t firstFailure = 0;
  };
  struct Account {
    int failures = 0;
    int64_t lastFailure = 0;
    std::vector<std::string> known;  // addresses it signed in from, newest last
  };
  static std::string keyOf(const std::string& user, const std::string& address);
  static std::string accountOf(const std::string& user);
  static int64_t delayAfter(int failures);
  template <typename Map, typename Expired>
  static void bound(Map& map, const Expired& expired);

  std::mutex m_mutex;
  std::unordered_map<std::string, Entry> m_entries;     // guarded by m_mutex
  std::unordered_map<std::string, Account> m_accounts;  // guarded by m_mutex
};

}  // namespace vantrel::server
