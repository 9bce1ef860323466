// SPDX-License-Identifier: MIT
#pragma once
// Reading of the "Range" header of a download, the way HTTP clients mean it:
// "bytes=0-99" is the first 100 bytes (the last position is inclusive),
// "bytes=500-" runs to the end, "bytes=-500" is the last 500 bytes. A last
// position past the end is cut to the file, so the client's own download manager,
// which asks for its resume offset up to the expected size, keeps working. Only
// the first range of a list counts, and runs to the end of the file. 64-bit
// throughout; no input overflows. Stateless and thread-safe.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

struct ByteRange {
  enum class Kind {
    Whole,          // status 200: no range, an unusable one, or one covering the file
    Partial,        // status 206: bytes [first, last] of the file
    Unsatisfiable,  // status 416: starts at or past the end of the file
  };
  Kind kind = Kind::Whole;
  int64_t first = 0;
  int64_t last = -1;  // inclusive; -1 for an empty file
  int64_t size = 0;   // the whole file

  int status() const;
  int64_t length() const { return kind == Kind::Unsatisfiable ? 0 : last - first + 1; }
  // "bytes FIRST-LAST/SIZE", or "bytes */SIZE" when unsatisfiable.
  std::string contentRange() const;
};

// `header` is the value of the Range header, or nullopt when there was none.
ByteRange parseRange(std::optional<std::string_view> header, int64_t fileSize);

}  // namespace vantrel
