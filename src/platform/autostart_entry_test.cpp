// SPDX-License-Identifier: MIT
#include "platform/autostart_entry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(AutostartEntry, WriteCreatesTheFolderThenRemoveLeavesNothing) {
  testing::TempFolder dir;
  AutostartEntry entry(dir.file("config/autostart"), "/opt/vantrel/bin/vantrel");
  EXPECT_EQ(entry.filePath(), dir.file("config/autostart/VantrelClient.desktop"));
  EXPECT_EQ(entry.state(), AutostartEntry::State::Absent);
  ASSERT_EQ(entry.write(), AutostartEntry::kOk);
  EXPECT_EQ(entry.state(), AutostartEntry::State::Present);
  EXPECT_NE(slurp(entry.filePath()).find("\nExec=\"/opt/vantrel/bin/vantrel\"\n"), std::string::npos);
  // Writing again replaces the entry in place.
  ASSERT_EQ(entry.write(), AutostartEntry::kOk);
  ASSERT_EQ(entry.remove(), AutostartEntry::kOk);
  EXPECT_EQ(entry.state(), AutostartEntry::State::Absent);
  EXPECT_EQ(entry.remove(), AutostartEntry::kOk) << "removing what is not there is not a failure";
}

TEST(AutostartEntry, ExecQuotesEveryCharacterTheDesktopReadsSpecially) {
  struct Case {
    const char* launcher;
    const char* exec;
  };
  const Case cases[] = {
      {"/home/a b/vantrel", "Exec=\"/home/a b/vantrel\"\n"},
      {"/x/$HOME`id`/vantrel", "Exec=\"/x/\\\\$HOME\\\\`id\\\\`/vantrel\"\n"},
      {"/x/\"q\"/vantrel", "Exec=\"/x/\\\\\"q\\\\\"/vantrel\"\n"},
      {"/x/back\\slash/vantrel", "Exec=\"/x/back\\\\\\\\slash/vantrel\"\n"},
      {"/x/100%/vantrel", "Exec=\"/x/100%%/vantrel\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.launcher);
    std::string text = AutostartEntry::desktopFileText(c.launcher);
    EXPECT_NE(text.find(c.exec), std::string::npos) << text;
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  }
  EXPECT_EQ(AutostartEntry::desktopFileText(""), "");
  EXPECT_EQ(AutostartEntry::desktopFileText("/x/new\nline"), "") << "a line break would inject keys";
}

TEST(AutostartEntry, AnEntryWithoutLauncherIsNotWritten) {
  testing::TempFolder dir;
  AutostartEntry entry(dir.path(), "/bad\npath");
  EXPECT_EQ(entry.write(), AutostartEntry::kNoLauncherPath);
  EXPECT_EQ(entry.state(), AutostartEntry::State::Absent);
}

TEST(AutostartEntry, DisabledEntriesCountAsAbsent) {
  struct Case {
    const char* text;
    bool disabled;
  };
  const Case cases[] = {
      {"[Desktop Entry]\nExec=x\n", false},
      {"[Desktop Entry]\nHidden=true\n", true},
      {"[Desktop Entry]\r\nHidden = true\r\n", true},
      {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", true},
      {"[Desktop Entry]\nHidden=false\n", false},
      {"[Other Group]\nHidden=true\n", false},
      {"# Hidden=true\n[Desktop Entry]\n", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(AutostartEntry::isDisabled(c.text), c.disabled);
  }
  testing::TempFolder dir;
  AutostartEntry entry(dir.path(), "/opt/vantrel");
  std::ofstream(entry.filePath()) << "[Desktop Entry]\nHidden=true\n";
  EXPECT_EQ(entry.state(), AutostartEntry::State::Absent);
}

TEST(AutostartEntry, AFolderThatCannotBeReadIsUnknownAndCannotBeWritten) {
  testing::TempFolder dir;
  std::ofstream(dir.file("notafolder")) << "x";
  AutostartEntry entry(dir.file("notafolder"), "/opt/vantrel");
  EXPECT_EQ(entry.state(), AutostartEntry::State::Unknown);
  EXPECT_EQ(entry.write(), AutostartEntry::kWriteFailed);
  EXPECT_EQ(entry.remove(), AutostartEntry::kRemoveFailed);
}

}  // namespace
}  // namespace vantrel
