// SPDX-License-Identifier: MIT
// The exported Decrypt on any cipher text, with out buffers of every size the
// first byte picks: it must never write past the size it is given.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/crypto_api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  static const unsigned char iv[8] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  const int outSize = data[0] % 64;
  std::vector<unsigned char> out(static_cast<size_t>(outSize));
  int outLength = outSize;
  const int rc = Decrypt(key, 8, iv, out.data(), &outLength, data + 1, static_cast<int>(size - 1));
  if (rc == 0 && (outLength < 0 || outLength > outSize)) __builtin_trap();
  if (rc == 0 && static_cast<size_t>(outLength) > size - 1) __builtin_trap();
  return 0;
}
