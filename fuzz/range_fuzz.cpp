// SPDX-License-Identifier: MIT
// The Range header of a download against files of several sizes; every result
// must lie inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fileserver/byte_range.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view header(reinterpret_cast<const char*>(data), size);
  for (const int64_t fileSize : {int64_t{0}, int64_t{1}, int64_t{1000}, int64_t{5} << 30, INT64_MAX}) {
    const vantrel::ByteRange r = vantrel::parseRange(header, fileSize);
    if (r.kind == vantrel::ByteRange::Kind::Unsatisfiable) {
      if (r.length() != 0) std::abort();
      continue;
    }
    if (r.first < 0 || r.last >= fileSize || r.length() < 0 || r.first + r.length() > fileSize) std::abort();
    if (r.kind == vantrel::ByteRange::Kind::Partial && r.length() <= 0) std::abort();
    r.contentRange();
  }
  return 0;
}
