// SPDX-License-Identifier: MIT
#pragma once
// SettingsStore: typed reads and writes of the client's named settings in the
// registry tree Software\<root>\VtClient, per-user values under "users", the
// stored-password scrambler, the connection-type table and the autostart entry.
//
// Every call goes to the hive, so a value written anywhere (another thread,
// another process) is seen by the next read; the hive answers a read from
// memory while its file has not changed. Missing values
// read as -1 (numbers) or "" (texts); writes into a missing key are dropped.
// One store object per process; it keeps only the root name (and the key paths
// made from it), the flag that the defaults were written, the current login
// name and the reload hook.
// Thread-safe. The hive must outlive the store.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/autostart_entry.h"
#include "platform/registry_hive.h"

namespace vantrel {

class SettingsStore {
 public:
  static constexpr std::string_view kDefaultRootName = "Vantrel";
  // Texts are read into a 200-byte buffer with its terminating zero: at most
  // the first 199 bytes of a longer text come back.
  static constexpr size_t kTextBufferBytes = 200;
  static constexpr int kConnectionTypeCount = 14;
  static constexpr uint32_t kScrambleKey = 0x3B7C1D94;

  // Results of SetAutorun.
  static constexpr int kAutorunOk = 0;
  static constexpr int kAutorunNotSet = 1;
  static constexpr int kAutorunNotDeleted = 2;

  explicit SettingsStore(RegistryHive& hive, std::string rootName = std::string(kDefaultRootName));
  SettingsStore(RegistryHive& hive, std::string rootName, AutostartEntry autostart);
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  const std::string& rootName() const { return m_rootName; }
  // "Software\<root>\VtClient" and its two keys.
  std::string clientKey() const;
  std::string settingsKey() const;
  std::string usersKey() const;
  std::string userKey(std::string_view user) const;

  // Creates the tree and writes the fourteen defaults that are missing, in
  // their fixed order, never over a stored value of any type. Does the work
  // once per store object; a failed attempt (hive unusable) is tried again on
  // the next call.
  void EnsureDefaults();

  int32_t GetSettingNumber(std::string_view name);  // -1 when missing or not a DWORD
  std::string GetSettingText(std::string_view name);  // "" when missing or not text
  void SetSettingNumber(std::string_view name, int32_t value);
  void SetSettingText(std::string_view name, std::string_view value);

  // The name of the user logged in now; SetUserText and SetUserSecret without
  // a user name write for this user.
  void setCurrentUser(std::string user);
  std::string currentUser() const;

  std::string GetUserText(std::string_view user, std::string_view name);
  // Writes only when `user` is not empty and its key exists.
  void SetUserText(std::string_view user, std::string_view name, std::string_view value);
  void SetUserText(std::string_view name, std::string_view value);  // for currentUser()
  void SetUserSecret(std::string_view name, std::string_view plain);  // for currentUser()
  std::string GetUserSecret(std::string_view user, std::string_view name);

  // Names of the user keys in enumeration order (case-folded name order), whole.
  std::vector<std::string> ListUsers();
  void CreateUserKey(std::string_view user);
  bool UserKeyExists(std::string_view user);
  // Deletes the user's key with everything under it; clears "defaultuser"
  // when it names that user.
  void DeleteUser(std::string_view user);

  static const std::array<std::string_view, kConnectionTypeCount>& ConnectionTypeNames();
  // An index outside the table counts as 0 ("Don't know").
  static int32_t SuggestedMaxUsers(int index);
  static int32_t SuggestedMaxBandwidth(int index);
  static int32_t AppliedMaxUsers(int index);
  // Writes "contype", the applied "maxusers" and "maxband", then calls the
  // limits-reload hook so the running limits follow.
  void ApplyConnectionType(int index);
  // Called after ApplyConnectionType (on the caller's thread) so that the
  // client state reloads its limits from the store. May be empty.
  void setLimitsReloadHook(std::function<void()> hook);

  bool IsAutorunSet();
  int SetAutorun(bool on);  // kAutorunOk, kAutorunNotSet or kAutorunNotDeleted

  // Deletes the whole VtClient tree and the autostart entry (uninstall).
  void RemoveAllSettings();

  // The stored form of a password: scrambled with kScrambleKey, then Base64.
  static std::string PasswordScramble(std::string_view plain);
  static std::string PasswordUnscramble(std::string_view stored);

 private:
  std::string readText(const std::string& key, std::string_view name);

  RegistryHive& m_hive;
  const std::string m_rootName;
  const AutostartEntry m_autostart;
  const std::string m_settingsKey;  // settingsKey(), made once: read on every page

  std::atomic<bool> m_defaultsDone{false};
  std::mutex m_defaultsMutex;  // serialises the first EnsureDefaults

  mutable std::mutex m_mutex;
  std::string m_currentUser;             // guarded by m_mutex
  std::function<void()> m_reloadLimits;  // guarded by m_mutex
};

}  // namespace vantrel
