// SPDX-License-Identifier: MIT
#include "core/text_codecs.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vantrel {
namespace {

using namespace std::string_literals;

// Each reading of %XX escapes on the texts where they differ: a "+", escapes
// in either case, a "%" without two hex digits at the end and in the middle,
// and an escaped byte 0. nullopt: refused.
struct DecodeCase {
  const char* name;
  std::string input;
  std::optional<std::string> keepPlus;    // PlusSign::kLiteral, BadEscape::kKeep (request values, Base64)
  std::optional<std::string> keepSpace;   // urlDecode: forms, queries, listings
  std::optional<std::string> reject;      // PlusSign::kLiteral, BadEscape::kReject (saved lists)
  std::optional<std::string> scanSpace;   // PlusSign::kSpace, BadEscape::kScan (the file server's requests)
};

const DecodeCase kDecodeCases[] = {
    {"plain", "abc", "abc", "abc", "abc", "abc"},
    {"plus", "a+b", "a+b", "a b", "a+b", "a b"},
    {"escapes in either case", "%41%6a%6A%2B", "Ajj+", "Ajj+", "Ajj+", "Ajj+"},
    {"percent at the end", "ab%", "ab%", "ab%", std::nullopt, "ab"},
    {"one digit at the end", "ab%4", "ab%4", "ab%4", std::nullopt, "ab\x04"},
    {"a digit then no digit", "%4G!", "%4G!", "%4G!", std::nullopt, "\x04!"},
    {"no digit", "a%G1b", "a%G1b", "a%G1b", std::nullopt, "a"},
    {"escaped plus and space", "%2B%20+", "+ +", "+  ", "+ +", "+  "},
    {"escaped byte 0", "a%00b", "a\0b"s, "a\0b"s, "a\0b"s, "a"},
    {"high bytes", "%C3%A9", "\xC3\xA9", "\xC3\xA9", "\xC3\xA9", "\xC3\xA9"},
};

TEST(TextCodecs, PercentDecodingInEachReading) {
  for (const DecodeCase& c : kDecodeCases) {
    SCOPED_TRACE(c.name);
    const auto decode = [&](PlusSign plus, BadEscape bad) -> std::optional<std::string> {
      std::string out;
      if (!percentDecode(c.input, plus, bad, out)) return std::nullopt;
      return out;
    };
    EXPECT_EQ(decode(PlusSign::kLiteral, BadEscape::kKeep), c.keepPlus);
    EXPECT_EQ(decode(PlusSign::kSpace, BadEscape::kKeep), c.keepSpace);
    EXPECT_EQ(urlDecode(c.input), c.keepSpace);
    EXPECT_EQ(decode(PlusSign::kLiteral, BadEscape::kReject), c.reject);
    EXPECT_EQ(decode(PlusSign::kSpace, BadEscape::kScan), c.scanSpace);
  }
}

TEST(TextCodecs, PercentEncodingEscapesWhatTheCallerNamesInUpperCase) {
  const std::string all = "a z&=%+#\x01\x7F\xE9~";
  EXPECT_EQ(urlEncode(all), "a%20z%26%3D%25%2B%23%01%7F%E9~");
  EXPECT_EQ(percentEncode(all, [](unsigned char c) { return c == '&' || c == '%' || c == '+'; }, PlusSign::kSpace),
            "a+z%26=%25%2B#\x01\x7F\xE9~");
  // Every byte comes back through the decoder that reads it.
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  EXPECT_EQ(urlDecode(urlEncode(bytes)), bytes);
  std::string strict;
  ASSERT_TRUE(percentDecode(percentEncode(bytes, [](unsigned char c) { return c == '%' || c < 0x21; }),
                            PlusSign::kLiteral, BadEscape::kReject, strict));
  EXPECT_EQ(strict, bytes);
}

TEST(TextCodecs, HtmlEscapeTurnsTheFiveMarkupCharactersIntoReferences) {
  EXPECT_EQ(htmlEscape("<a href=\"x\">Tom & Jerry's</a> é"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&#39;s&lt;/a&gt; é");
  EXPECT_EQ(htmlEscape("&amp;"), "&amp;amp;");  // escaped once more, never taken as escaped already
}

TEST(TextCodecs, HexRoundTripsAndRefusesWhatIsNotHex) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  const std::string hex = hexEncode(bytes);
  EXPECT_EQ(hex.substr(0, 8), "00010203");
  EXPECT_EQ(hex.substr(hex.size() - 4), "feff");
  std::string back;
  ASSERT_TRUE(hexDecode(hex, back));
  EXPECT_EQ(back, bytes);
  const uint8_t digest[] = {0xDE, 0xAD, 0x01};
  EXPECT_EQ(hexEncode(std::span<const uint8_t>(digest)), "dead01");

  struct Case {
    const char* hex;
    bool anyCase;
    bool lowerOnly;
  };
  const Case cases[] = {{"", true, true},     {"00ff", true, true}, {"00FF", true, false},
                        {"0", false, false},  {"0g", false, false}, {" 0", false, false},
                        {"fF", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    std::string out;
    EXPECT_EQ(hexDecode(c.hex, out), c.anyCase);
    EXPECT_EQ(hexDecode(c.hex, out, HexLetters::kLowerOnly), c.lowerOnly);
  }
}

}  // namespace
}  // namespace vantrel
