// SPDX-License-Identifier: MIT
// The group cache file; what loads must write and load again to the same groups.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/archive_writer.h"
#include "transfers/group_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  CMapDWordToObj<CGroupEntry> map;
  if (!GroupCache::decode(std::span<const uint8_t>(data, size), map)) return 0;
  ArchiveWriter out;
  out.writeU32(static_cast<uint32_t>(map.size()));
  map.forEach([&](uint32_t, const CGroupEntry& entry) { entry.store(out); });
  CMapDWordToObj<CGroupEntry> again;
  if (!GroupCache::decode(out.bytes(), again) || again.size() != map.size()) std::abort();
  return 0;
}
