// SPDX-License-Identifier: MIT
#include "settings/settings_store.h"

#include <cstring>

#include "core/base64.h"
#include "core/deployment.h"

namespace vantrel {
namespace {

constexpr std::string_view kSettings = "settings";
constexpr std::string_view kUsers = "users";
constexpr std::string_view kDefaultUser = "defaultuser";

struct Default {
  std::string_view name;
  RegType type;
  int32_t number;
  std::string_view text;
};

// Written in this order on a fresh profile. "serveraddress" and "serverport"
// are filled in at run time from the deployment values (their values here are
// only placeholders).
constexpr std::array<Default, 14> kDefaults{{
    {"defaultuser", RegType::Text, 0, ""},
    {"port", RegType::Dword, 8323, {}},
    {"serveraddress", RegType::Text, 0, {}},
    {"serverport", RegType::Dword, 80, {}},
    {"autologinuser", RegType::Text, 0, ""},
    {"autofind", RegType::Dword, 1, {}},
    {"maxusers", RegType::Dword, 10, {}},
    {"maxband", RegType::Dword, 2000000, {}},
    {"maxusrband", RegType::Dword, 2000000, {}},
    {"maxlogintime", RegType::Dword, 40, {}},
    {"checkforupdates", RegType::Dword, 1, {}},
    {"firstTimeSharing", RegType::Dword, 1, {}},
    {"udpport", RegType::Dword, 8324, {}},
    {"remotes", RegType::Dword, 0, {}},
}};

// The connection-type table; the four columns are kept in step by index.
constexpr std::array<std::string_view, SettingsStore::kConnectionTypeCount> kTypeNames{
    "Don't know", "14k modem", "28k modem", "33.6k modem", "56k modem", "64k ISDN", "128k ISDN",
    "Cable Modem", "DSL/ADSL", "T1", "Ethernet / Dorm Room", "LAN", "T3", "User set"};
constexpr std::array<int32_t, SettingsStore::kConnectionTypeCount> kSuggestedUsers{
    10, 2, 3, 3, 4, 8, 11, 20, 30, 40, 40, 40, 150, 999};
// Applied differs from suggested for the three slow modems only.
constexpr std::array<int32_t, SettingsStore::kConnectionTypeCount> kAppliedUsers{
    10, 2, 4, 5, 7, 8, 11, 20, 30, 40, 40, 40, 150, 999};
constexpr std::array<int32_t, SettingsStore::kConnectionTypeCount> kBandwidth{
    2000000, 2000, 4000, 5000, 8000, 12000, 24000, 100000, 200000, 300000, 400000, 400000, 2000000, 9999999};

int typeIndex(int index) { return index >= 0 && index < SettingsStore::kConnectionTypeCount ? index : 0; }

// A user name is one key component: no backslash (it would address a key
// nested under another user) and not empty.
bool validUserName(std::string_view user) {
  return !user.empty() && user.find('\\') == std::string_view::npos &&
         user.size() <= RegistryHive::kMaxKeyNameBytes;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

uint8_t keyByte(size_t i) { return static_cast<uint8_t>(SettingsStore::kScrambleKey >> (8 * (i % 4))); }

}  // namespace

SettingsStore::SettingsStore(RegistryHive& hive, std::string rootName)
    : SettingsStore(hive, std::move(rootName), AutostartEntry()) {}

SettingsStore::SettingsStore(RegistryHive& hive, std::string rootName, AutostartEntry autostart)
    : m_hive(hive),
      m_rootName(rootName.empty() ? std::string(kDefaultRootName) : std::move(rootName)),
      m_autostart(std::move(autostart)),
      m_settingsKey(settingsKey()) {}

std::string SettingsStore::clientKey() const { return "Software\\" + m_rootName + "\\VtClient"; }
std::string SettingsStore::settingsKey() const { return clientKey() + "\\" + std::string(kSettings); }
std::string SettingsStore::usersKey() const { return clientKey() + "\\" + std::string(kUsers); }
std::string SettingsStore::userKey(std::string_view user) const {
  return validUserName(user) ? usersKey() + "\\" + std::string(user) : std::string();
}

void SettingsStore::EnsureDefaults() {
  if (m_defaultsDone.load(std::memory_order_acquire)) return;
  std::scoped_lock lock(m_defaultsMutex);
  if (m_defaultsDone.load(std::memory_order_relaxed)) return;
  if (m_hive.createKey(usersKey()) != reg::kOk || m_hive.createKey(settingsKey()) != reg::kOk) return;
  const std::string key = settingsKey();
  bool complete = true;
  for (const Default& d : kDefaults) {
    RegValue v = d.type == RegType::Dword ? RegValue::ofNumber(d.number) : RegValue::ofText(d.text);
    if (d.name == "serveraddress") v = RegValue::ofText(deployment::defaultServerHost());
    if (d.name == "serverport") v = RegValue::ofNumber(deployment::serverPort());
    // Insert-if-absent in one transaction: a value that another process wrote
    // between our check and our write would otherwise be overwritten.
    int rc = m_hive.writeValueIfAbsent(key, d.name, v);
    if (rc != reg::kOk && rc != reg::kAlreadyExists) complete = false;
  }
  if (complete) m_defaultsDone.store(true, std::memory_order_release);
}

std::string SettingsStore::readText(const std::string& key, std::string_view name) {
  RegValue v;
  if (key.empty() || m_hive.readValue(key, name, v) != reg::kOk || v.type != RegType::Text) return {};
  // A stored text ends at its first zero, and the reader's buffer keeps room for it.
  size_t n = std::min(v.text.size(), kTextBufferBytes - 1);
  size_t zero = v.text.find('\0');
  if (zero != std::string::npos) n = std::min(n, zero);
  v.text.resize(n);
  return std::move(v.text);
}

int32_t SettingsStore::GetSettingNumber(std::string_view name) {
  EnsureDefaults();
  RegValue v;
  if (m_hive.readValue(m_settingsKey, name, v) != reg::kOk || v.type != RegType::Dword) return -1;
  return v.number;
}

std::string SettingsStore::GetSettingText(std::string_view name) {
  EnsureDefaults();
  return readText(m_settingsKey, name);
}

void SettingsStore::SetSettingNumber(std::string_view name, int32_t value) {
  EnsureDefaults();
  m_hive.writeValue(settingsKey(), name, RegValue::ofNumber(value));
}

void SettingsStore::SetSettingText(std::string_view name, std::string_view value) {
  EnsureDefaults();
  m_hive.writeValue(settingsKey(), name, RegValue::ofText(value));
}

void SettingsStore::setCurrentUser(std::string user) {
  std::scoped_lock lock(m_mutex);
  m_currentUser = std::move(user);
}

std::string SettingsStore::currentUser() const {
  std::scoped_lock lock(m_mutex);
  return m_currentUser;
}

std::string SettingsStore::GetUserText(std::string_view user, std::string_view name) {
  EnsureDefaults();
  return readText(userKey(user), name);
}

void SettingsStore::SetUserText(std::string_view user, std::string_view name, std::string_view value) {
  EnsureDefaults();
  const std::string key = userKey(user);
  // The hive refuses to write into a missing key, so a user whose key was
  // never created gets nothing written (and no key created on the way).
  if (!key.empty()) m_hive.writeValue(key, name, RegValue::ofText(value));
}

void SettingsStore::SetUserText(std::string_view name, std::string_view value) {
  SetUserText(currentUser(), name, value);
}

void SettingsStore::SetUserSecret(std::string_view name, std::string_view plain) {
  SetUserText(currentUser(), name, PasswordScramble(plain));
}

std::string SettingsStore::GetUserSecret(std::string_view user, std::string_view name) {
  std::string stored = GetUserText(user, name);
  return stored.empty() ? std::string() : PasswordUnscramble(stored);
}

std::vector<std::string> SettingsStore::ListUsers() {
  EnsureDefaults();
  return m_hive.subKeys(usersKey());
}

void SettingsStore::CreateUserKey(std::string_view user) {
  EnsureDefaults();
  const std::string key = userKey(user);
  if (!key.empty()) m_hive.createKey(key);
}

bool SettingsStore::UserKeyExists(std::string_view user) {
  EnsureDefaults();
  const std::string key = userKey(user);
  return !key.empty() && m_hive.keyExists(key);
}

void SettingsStore::DeleteUser(std::string_view user) {
  EnsureDefaults();
  const std::string key = userKey(user);
  if (key.empty()) return;
  m_hive.deleteKey(key);
  // Key names compare without case, so "Alice" names the key of "alice" too.
  RegValue v;
  if (m_hive.readValue(settingsKey(), kDefaultUser, v) == reg::kOk && v.type == RegType::Text &&
      equalsIgnoringCase(v.text, user)) {
    m_hive.writeValue(settingsKey(), kDefaultUser, RegValue::ofText(""));
  }
}

const std::array<std::string_view, SettingsStore::kConnectionTypeCount>& SettingsStore::ConnectionTypeNames() {
  return kTypeNames;
}

int32_t SettingsStore::SuggestedMaxUsers(int index) { return kSuggestedUsers[typeIndex(index)]; }
int32_t SettingsStore::SuggestedMaxBandwidth(int index) { return kBandwidth[typeIndex(index)]; }
int32_t SettingsStore::AppliedMaxUsers(int index) { return kAppliedUsers[typeIndex(index)]; }

void SettingsStore::ApplyConnectionType(int index) {
  const int i = typeIndex(index);
  SetSettingNumber("contype", i);
  SetSettingNumber("maxusers", kAppliedUsers[i]);
  SetSettingNumber("maxband", kBandwidth[i]);
  std::function<void()> hook;
  {
    std::scoped_lock lock(m_mutex);
    hook = m_reloadLimits;
  }
  // Called outside the lock: the hook reads settings back through this store.
  if (hook) hook();
}

void SettingsStore::setLimitsReloadHook(std::function<void()> hook) {
  std::scoped_lock lock(m_mutex);
  m_reloadLimits = std::move(hook);
}

bool SettingsStore::IsAutorunSet() {
  EnsureDefaults();
  // A folder that cannot be read counts as set, so that the client does not
  // keep offering to add an entry it cannot see.
  return m_autostart.state() != AutostartEntry::State::Absent;
}

int SettingsStore::SetAutorun(bool on) {
  EnsureDefaults();
  if (on) return m_autostart.write() == AutostartEntry::kOk ? kAutorunOk : kAutorunNotSet;
  return m_autostart.remove() == AutostartEntry::kOk ? kAutorunOk : kAutorunNotDeleted;
}

void SettingsStore::RemoveAllSettings() {
  EnsureDefaults();
  // The hive deletes a key with its whole subtree in one transaction, so an
  // interrupted uninstall never leaves half a tree behind.
  m_hive.deleteKey(clientKey());
  SetAutorun(false);
}

std::string SettingsStore::PasswordScramble(std::string_view plain) {
  std::string b(plain);
  // Whole groups of four and the remainder both take key byte i mod 4.
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(static_cast<uint8_t>(b[i]) ^ keyByte(i));
  // Each byte is combined with its successor as it was before this pass.
  for (size_t i = 0; i + 1 < b.size(); ++i) b[i] = static_cast<char>(b[i] ^ b[i + 1]);
  return base64Encode(b);
}

std::string SettingsStore::PasswordUnscramble(std::string_view stored) {
  std::string b = base64Decode(stored);
  for (size_t i = b.size(); i-- > 1;) b[i - 1] = static_cast<char>(b[i - 1] ^ b[i]);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(static_cast<uint8_t>(b[i]) ^ keyByte(i));
  return b;
}

}  // namespace vantrel
