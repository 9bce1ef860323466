// SPDX-License-Identifier: MIT
#pragma once
// Result codes of GenerateKey, Encrypt and Decrypt (see crypto_api.h).

namespace vantrel::crypto {

inline constexpr int kCryptoOk = 0;
inline constexpr int kCryptoBadLength = 1;   // a length too small, or the out buffer too small
inline constexpr int kCryptoNullBuffer = 3;  // a required buffer is null
inline constexpr int kCryptoHashFailed = -1;

}  // namespace vantrel::crypto
