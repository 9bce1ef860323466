// SPDX-License-Identifier: MIT
#include "transfers/download_list.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vantrel {
namespace {

TEST(DownloadListTest, AwkwardNamesAndLinksComeBackAsTheyWent) {
  const std::vector<SavedDownload> list = {
      {DownloadState::Downloading, DownloadReason::None, 17, 4, 3000000, 120000,
       "http://127.0.0.1:8323/getfile/?fileid=17&username=bob&@token=ab+/=", "/home/bob/Zoë & Co #1+ live 100%.bin"},
      {DownloadState::Error, DownloadReason::SharerOffline, 0, 0, -1, 0, "", "/tmp/line\nbreak\tand\x7f.txt"},
      {DownloadState::Stopped, DownloadReason::None, 2147483647, -5, 5'000'000'000, 4'000'000'000, "x", "/a b"},
  };
  const std::string text = encodeDownloadList(list);
  EXPECT_EQ(text.rfind("vantrel downloads 1\n", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);  // the header and one line each
  std::vector<SavedDownload> back;
  ASSERT_TRUE(decodeDownloadList(text, back));
  EXPECT_EQ(back, list);
}

TEST(DownloadListTest, LinesThatDoNotReadAreSkippedAndOthersKept) {
  const std::string good = "2 0 1 2 10 5 http://h/x /tmp/good\n";
  const struct {
    const char* name;
    std::string line;
  } cases[] = {
      {"too few fields", "2 0 1 2 10 5 /tmp/x\n"},
      {"too many fields", "2 0 1 2 10 5 u /tmp/x extra\n"},
      {"state out of range", "6 0 1 2 10 5 u /tmp/x\n"},
      {"reason out of range", "2 11 1 2 10 5 u /tmp/x\n"},
      {"negative byte count", "2 0 1 2 10 -5 u /tmp/x\n"},
      {"number with junk", "2 0 1x 2 10 5 u /tmp/x\n"},
      {"broken escape", "2 0 1 2 10 5 u /tmp/%G1\n"},
      {"escape cut at the end", "2 0 1 2 10 5 u /tmp/%4\n"},
      {"empty path", "2 0 1 2 10 5 u \n"},
      {"double space", "2 0 1 2 10 5  u /tmp/x\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<SavedDownload> out;
    ASSERT_TRUE(decodeDownloadList("vantrel downloads 1\n" + c.line + good, out));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].localPath, "/tmp/good");
  }
}

TEST(DownloadListTest, AnotherFileIsNotAList) {
  std::vector<SavedDownload> out;
  EXPECT_FALSE(decodeDownloadList("", out));
  EXPECT_FALSE(decodeDownloadList("vantrel downloads 2\n2 0 1 2 10 5 u /tmp/x\n", out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(decodeDownloadList("vantrel downloads 1", out));  // an empty list
}

}  // namespace
}  // namespace vantrel
