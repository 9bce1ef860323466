// SPDX-License-Identifier: MIT
// A peer's refusal line ("client=1&error=..&errorMessage=..") as downloads read it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfers/download_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  if (vantrel::peerErrorMessage(line).size() > line.size()) std::abort();
  return 0;
}
