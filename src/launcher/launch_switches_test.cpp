// SPDX-License-Identifier: MIT
#include "launcher/launch_switches.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(CommandLineTest, SwitchesAndSettingsRoot) {
  struct Case {
    const char* name;
    std::string line;
    bool start, installed, uninstall;
    std::string root;
  };
  const Case cases[] = {
      {"empty", "", false, false, false, ""},
      {"start", "/start", true, false, false, ""},
      {"any order", "/installed /start", true, true, false, ""},
      {"uninstall", "/start /uninstall", true, false, true, ""},
      {"case matters", "/START /Uninstall", false, false, false, ""},
      {"reg", "/start /reg 'Test'", true, false, false, "Test"},
      {"reg with spaces", "/reg 'My Root' /start", true, false, false, "My Root"},
      {"reg without quotes", "/reg Test /start", true, false, false, ""},
      {"reg unclosed", "/reg 'Test", false, false, false, ""},
      {"reg empty", "/reg ''", false, false, false, ""},
      {"reg reaching into another key", "/reg 'a\\b'", false, false, false, ""},
      {"reg too long", "/reg '" + std::string(150, 'x') + "'", false, false, false, std::string(99, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandLine got = parseCommandLine(c.line);
    EXPECT_EQ(got.start, c.start);
    EXPECT_EQ(got.installed, c.installed);
    EXPECT_EQ(got.uninstall, c.uninstall);
    EXPECT_EQ(got.rootName, c.root);
  }
}

}  // namespace
}  // namespace vantrel
