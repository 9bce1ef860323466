// SPDX-License-Identifier: MIT
// A ping reply as it arrives: raw cipher bytes, decrypted with the session key,
// then read as name=value pairs. The input is also read as plain text, so the
// pair reader sees arbitrary text as well as what decryption makes of it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/session_key.h"
#include "protocol/ping_handler.h"

namespace {

const vantrel::SessionKey& key() {
  static vantrel::SessionKey k;
  static const bool derived = [] {
    const uint8_t salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    return k.DeriveWithSalt("fuzz", salt) == 0;
  }();
  (void)derived;
  return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string plain = key().DecryptText(bytes);
  if (plain.size() > bytes.size()) __builtin_trap();
  (void)vantrel::parsePingReply(plain);
  (void)vantrel::parsePingReply(bytes);
  return 0;
}
