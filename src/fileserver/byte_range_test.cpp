// SPDX-License-Identifier: MIT
#include "fileserver/byte_range.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(ByteRange, ReadsRangesAsHttpClientsMeanThem) {
  using K = ByteRange::Kind;
  struct Case {
    const char* header;  // nullptr: no Range header
    int64_t size;
    K kind;
    int64_t first, last;
    const char* contentRange;
  };
  const Case cases[] = {
      {nullptr, 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      {"bytes=100-", 1000, K::Partial, 100, 999, "bytes 100-999/1000"},
      {"bytes=0-99", 1000, K::Partial, 0, 99, "bytes 0-99/1000"},
      {"bytes=0-0", 1000, K::Partial, 0, 0, "bytes 0-0/1000"},
      {"bytes=0-999", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      // The own download manager asks up to the expected size: cut to the file.
      {"bytes=0-1000", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      {"bytes=0-5000", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      {"bytes=400-1000", 1000, K::Partial, 400, 999, "bytes 400-999/1000"},
      {"bytes=-100", 1000, K::Partial, 900, 999, "bytes 900-999/1000"},
      {"bytes=-5000", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      {"bytes=-0", 1000, K::Unsatisfiable, 0, -1, "bytes */1000"},
      {"bytes=1000-", 1000, K::Unsatisfiable, 0, -1, "bytes */1000"},
      {"bytes=5000-6000", 1000, K::Unsatisfiable, 0, -1, "bytes */1000"},
      {"bytes=0-", 0, K::Unsatisfiable, 0, -1, "bytes */0"},
      {"bytes=10-20,30-40", 1000, K::Partial, 10, 999, "bytes 10-999/1000"},
      {" bytes = 5 - 9 ", 1000, K::Partial, 5, 9, "bytes 5-9/1000"},
      // Unusable ranges are ignored and the whole file goes out.
      {"bytes=abc-", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      {"bytes=500-100", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      {"bytes=5", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      {"items=0-5", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      {"", 1000, K::Whole, 0, 999, "bytes 0-999/1000"},
      // 64-bit sizes and numbers past every integer type.
      {"bytes=3000000000-", 5000000000, K::Partial, 3000000000, 4999999999, "bytes 3000000000-4999999999/5000000000"},
      {"bytes=0-99999999999999999999999", 5000000000, K::Whole, 0, 4999999999, "bytes 0-4999999999/5000000000"},
      {"bytes=99999999999999999999999-", 5000000000, K::Unsatisfiable, 0, -1, "bytes */5000000000"},
      {"bytes=-99999999999999999999999", 10, K::Whole, 0, 9, "bytes 0-9/10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header ? c.header : "(none)");
    const ByteRange r = parseRange(c.header ? std::optional<std::string_view>(c.header) : std::nullopt, c.size);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.first, c.first);
    EXPECT_EQ(r.last, c.last);
    EXPECT_EQ(r.contentRange(), c.contentRange);
    EXPECT_EQ(r.length(), c.kind == K::Unsatisfiable ? 0 : c.last - c.first + 1);
    EXPECT_EQ(r.status(), c.kind == K::Whole ? 200 : c.kind == K::Partial ? 206 : 416);
  }
}

}  // namespace
}  // namespace vantrel
