// SPDX-License-Identifier: MIT
#include "fileserver/http_header.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

constexpr std::time_t kSomeMonday = 1796636150;  // Mon, 07 Dec 2026 09:35:50 GMT

TEST(HttpHeader, BlockIsFourLinesByteForByte) {
  std::string out;
  ASSERT_EQ(buildHeader(out, 200, 206, 201, kSomeMonday), kHeaderOk);
  EXPECT_EQ(out,
            "HTTP/1.0 206 OK\r\n"
            "Date:Mon, 07 Dec 2026 09:35:50 GMT\r\n"
            "Server: Vantrel Windows Server 201\r\n"
            "MIME-verion: 1.0\r\n");
  EXPECT_EQ(out.size(), 107u);
  ASSERT_EQ(buildHeader(out, 200, 404, 201, kSomeMonday), kHeaderOk);
  EXPECT_EQ(out.substr(0, 17), "HTTP/1.0 404 OK\r\n");
}

TEST(HttpHeader, BlockThatDoesNotFitLeavesTheBufferAlone) {
  std::string out = "untouched";
  EXPECT_EQ(buildHeader(out, 107, 200, 201, kSomeMonday), kHeaderTooLong);
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(buildHeader(out, 108, 200, 201, kSomeMonday), kHeaderOk);
}

TEST(HttpHeader, DatesAreEnglishGmt) {
  std::string date;
  ASSERT_EQ(formatHttpDate(date, 100, 0), kHeaderOk);
  EXPECT_EQ(date, "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(formatHttpDate(date, 29, 0), kHeaderDateTooLong);
  EXPECT_EQ(formatLastModified(kSomeMonday), "Mon, 07 Dec 2026 09:35:50 GMT");
}

TEST(HttpHeader, ContentTypeGoesByTheLastExtension) {
  struct Case {
    const char* name;
    const char* type;
  };
  const Case cases[] = {
      {"photo.Jpeg", "image/jpeg"},  {"a.jpg", "image/jpeg"},        {"notes.txt", "text/text"},
      {"index.HTM", "text/html"},    {"page.html", "text/html"},     {"clip.mpg", "video/mpeg"},
      {"clip.mpeg", "video/mpeg"},   {"setup.exe", "file/executable"}, {"pic.bmp", "image/x-xbitmap"},
      {"a.gif", "image/gif"},        {"a.zip", "application/zip"},   {"a.doc", "application/msword"},
      {"a.au", "audio/au"},          {"a.wav", "audio/wav"},         {"a.avi", "video/avi"},
      {"vantrel.css", "text/css"},
      {"pack.tar.gz", "application/octet-stream"}, {"README", "application/octet-stream"},
      {"trailing.", "application/octet-stream"},   {"a.htmlx", "application/octet-stream"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(contentTypeFor(c.name), c.type);
  }
}

}  // namespace
}  // namespace vantrel
