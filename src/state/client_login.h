// SPDX-License-Identifier: MIT
#pragma once
// ClientLogin: who is logged in and what the central server told the client
// at login and in its pings. Part of ClientState; kept apart because it is
// plain data.
//
// Credentials live only here, in memory, for the re-logins of the session.
// Threads: any thread; texts are read as copies under the mutex, numbers are
// atomics.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vantrel {

class ClientLogin {
 public:
  static constexpr std::string_view kNotLoggedIn = "Not logged into server";

  std::string UserName() const { return read(m_userName); }
  void SetUserName(std::string value) { write(m_userName, std::move(value)); }
  std::string Password() const { return read(m_password); }
  void SetPassword(std::string value) { write(m_password, std::move(value)); }
  // Dotted address of this machine as the file server records it.
  std::string LocalAddress() const { return read(m_localAddress); }
  void SetLocalAddress(std::string value) { write(m_localAddress, std::move(value)); }
  // `address` is "127.0.0.1" or the local address (letter case aside); such
  // peers are this machine and are never limited. Copies nothing.
  bool IsLocalAddress(std::string_view address) const {
    if (equalsNoCase(address, "127.0.0.1")) return true;
    std::scoped_lock lock(m_mutex);
    return !m_localAddress.empty() && equalsNoCase(address, m_localAddress);
  }
  // This machine's address as the central server sees it; "" while unknown.
  std::string ExternalAddress() const { return read(m_externalAddress); }
  void SetExternalAddress(std::string value) { write(m_externalAddress, std::move(value)); }
  // Sent in the UDP ping.
  std::string SessionIdText() const { return read(m_sessionIdText); }
  void SetSessionIdText(std::string value) { write(m_sessionIdText, std::move(value)); }
  std::string StatusText() const { return read(m_statusText); }
  void SetStatusText(std::string value) { write(m_statusText, std::move(value)); }

  int32_t ClientId() const { return m_clientId; }
  void SetClientId(int32_t id) { m_clientId = id; }
  int32_t UserId() const { return m_userId; }
  void SetUserId(int32_t id) { m_userId = id; }
  bool Contest() const { return m_contest; }
  void SetContest(bool on) { m_contest = on; }
  int LatestVersion() const { return m_latestVersion; }
  void SetLatestVersion(int version) { m_latestVersion = version; }
  int32_t ServerChecksum() const { return m_serverChecksum; }
  void SetServerChecksum(int32_t checksum) { m_serverChecksum = checksum; }
  bool MessagesWaiting() const { return m_messagesWaiting; }
  void SetMessagesWaiting(bool waiting) { m_messagesWaiting = waiting; }

 protected:
  void resetLogin() {
    SetStatusText(std::string(kNotLoggedIn));
    m_userId = -1;
  }

 private:
  static bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
      if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
  }
  std::string read(const std::string& field) const {
    std::scoped_lock lock(m_mutex);
    return field;
  }
  void write(std::string& field, std::string value) {
    std::scoped_lock lock(m_mutex);
    field = std::move(value);
  }

  mutable std::mutex m_mutex;
  std::string m_userName;                                // guarded by m_mutex
  std::string m_password;                                // guarded by m_mutex
  std::string m_localAddress;                            // guarded by m_mutex
  std::string m_externalAddress;                         // guarded by m_mutex
  std::string m_sessionIdText;                           // guarded by m_mutex
  std::string m_statusText{kNotLoggedIn};                // guarded by m_mutex
  std::atomic<int32_t> m_clientId{0};
  std::atomic<int32_t> m_userId{-1};
  std::atomic<bool> m_contest{false};
  std::atomic<int> m_latestVersion{0};
  std::atomic<int32_t> m_serverChecksum{0};
  std::atomic<bool> m_messagesWaiting{false};
};

}  // namespace vantrel
