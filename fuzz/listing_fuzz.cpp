// SPDX-License-Identifier: MIT
// Listing replies (getlisting, getallgroups, search) into catalogue entries.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/catalogue_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const vantrel::EntryList entries = vantrel::ParseListing(reply);
  if (entries.size() > size) __builtin_trap();  // every entry needs its own piece
  return 0;
}
