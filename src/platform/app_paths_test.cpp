// SPDX-License-Identifier: MIT
#include "platform/app_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "platform/testing/env_override.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using std::nullopt;
using Env = std::optional<std::string>;

bool isDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(AppPaths, ConfigDirectoryFollowsOverrideThenXdgThenHome) {
  struct Case {
    const char* name;
    Env override, xdg, home;
    std::string want;
  };
  const Case cases[] = {
      {"override wins", "/etc/vt", "/x", "/h", "/etc/vt/"},
      {"override keeps its slash", "/etc/vt/", "/x", "/h", "/etc/vt/"},
      {"empty override is unset", "", "/x", "/h", "/x/vantrel/"},
      {"xdg", nullopt, "/x/", "/h", "/x/vantrel/"},
      {"relative xdg is ignored", nullopt, "rel/dir", "/h", "/h/.config/vantrel/"},
      {"home", nullopt, nullopt, "/h", "/h/.config/vantrel/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::EnvOverride env;
    env.set("VANTREL_CONFIG_DIR", c.override);
    env.set("XDG_CONFIG_HOME", c.xdg);
    env.set("HOME", c.home);
    EXPECT_EQ(configDirectory(), c.want);
  }
}

TEST(AppPaths, ClientHomeFollowsCommandLineThenEnvironmentAndIsCreated) {
  testing::TempFolder dir;
  struct Case {
    const char* name;
    std::string commandLine;
    Env vantrelHome, xdgData;
    std::string want;
  };
  const Case cases[] = {
      {"command line", dir.file("cli"), dir.file("env"), dir.file("xdg"), dir.file("cli") + "/"},
      {"environment", "", dir.file("env") + "/", dir.file("xdg"), dir.file("env") + "/"},
      {"xdg data", "", nullopt, dir.file("xdg/a/b"), dir.file("xdg/a/b") + "/vantrel/"},
      {"home", "", nullopt, nullopt, dir.file("home") + "/.local/share/vantrel/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::EnvOverride env;
    env.set("VANTREL_HOME", c.vantrelHome);
    env.set("XDG_DATA_HOME", c.xdgData);
    env.set("HOME", dir.file("home"));
    EXPECT_EQ(clientHomeDirectory(c.commandLine), c.want);
    EXPECT_TRUE(isDir(c.want));
  }
}

TEST(AppPaths, ClientHomeThatCannotBeCreatedIsEmpty) {
  testing::TempFolder dir;
  { FILE* f = std::fopen(dir.file("file").c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
  EXPECT_EQ(clientHomeDirectory(dir.file("file") + "/sub"), "");
  EXPECT_FALSE(makeDirectories(dir.file("file")));
  EXPECT_FALSE(makeDirectories(""));
}

TEST(AppPaths, ProgramPathIsThisTestBinary) {
  std::string path = programPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_NE(path.find("platform_tests"), std::string::npos) << path;
  EXPECT_EQ(programDirectory() + "platform_tests", path);
}

TEST(AppPaths, DirectoryOfIsTheTextUpToTheLastSlash) {
  EXPECT_EQ(directoryOf("/a/b/c.txt"), "/a/b/");
  EXPECT_EQ(directoryOf("/c.txt"), "/");
  EXPECT_EQ(directoryOf("c.txt"), "");
  EXPECT_EQ(directoryOf("/a/b/"), "/a/b/");
}

TEST(AppPaths, SharedDataIsFoundBesideTheProgramsFolderElseAtThePrefix) {
  testing::TempFolder dir;
  ASSERT_TRUE(makeDirectories(dir.file("usr/bin")));
  ASSERT_TRUE(makeDirectories(dir.file("usr/share/vantrel")));
  ASSERT_TRUE(makeDirectories(dir.file("build/src/headless")));
  // An unpacked install finds its own data whatever prefix it was built for.
  EXPECT_EQ(sharedDataDirectory(dir.file("usr/bin/"), "/usr/local/share/vantrel/"), dir.file("usr/share/vantrel/"));
  EXPECT_EQ(sharedDataDirectory(dir.file("usr/bin"), "/x/"), dir.file("usr/share/vantrel/"));
  EXPECT_EQ(sharedDataDirectory(dir.file("build/src/headless/"), "/usr/local/share/vantrel/"),
            "/usr/local/share/vantrel/");
  EXPECT_EQ(sharedDataDirectory("", "/usr/share/vantrel/"), "/usr/share/vantrel/");
}

}  // namespace
}  // namespace vantrel
