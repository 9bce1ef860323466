// SPDX-License-Identifier: MIT
// Decoding arbitrary text, and encoding then decoding arbitrary bytes, must give
// the bytes back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)vantrel::base64Decode(input);
  if (vantrel::base64Decode(vantrel::base64Encode(input)) != input) std::abort();
  return 0;
}
