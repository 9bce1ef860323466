// SPDX-License-Identifier: MIT
#include "net/reply_fields.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(ReplyFields, ReplyNumberReadsTheFirstOccurrence) {
  struct Case { const char* reply; const char* name; int want; };
  const Case cases[] = {
      {"result=0&", "result=", 0},
      {"result=0", "result=", -1},  // no "&" and no space after the value
      {"result=0 ", "result=", 0},
      {"result=12&clientid=5&", "clientid=", 5},
      {"result=-3&", "result=", -3},
      {"result=&", "result=", -1},   // empty reads as 0, which means unreadable
      {"result=abc&", "result=", -1},
      {"result=007&", "result=", 0},  // leading zero is zero
      {"result=42x&", "result=", 42},
      {"fileid=1&result=4&", "result=", 4},
      {"nothing here&", "result=", -1},
      {"result=99999999999999&", "result=", 2147483647},
      {"result=5 more&", "result=", 5},  // "&" wins over the space when both follow
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(ReplyNumber(c.reply, c.name), c.want);
  }
}

TEST(ReplyFields, ReplyTextNeedsAmpersandBeforeAndAfter) {
  struct Case { const char* reply; std::size_t size; std::optional<std::string> want; };
  const Case cases[] = {
      {"result=0&clientid=abc&", 100, "abc"},
      {"clientid=abc&", 100, std::nullopt},          // first field has no "&" before it
      {"result=0&clientid=abc", 100, std::nullopt},  // nothing ends the value
      {"result=0&clientid=abc def", 100, "abc"},
      {"result=0&clientid=abcdef&", 3, "abc"},
      {"xclientid=1&clientid=2&", 100, std::nullopt},  // only the first occurrence counts
      {"result=0&clientid=&", 100, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(ReplyText(c.reply, "clientid=", c.size), c.want);
  }
}

}  // namespace
}  // namespace vantrel
