// SPDX-License-Identifier: MIT
#pragma once
// PasswordVault: seals account passwords for storage. The session key of a
// client is derived from its password, so the server has to be able to read
// passwords back; they are kept sealed with AES-256-GCM under a 32-byte server
// key held in a file of its own (created with mode 0600 beside the database),
// so a copy of the database alone does not reveal them.
//
// Thread-safe after open(): seal and open keep no state.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::server {

class PasswordVault {
 public:
  static constexpr size_t kKeySize = 32;

  // Reads the key file, or creates it with a fresh random key when it does not
  // exist. Refuses a key file of the wrong size or one that others may read.
  bool openKeyFile(const std::string& path, std::string& error);
  // For tests: use the given key.
  void setKey(const std::array<uint8_t, kKeySize>& key);

  // nonce (12) + cipher text + tag (16).
  std::string seal(std::string_view plain) const;
  // nullopt when the record was not sealed with this key or was altered.
  std::optional<std::string> unseal(std::string_view sealed) const;

 private:
  std::array<uint8_t, kKeySize> m_key{};
  bool m_ready = false;
};

}  // namespace vantrel::server
