// SPDX-License-Identifier: MIT
#include "protocol/contest_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using vantrel::testing::TempFolder;

std::string readAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ContestTable, MilestonesAwardOnePerKindPerTransfer) {
  struct Transfer { int kb, files; };
  struct Case {
    const char* name;
    std::vector<Transfer> transfers;
    int points, nextKb, nextFiles;
  };
  const Case cases[] = {
      {"first 600 kB file", {{600, 1}}, 2, 1000, 2},
      {"5000 kB passes only the first milestone", {{5000, 1}}, 2, 1000, 2},
      {"the next transfer passes the next ones", {{5000, 1}, {1, 1}}, 6, 2000, 5},
      {"stopped early: kilobytes, no file", {{600, 0}}, 1, 1000, 1},
      {"first complete file after a stop", {{600, 0}, {10, 1}}, 2, 1000, 2},
      {"below 500 kB", {{499, 0}}, 0, 500, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ContestTable table;
    for (const Transfer& t : c.transfers) table.AwardTransfer(t.kb, t.files, "10.0.0.9");
    const CContestEntry e = table.entry("10.0.0.9");
    EXPECT_EQ(e.points, c.points);
    EXPECT_EQ(table.ContestTotal(), c.points);
    EXPECT_EQ(e.nextKilobytesMilestone, c.nextKb);
    EXPECT_EQ(e.nextFilesMilestone, c.nextFiles);
  }
}

TEST(ContestTable, MilestoneTablesEndWithNothingMore) {
  EXPECT_EQ(kilobytesMilestone(500000).award, 10);
  EXPECT_EQ(kilobytesMilestone(1000000).award, 0);
  EXPECT_EQ(kilobytesMilestone(1000000).next, 2000000);
  EXPECT_EQ(filesMilestone(50).award, 6);
  EXPECT_EQ(filesMilestone(100).award, 0);
  EXPECT_EQ(filesMilestone(100).next, 200);
  EXPECT_GT(kilobytesMilestone(2000000000).next, 0);  // never wraps
}

TEST(ContestTable, OwnAddressEarnsNothing) {
  ContestTable table;
  table.setLocalAddress("192.168.1.5");
  table.AwardTransfer(600, 1, "192.168.1.5");
  EXPECT_EQ(table.ContestTotal(), 0);
}

TEST(ContestTable, FileHoldsTheMapInTheArchiveEncoding) {
  TempFolder dir;
  ContestTable table;
  table.AwardTransfer(600, 1, "1.2.3.4");
  const auto file = ContestTable::contestFile(dir.path(), "bob");
  EXPECT_EQ(file.filename(), "bobextra.dat");
  ASSERT_TRUE(table.SaveContest(file));
  const std::string want = std::string("\x01\x00", 2) + "\x07" "1.2.3.4" + std::string("\xFF\xFF\x01\x00\x0D\x00", 6) +
                           "CContestEntry" +
                           std::string("\x01\x00\x00\x00" "\x58\x02\x00\x00" "\xE8\x03\x00\x00" "\x02\x00\x00\x00"
                                       "\x02\x00\x00\x00", 20);
  EXPECT_EQ(readAll(file), want);

  ContestTable loaded;
  loaded.AwardTransfer(100, 0, "5.6.7.8");
  ASSERT_TRUE(loaded.LoadContest(file));
  EXPECT_EQ(loaded.entry("1.2.3.4").points, 2);
  EXPECT_EQ(loaded.entry("5.6.7.8").kilobytes, 100);
  EXPECT_EQ(loaded.ContestTotal(), 2);
}

TEST(ContestTable, MissingOrBrokenFileLeavesTheTable) {
  TempFolder dir;
  ContestTable table;
  table.AwardTransfer(600, 1, "1.2.3.4");
  EXPECT_FALSE(table.LoadContest(dir.path() / "none.dat"));
  const auto broken = dir.path() / "broken.dat";
  std::ofstream(broken, std::ios::binary) << std::string("\x05\x00\x03" "abc\xFF", 7);
  EXPECT_FALSE(table.LoadContest(broken));
  EXPECT_EQ(table.ContestTotal(), 2);
  EXPECT_EQ(table.entry("1.2.3.4").kilobytes, 600);
}

}  // namespace
}  // namespace vantrel
