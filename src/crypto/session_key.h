// SPDX-License-Identifier: MIT
#pragma once
// SessionKey: the holder of the session's salt, Blowfish key and IV, derived from
// the user's password at every login and used for every encrypted request, the
// UDP ping, "@" request parameters of the file server and page tokens.
//
// One per process, owned by the application and passed down by reference. Every
// method is thread-safe: a re-login replaces salt, key and IV under the lock, so
// a text is always encrypted with one consistent key, never half of each. The key
// schedule is cached per key, so EncryptText does not rebuild it.
//
// Before the first derivation there is no key: EncryptText and DecryptText return
// an empty text (a real cipher text is never empty) and SessionSalt is empty.

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "crypto/blowfish_cipher.h"

namespace vantrel {

class SessionKey {
 public:
  static constexpr size_t kPartSize = 8;  // salt, key and IV are 8 bytes each

  // Derives a fresh salt (from the clock), key and IV from the password. Returns
  // the GenerateKey code, 0 on success; on failure the held key is dropped.
  int DeriveSessionKey(std::string_view password);

  // The same with a given 8-byte salt: what the server side does with the salt
  // that the client sent at login.
  int DeriveWithSalt(std::string_view password, std::span<const uint8_t, kPartSize> salt);

  // Takes the salt, key and IV of an earlier derivation (a server keeps them
  // with the session so that it need not derive them again). False, and no
  // key held, when the key is refused.
  bool SetParts(std::span<const uint8_t, kPartSize> salt, std::span<const uint8_t, kPartSize> key,
                std::span<const uint8_t, kPartSize> iv);

  // Cipher bytes of the text (8 * (n / 8 + 1) bytes), or "" without a key.
  std::string EncryptText(std::string_view plain) const;

  // Plain bytes of a cipher text, lenient about padding; "" without a key.
  std::string DecryptText(std::string_view cipher) const;

  // The 8 salt bytes of the current session (sent at login), or "".
  std::string SessionSalt() const;

  // A token for the client's own pages: Base64 of the encrypted text
  // r + "$" + text + "$" + (r mod 24), r a random number 0..32767.
  std::string MakeToken(std::string_view text) const;

  bool hasKey() const;

 private:
  int derive(std::string_view password, const uint8_t* givenSalt);

  mutable std::mutex m_mutex;
  uint8_t m_salt[kPartSize] = {};  // guarded by m_mutex
  uint8_t m_iv[kPartSize] = {};    // guarded by m_mutex
  mutable crypto::BlowfishCbc m_cipher;  // guarded by m_mutex; holds the key schedule
  bool m_hasKey = false;                 // guarded by m_mutex
};

}  // namespace vantrel
