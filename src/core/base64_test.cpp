// SPDX-License-Identifier: MIT
#include "core/base64.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(Base64, EncodesWithPaddingAndDecodesBack) {
  struct Case {
    const char* name;
    std::string plain;
    std::string encoded;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"one byte pads twice", "a", "YQ=="},
      {"two bytes pad once", "ab", "YWI="},
      {"three bytes", "abc", "YWJj"},
      {"binary with zero", std::string("\0\xff\x10", 3), "AP8Q"},
      {"longer than a line", std::string(100, 'x'), [] { std::string s; for (int i = 0; i < 33; ++i) s += "eHh4"; return s + "eA=="; }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string got = base64Encode(c.plain);
    EXPECT_EQ(got, c.encoded);
    EXPECT_EQ(base64Decode(got), c.plain);
  }
}

TEST(Base64, DecodingSkipsCharactersOutsideTheAlphabet) {
  EXPECT_EQ(base64Decode("YW Jj"), "abc");
  EXPECT_EQ(base64Decode("Y\r\nW=J*j"), "abc");
  EXPECT_EQ(base64Decode("===="), "");
}

TEST(Base64, DecodedBytesAreFollowedByATerminatingZero) {
  const std::string got = base64Decode("YWJj");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got.c_str()[3], '\0');
}

}  // namespace
}  // namespace vantrel
