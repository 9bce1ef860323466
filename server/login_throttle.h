// SPDX-License-Identifier: MIT
#pragma once
// LoginThrottle: slows down password guessing. Failed logins are counted per
// user name and address; after kMaxFailures within kWindowSeconds, further
// attempts from that address for that user are refused without looking at
// the password until the window has passed. Other addresses are not affected,
// so a guesser cannot lock the real user out.
//
// Thread-safe; bounded: at most kMaxEntries (user, address) pairs are kept.

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vantrel::server {

class LoginThrottle {
 public:
  static constexpr int kMaxFailures = 10;
  static constexpr int64_t kWindowSeconds = 15 * 60;
  static constexpr size_t kMaxEntries = 100000;

  bool allowed(const std::string& user, const std::string& address, int64_t now);
  void failed(const std::string& user, const std::string& address, int64_t now);
  void succeeded(const std::string& user, const std::string& address);

 private:
  struct Entry {
    int failures = 0;
    int64_t firstFailure = 0;
  };
  static std::string keyOf(const std::string& user, const std::string& address);

  std::mutex m_mutex;
  std::unordered_map<std::string, Entry> m_entries;  // guarded by m_mutex
};

}  // namespace vantrel::server
