// SPDX-License-Identifier: MIT
#pragma once
// RegistryHive: the client's registry, kept as one SQLite file "registry.db" in
// WAL mode. Keys are backslash paths such as "Software\Vantrel\VtClient";
// key and value names compare case-insensitively (ASCII) and keep the case they
// were created with. A value is a DWORD (int32) or a text of 8-bit characters.
//
// Every operation is one short transaction, and a value written here (or by
// another process on the same file) is seen by the next read. Values read are
// kept until the file changes: any commit, ours or another process's, rewrites
// the WAL's shared-memory header, and a read whose header is unchanged is
// answered from memory without a transaction. Where that header cannot be
// watched, nothing is kept. Thread-safe: one connection guarded by a mutex;
// other processes are waited for up to kBusyTimeoutMs. No operation throws.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The connection stays opaque here, so that users of the hive do not see SQLite.
struct sqlite3;

namespace vantrel {

class StatementCache;
class CommitWatch;

// Result codes of the hive operations.
namespace reg {
inline constexpr int kOk = 0;
inline constexpr int kKeyNotFound = 1;    // the key (or a parent of it) does not exist
inline constexpr int kValueNotFound = 2;  // the key exists, the value does not
inline constexpr int kNoMoreItems = 3;    // enumeration index past the last sub-key
inline constexpr int kAlreadyExists = 4;  // writeValueIfAbsent found a stored value
inline constexpr int kBadPath = 5;        // empty component or a name that is too long
inline constexpr int kIoError = 6;        // the hive file could not be opened, read or written
}  // namespace reg

// Registry value types; the numbers are those of the Windows registry.
enum class RegType : int { Text = 1, Dword = 4 };

struct RegValue {
  RegType type = RegType::Text;
  int32_t number = 0;  // when type is Dword
  std::string text;    // when type is Text; any bytes, including zeros

  static RegValue ofNumber(int32_t n) { return RegValue{RegType::Dword, n, {}}; }
  static RegValue ofText(std::string_view t) { return RegValue{RegType::Text, 0, std::string(t)}; }
};

class RegistryHive {
 public:
  static constexpr const char* kFileName = "registry.db";
  static constexpr int kBusyTimeoutMs = 5000;
  static constexpr size_t kMaxKeyNameBytes = 255;      // per key path component
  static constexpr size_t kMaxValueNameBytes = 16383;  // per value name

  // Opens (creating the folder and the file when missing) the hive in
  // configDirectory() of app_paths.h, or in `directory` when given. Check status().
  RegistryHive();
  explicit RegistryHive(const std::string& directory);
  ~RegistryHive();
  RegistryHive(const RegistryHive&) = delete;
  RegistryHive& operator=(const RegistryHive&) = delete;

  // reg::kOk when the hive is usable; otherwise every operation returns kIoError.
  int status() const { return m_status; }
  const std::string& filePath() const { return m_path; }

  // kOk when the key exists, else kKeyNotFound (or kBadPath / kIoError).
  int openKey(std::string_view key);
  bool keyExists(std::string_view key) { return openKey(key) == reg::kOk; }
  // Creates the key and every missing parent; kOk also when it already existed.
  int createKey(std::string_view key);
  // Deletes the key with all its sub-keys and values in one transaction.
  int deleteKey(std::string_view key);
  // Name of sub-key number `index` (0-based) in a stable order: case-folded
  // name order. The empty key path enumerates the top-level keys.
  int enumSubKey(std::string_view key, uint32_t index, std::string& name);
  std::vector<std::string> subKeys(std::string_view key);

  int readValue(std::string_view key, std::string_view name, RegValue& out);
  // Writes (replacing any stored value of any type); the key must exist.
  int writeValue(std::string_view key, std::string_view name, const RegValue& value);
  // Writes only when no value of that name exists; kAlreadyExists otherwise.
  // Check and write are one transaction, so a concurrent writer is never overwritten.
  int writeValueIfAbsent(std::string_view key, std::string_view name, const RegValue& value);
  int deleteValue(std::string_view key, std::string_view name);
  // Value names of a key, in case-folded order.
  std::vector<std::string> valueNames(std::string_view key);

 private:
  // Read values kept under their folded key path and name; the comparison
  // folds, so a lookup needs neither folding nor a copy of its names.
  struct ValueName {
    std::string key;
    std::string name;
  };
  struct FoldedLess {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const;
  };
  struct KeptValue {
    int result;  // kOk, kValueNotFound or kKeyNotFound
    RegValue value;
  };

  int openFile(const std::string& directory);
  // Under m_mutex: forgets the kept values when the file has changed since
  // they were read; false when changes cannot be seen (then nothing is kept).
  bool keptValuesCurrent();
  int writeLocked(std::string_view key, std::string_view name, const RegValue& value, bool onlyIfAbsent);

  std::mutex m_mutex;
  sqlite3* m_db = nullptr;  // guarded by m_mutex; owned, closed by the destructor
  std::unique_ptr<StatementCache> m_cache;  // guarded by m_mutex; statements of m_db
  std::unique_ptr<CommitWatch> m_watch;     // guarded by m_mutex; null when unavailable
  std::map<ValueName, KeptValue, FoldedLess> m_kept;  // guarded by m_mutex
  int m_status = reg::kIoError;
  std::string m_path;
};

}  // namespace vantrel
