// SPDX-License-Identifier: MIT
#include "crypto/session_key.h"

#include <openssl/crypto.h>

#include <cstring>
#include <ctime>
#include <random>

#include "core/base64.h"
#include "crypto/crypto_api.h"
#include "crypto/crypto_codes.h"

namespace vantrel {

int SessionKey::DeriveSessionKey(std::string_view password) { return derive(password, nullptr); }

int SessionKey::DeriveWithSalt(std::string_view password, std::span<const uint8_t, kPartSize> salt) {
  return derive(password, salt.data());
}

int SessionKey::derive(std::string_view password, const uint8_t* givenSalt) {
  uint8_t salt[kPartSize] = {};
  uint8_t key[kPartSize] = {};
  uint8_t iv[kPartSize] = {};
  int saltLength = kPartSize;
  int keyLength = kPartSize;
  int ivLength = kPartSize;
  if (givenSalt != nullptr) std::memcpy(salt, givenSalt, kPartSize);
  // Hashing runs outside the lock; only the swap of the parts is guarded.
  const int rc = GenerateKey(reinterpret_cast<const unsigned char*>(password.data()),
                             static_cast<int>(password.size()), salt, &saltLength, key, &keyLength, iv, &ivLength,
                             givenSalt != nullptr ? 1 : 0);
  crypto::BlowfishCbc cipher;
  const bool keyed = rc == crypto::kCryptoOk && cipher.setKey(key);
  OPENSSL_cleanse(key, sizeof key);

  std::scoped_lock lock(m_mutex);
  m_hasKey = keyed;
  std::memcpy(m_salt, salt, kPartSize);
  std::memcpy(m_iv, iv, kPartSize);
  m_cipher = std::move(cipher);
  if (rc == crypto::kCryptoOk && !keyed) return crypto::kCryptoHashFailed;
  return rc;
}

bool SessionKey::SetParts(std::span<const uint8_t, kPartSize> salt, std::span<const uint8_t, kPartSize> key,
                          std::span<const uint8_t, kPartSize> iv) {
  crypto::BlowfishCbc cipher;
  const bool keyed = cipher.setKey(key);
  std::scoped_lock lock(m_mutex);
  m_hasKey = keyed;
  std::memcpy(m_salt, salt.data(), kPartSize);
  std::memcpy(m_iv, iv.data(), kPartSize);
  m_cipher = std::move(cipher);
  return keyed;
}

std::string SessionKey::EncryptText(std::string_view plain) const {
  std::string out(crypto::cipherLength(plain.size()), '\0');
  std::scoped_lock lock(m_mutex);
  if (!m_hasKey) return {};
  if (!m_cipher.encrypt(m_iv, {reinterpret_cast<const uint8_t*>(plain.data()), plain.size()},
                        reinterpret_cast<uint8_t*>(out.data()))) {
    return {};
  }
  return out;
}

std::string SessionKey::DecryptText(std::string_view cipher) const {
  std::string out(cipher.size(), '\0');
  std::scoped_lock lock(m_mutex);
  if (!m_hasKey) return {};
  const auto n = m_cipher.decrypt(m_iv, {reinterpret_cast<const uint8_t*>(cipher.data()), cipher.size()},
                                  reinterpret_cast<uint8_t*>(out.data()));
  out.resize(n.value_or(0));
  return out;
}

std::string SessionKey::SessionSalt() const {
  std::scoped_lock lock(m_mutex);
  if (!m_hasKey) return {};
  return std::string(reinterpret_cast<const char*>(m_salt), kPartSize);
}

bool SessionKey::hasKey() const {
  std::scoped_lock lock(m_mutex);
  return m_hasKey;
}

std::string SessionKey::MakeToken(std::string_view text) const {
  // A generator seeded from the clock, as the tokens always were; the token is
  // not a secret by its randomness but by the session key.
  std::minstd_rand gen(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
  const unsigned r = static_cast<unsigned>(gen() % 32768);
  std::string plain = std::to_string(r);
  plain += '$';
  plain += text;
  plain += '$';
  plain += std::to_string(r % 24);
  const std::string cipher = EncryptText(plain);
  if (cipher.empty()) return {};
  return base64Encode(cipher);
}

}  // namespace vantrel
