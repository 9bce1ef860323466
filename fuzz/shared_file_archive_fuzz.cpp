// SPDX-License-Identifier: MIT
// The shared-file archive in both layouts; what loads must write and load again
// to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "catalogue/shared_file_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  const std::span<const uint8_t> bytes(data, size);
  for (const bool legacy : {false, true}) {
    SharedFileMap map;
    int32_t reserved = 0;
    if (decodeSharedFileArchive(bytes, legacy, map, reserved) != ArchiveError::None) continue;
    const auto written = encodeSharedFileArchive(map, reserved);
    SharedFileMap again;
    int32_t reservedAgain = 0;
    if (decodeSharedFileArchive(written, false, again, reservedAgain) != ArchiveError::None) std::abort();
    if (again.size() != map.size() || reservedAgain != reserved) std::abort();
  }
  return 0;
}
