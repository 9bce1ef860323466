// SPDX-License-Identifier: MIT
#include "crypto/crypto_api.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "crypto/blowfish_cipher.h"
#include "crypto/crypto_codes.h"

namespace {

using namespace vantrel::crypto;

constexpr int kIterations = 100;

void copyIv(const unsigned char* iv, uint8_t (&out)[kBlockSize]) { std::memcpy(out, iv, kBlockSize); }

}  // namespace

extern "C" int GenerateKey(const unsigned char* password, int passwordLength, unsigned char* salt,
                           int* saltLength, unsigned char* key, int* keyLength, unsigned char* iv,
                           int* ivLength, int useGivenSalt) {
  if (salt == nullptr || saltLength == nullptr || key == nullptr || keyLength == nullptr || iv == nullptr ||
      ivLength == nullptr || (password == nullptr && passwordLength != 0)) {
    return kCryptoNullBuffer;
  }
  if (*saltLength < 8 || *keyLength < 8 || *ivLength < 8 || passwordLength < 0) return kCryptoBadLength;

  if (useGivenSalt != 0) {
    if (*saltLength != 8) return kCryptoBadLength;
  } else {
    std::memset(salt, 0, static_cast<size_t>(*saltLength));
    *saltLength = 8;
    const auto now = static_cast<uint32_t>(std::time(nullptr));
    const uint8_t clock[4] = {static_cast<uint8_t>(now), static_cast<uint8_t>(now >> 8),
                              static_cast<uint8_t>(now >> 16), static_cast<uint8_t>(now >> 24)};
    uint8_t digest[kSha1Size];
    if (!sha1(clock, digest)) return kCryptoHashFailed;
    std::memcpy(salt, digest, 8);
  }

  std::vector<uint8_t> seed(static_cast<size_t>(passwordLength) + 8);
  if (passwordLength > 0) std::memcpy(seed.data(), password, static_cast<size_t>(passwordLength));
  std::memcpy(seed.data() + passwordLength, salt, 8);
  uint8_t h[kSha1Size];
  if (!sha1(seed, h)) return kCryptoHashFailed;
  for (int i = 1; i < kIterations; ++i) {
    uint8_t next[kSha1Size];
    if (!sha1(h, next)) return kCryptoHashFailed;
    std::memcpy(h, next, kSha1Size);
  }

  std::memset(key, 0, static_cast<size_t>(*keyLength));
  std::memcpy(key, h, 8);
  *keyLength = 8;
  std::memset(iv, 0, static_cast<size_t>(*ivLength));
  std::memcpy(iv, h + 8, 8);
  *ivLength = 8;
  return kCryptoOk;
}

extern "C" int Encrypt(const unsigned char* key, int keyLength, const unsigned char* iv, const unsigned char* plain,
                       int plainLength, unsigned char* out, int* outLength) {
  if (key == nullptr || iv == nullptr || out == nullptr || outLength == nullptr ||
      (plain == nullptr && plainLength != 0) || plainLength < 0 || keyLength < 0 || *outLength < 0) {
    return kCryptoNullBuffer;
  }
  const size_t needed = cipherLength(static_cast<size_t>(plainLength));
  if (static_cast<size_t>(*outLength) < needed) {
    *outLength = static_cast<int>(needed);
    return kCryptoBadLength;
  }
  BlowfishCbc bf;
  if (!bf.setKey({key, static_cast<size_t>(keyLength)})) return kCryptoBadLength;
  uint8_t ivBlock[kBlockSize];
  copyIv(iv, ivBlock);
  std::vector<uint8_t> cipher(needed);
  if (!bf.encrypt(ivBlock, {plain, static_cast<size_t>(plainLength)}, cipher.data())) return kCryptoBadLength;
  std::memset(out, 0, static_cast<size_t>(*outLength));
  std::memcpy(out, cipher.data(), needed);
  *outLength = static_cast<int>(needed);
  return kCryptoOk;
}

extern "C" int Decrypt(const unsigned char* key, int keyLength, const unsigned char* iv, unsigned char* out,
                       int* outLength, const unsigned char* cipher, int cipherLength) {
  if (key == nullptr || iv == nullptr || out == nullptr || outLength == nullptr ||
      (cipher == nullptr && cipherLength != 0) || cipherLength < 0 || keyLength < 0 || *outLength < 0) {
    return kCryptoNullBuffer;
  }
  BlowfishCbc bf;
  if (!bf.setKey({key, static_cast<size_t>(keyLength)})) return kCryptoBadLength;
  uint8_t ivBlock[kBlockSize];
  copyIv(iv, ivBlock);
  // The plain length is only known after decrypting, so decrypt aside first.
  std::vector<uint8_t> plain(static_cast<size_t>(cipherLength) + kBlockSize);
  const auto n = bf.decrypt(ivBlock, {cipher, static_cast<size_t>(cipherLength)}, plain.data());
  if (!n) return kCryptoBadLength;
  if (static_cast<size_t>(*outLength) < *n) {
    *outLength = static_cast<int>(*n);
    return kCryptoBadLength;
  }
  std::memset(out, 0, static_cast<size_t>(*outLength));
  std::memcpy(out, plain.data(), *n);
  *outLength = static_cast<int>(*n);
  return kCryptoOk;
}
