// SPDX-License-Identifier: MIT
#pragma once
// Blowfish-CBC and SHA-1 as the client's request encryption uses them, on
// OpenSSL libcrypto. Blowfish lives in OpenSSL's "legacy" provider; both the
// "legacy" and the "default" provider are loaded once per process into a library
// context of our own, so a program that loads us keeps its own OpenSSL setup.
//
// Framing: the cipher text of n plain bytes is 8 * (n / 8 + 1) bytes (PKCS #5
// padding, a whole block of eights after a multiple of 8). Decryption is lenient
// the way peers expect: the last byte of the final complete block is the pad
// count, a count above 8 keeps the whole block, the pad values are not checked,
// and the bytes of an incomplete final block are dropped.
//
// A BlowfishCbc keeps the key schedule of one key; it is not thread-safe (the
// session key holder guards its own with a lock). The free functions are.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace vantrel::crypto {

inline constexpr size_t kBlockSize = 8;
inline constexpr size_t kSha1Size = 20;

// Cipher length of n plain bytes.
constexpr size_t cipherLength(size_t plainLength) { return kBlockSize * (plainLength / kBlockSize + 1); }

// SHA-1 of the bytes; false when the digest is not available.
bool sha1(std::span<const uint8_t> bytes, uint8_t (&digest)[kSha1Size]);

class BlowfishCbc {
 public:
  BlowfishCbc();
  ~BlowfishCbc();
  BlowfishCbc(BlowfishCbc&&) noexcept;
  BlowfishCbc& operator=(BlowfishCbc&&) noexcept;

  // Builds the key schedule. Blowfish takes 4 to 56 key bytes; the key length is
  // given to the cipher before the key, so exactly key.size() bytes are read.
  bool setKey(std::span<const uint8_t> key);
  bool hasKey() const { return m_keyed; }

  // Writes cipherLength(plain.size()) bytes to out. Every message starts from iv.
  bool encrypt(const uint8_t (&iv)[kBlockSize], std::span<const uint8_t> plain, uint8_t* out);

  // Writes the decrypted complete blocks (at most cipher.size() bytes) to out and
  // returns the plain length after removing the padding.
  std::optional<size_t> decrypt(const uint8_t (&iv)[kBlockSize], std::span<const uint8_t> cipher, uint8_t* out);

 private:
  struct Contexts;
  std::unique_ptr<Contexts> m_ctx;
  bool m_keyed = false;
};

}  // namespace vantrel::crypto
