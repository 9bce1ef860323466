// SPDX-License-Identifier: MIT
#include "server/http/form_fields.h"

#include <gtest/gtest.h>

#include "server/store/names.h"

namespace vantrel::server {
namespace {

TEST(FormFieldsTest, RawReadingKeepsBase64AndNamesAsTheClientWroteThem) {
  const FormFields f("action=login&s=ab+/cd==&&verify=x%41&empty=&flag", FormFields::Decoding::kRaw);
  EXPECT_EQ(f.first("s"), "ab+/cd==");
  EXPECT_EQ(f.first("verify"), "x%41");
  EXPECT_EQ(f.find("empty"), "");
  EXPECT_EQ(f.find("flag"), "");
  EXPECT_FALSE(f.find("missing").has_value());
  EXPECT_EQ(f.fields().size(), 5u);
}

TEST(FormFieldsTest, UrlReadingDecodesAndKeepsRepeatedNamesInOrder) {
  const FormFields f("q=blue+train%21&id=1&id=2&bad=%zz%4", FormFields::Decoding::kUrl);
  EXPECT_EQ(f.first("q"), "blue train!");
  EXPECT_EQ(f.all("id"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(f.first("bad"), "%zz%4");
}

TEST(FormFieldsTest, NumbersMustBeWholeDecimals) {
  struct Case {
    const char* text;
    std::optional<int64_t> want;
  };
  const Case cases[] = {{"42", 42}, {"-7", -7}, {"0", 0}, {"", std::nullopt}, {"4x", std::nullopt},
                        {" 4", std::nullopt}, {"99999999999999999999", std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseNumber(c.text), c.want);
  }
}

TEST(FormFieldsTest, ReplyValuesComeBackUnchangedThroughTheClientsDecoding) {
  for (const std::string v : {"Rock and Roll=fun+50%.mp3", "a&b", "http://h:1/getfile/?fileid=1&@token=ab+/=", " x "}) {
    SCOPED_TRACE(v);
    const std::string encoded = replyValueEncode(v);
    EXPECT_EQ(encoded.find_first_of("&= +"), std::string::npos);
    EXPECT_EQ(urlDecode(encoded), v);
  }
}

// What the client's requestValue writes comes back byte for byte; a "+" is a
// "+" (names hold them), and a "%" without two hex digits stays.
TEST(FormFieldsTest, PercentReadingTakesBackWhatTheClientEncoded) {
  const FormFields f("action=add_file&filename=Rock %26 Roll %2B a%3Db 100%25 \"\xC3\xA9\" #1.mp3&odd=50%&b64=ab+/cd",
                     FormFields::Decoding::kPercent);
  EXPECT_EQ(f.first("filename"), "Rock & Roll + a=b 100% \"\xC3\xA9\" #1.mp3");
  EXPECT_EQ(f.first("odd"), "50%");
  EXPECT_EQ(f.first("b64"), "ab+/cd");
  EXPECT_EQ(f.fields().size(), 4u);
}

TEST(FormFieldsTest, CleanNamesKeepAmpersandsButNoControlCharacters) {
  EXPECT_EQ(cleanName("  Tom & Jerry\r\n.avi "), "Tom & Jerry.avi");
  EXPECT_EQ(cleanName("   "), "");
  EXPECT_EQ(cleanName(std::string(200, 'a')).size(), 128u);
  EXPECT_EQ(htmlEscape("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
}

}  // namespace
}  // namespace vantrel::server
