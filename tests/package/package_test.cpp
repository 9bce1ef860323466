// SPDX-License-Identifier: MIT
// The Debian package as a user gets it: built by CPack from the programs of
// this build folder, unpacked into a scratch root (no root rights, nothing on
// the machine changes), checked with the desktop's own validators, and run:
// the installed vantreld logs in to the installed vantrel-server with the
// packaged pages, and the installed launcher applies a signed update, refuses
// an unsigned one and starts the client. Removing the scratch root removes
// the package; the programs wrote nothing into it, so only the user's data
// (home and settings, outside it) is left.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/update/update_signature.h"
#include "platform/registry_hive.h"
#include "settings/settings_store.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using e2e::Program;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void writeAll(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Runs a command to its end (bounded) and returns its status; output in `out`.
int run(std::vector<std::string> args, std::string& out, std::vector<std::string> env = {},
        std::chrono::milliseconds limit = 60s) {
  Program program(std::move(args), std::move(env));
  const int status = program.wait(limit);
  out = program.output();
  return status;
}

std::set<std::string> treeOf(const fs::path& root) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) paths.insert(fs::relative(entry.path(), root));
  return paths;
}

class PackageTest : public ::testing::Test {
 protected:
  // One package for every test of this program: cpack is the slow part.
  static void SetUpTestSuite() {
    scratch = new vantrel::testing::TempFolder();
    std::string out;
    const fs::path packages = scratch->path() / "packages";
    ASSERT_EQ(run({VANTREL_CPACK, "-G", "DEB", "--config", VANTREL_CPACK_CONFIG, "-B", packages.string()}, out), 0)
        << out;
    for (const auto& entry : fs::directory_iterator(packages)) {
      if (entry.path().extension() == ".deb") deb = entry.path();
    }
    ASSERT_FALSE(deb.empty()) << out;
    root = scratch->path() / "root";
    ASSERT_EQ(run({VANTREL_DPKG_DEB, "-x", deb.string(), root.string()}, out), 0) << out;
  }
  static void TearDownTestSuite() {
    delete scratch;
    scratch = nullptr;
  }
  void SetUp() override {
    if (deb.empty() || !fs::exists(root)) GTEST_SKIP() << "no package";
  }
  // The environment of a user whose settings and data live in this test's folder.
  std::vector<std::string> userEnv() const {
    return {"VANTREL_CONFIG_DIR=" + (user.path() / "config").string(), "VANTREL_HOME=" + (user.path() / "home").string(),
            "XDG_RUNTIME_DIR=" + user.path().string(), "XDG_CONFIG_HOME=" + (user.path() / "xdg").string(),
            "XDG_DATA_HOME=" + (user.path() / "data").string()};
  }

  static vantrel::testing::TempFolder* scratch;
  static fs::path deb, root;
  vantrel::testing::TempFolder user;
};

vantrel::testing::TempFolder* PackageTest::scratch = nullptr;
fs::path PackageTest::deb;
fs::path PackageTest::root;

TEST_F(PackageTest, HoldsEveryFileWhereTheProgramsAndTheDesktopFindThem) {
  for (const char* path :
       {"usr/bin/vantrel", "usr/bin/vantrel-client", "usr/bin/vantreld", "usr/bin/vantrel-server", "usr/bin/vantrel-pack",
        "usr/share/vantrel/filedata.dat", "usr/share/applications/vantrel.desktop",
        "usr/share/icons/hicolor/scalable/apps/vantrel.svg", "usr/share/metainfo/org.vantrel.FileManager.metainfo.xml",
        "usr/share/man/man1/vantreld.1.gz", "usr/share/man/man1/vantrel-server.1.gz",
        "usr/share/man/man1/vantrel-pack.1.gz", "usr/lib/systemd/user/vantreld.service",
        "usr/lib/systemd/system/vantrel-server.service", "usr/share/doc/vantrel/README.md"}) {
    EXPECT_TRUE(fs::is_regular_file(root / path)) << path;
  }
  // The units name the programs where the package puts them.
  EXPECT_NE(readAll(root / "usr/lib/systemd/user/vantreld.service").find("ExecStart=/usr/bin/vantreld\n"),
            std::string::npos);
  EXPECT_NE(readAll(root / "usr/lib/systemd/system/vantrel-server.service").find("ExecStart=/usr/bin/vantrel-server "),
            std::string::npos);
  // The desktop entry starts the launcher.
  EXPECT_NE(readAll(root / "usr/share/applications/vantrel.desktop").find("\nExec=vantrel\n"), std::string::npos);
  // Nothing of the build (tests, benchmarks, the signing tool) is in the package.
  for (const auto& entry : fs::directory_iterator(root / "usr/bin")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "vantrel" || name == "vantrel-client" || name == "vantreld" || name == "vantrel-server" ||
                name == "vantrel-pack")
        << name;
  }

  std::string depends;
  ASSERT_EQ(run({VANTREL_DPKG_DEB, "-f", deb.string(), "Depends"}, depends), 0);
  for (const char* library : {"libssl3", "libsqlite3-0", "libstdc++6", "libc6"}) {
    EXPECT_NE(depends.find(library), std::string::npos) << depends;
  }
#ifndef VANTREL_TERMINAL_CLIENT
  // The window needs what it loads at run time too: its icons and display plugins.
  for (const char* package : {"libqt6widgets6", "libqt6svg6", "qt6-qpa-plugins"}) {
    EXPECT_NE(depends.find(package), std::string::npos) << depends;
  }
#endif
}

TEST_F(PackageTest, DesktopEntryAndMetainfoPassTheDesktopsValidators) {
  std::string out;
  EXPECT_EQ(run({VANTREL_DESKTOP_FILE_VALIDATE, (root / "usr/share/applications/vantrel.desktop").string()}, out), 0)
      << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(run({VANTREL_APPSTREAMCLI, "validate", "--no-net",
                 (root / "usr/share/metainfo/org.vantrel.FileManager.metainfo.xml").string()},
                out),
            0)
      << out;
}

TEST_F(PackageTest, InstalledVantreldLogsInToTheInstalledServerWithThePackagedPages) {
  const std::set<std::string> before = treeOf(root);
  Program server({(root / "usr/bin/vantrel-server").string(), "--db", (user.path() / "server.db").string(), "--listen",
                  "127.0.0.1:0", "--udp-port", "0", "--add-user", "alice:secret"},
                 {});
  ASSERT_TRUE(server.printed("UDP port")) << server.output();
  const std::string line = server.output();
  const int port = std::stoi(line.substr(line.find("127.0.0.1:") + 10));
  writeAll(user.path() / "password", "secret\n");
  // The home holds no pages: the client must find the packaged ones.
  Program client({(root / "usr/bin/vantreld").string(), "--user", "alice", "--password-file",
                  (user.path() / "password").string(), "--server", "127.0.0.1:" + std::to_string(port), "--port", "0",
                  "--udp-port", "0"},
                 userEnv());
  ASSERT_TRUE(client.printed("logged in as alice", 20s)) << client.output();
  EXPECT_EQ(client.output().find("Could not load packed filedata.dat"), std::string::npos) << client.output();
  client.signal(SIGTERM);
  EXPECT_EQ(client.wait(), 0) << client.output();
  server.signal(SIGTERM);
  EXPECT_EQ(server.wait(), 0);
  // Only the user's data was written, outside the installed files.
  EXPECT_EQ(treeOf(root), before);
  EXPECT_TRUE(fs::exists(user.path() / "home" / "log.txt"));
  EXPECT_TRUE(fs::exists(user.path() / "config"));
}

#ifdef VANTREL_UPDATE_PRIVATE_KEY
// The launcher of the package checks updates against the key this build
// folder signs with. The client it starts ends at once: the terminal one has
// no stored login to use; a windowed one is replaced by a stand-in here.
TEST_F(PackageTest, InstalledLauncherAppliesASignedUpdateAndRefusesAnUnsignedOne) {
  // A copy of the installed tree: this test changes the programs.
  const fs::path bin = user.path() / "usr/bin";
  fs::create_directories(user.path() / "usr");
  fs::copy(root / "usr", user.path() / "usr", fs::copy_options::recursive);
#ifndef VANTREL_TERMINAL_CLIENT
  writeAll(bin / "vantrel-client", "#!/bin/sh\necho \"client started with $*\"\nexit 3\n");
  fs::permissions(bin / "vantrel-client", fs::perms::owner_all);
#endif
  auto pendingUpdate = [&](bool signedUpdate) {
    fs::create_directories(bin / "update");
    writeAll(bin / "update" / "vantrel-next.bin", "the next version\n");
    if (signedUpdate) {
      std::size_t count = 0;
      std::string error;
      ASSERT_TRUE(signUpdateFolder(bin / "update", VANTREL_UPDATE_PRIVATE_KEY, count, error)) << error;
    }
    RegistryHive hive((user.path() / "config").string());
    SettingsStore settings(hive);
    settings.SetSettingNumber(Launcher::kUpdateSetting, 1);
  };

  pendingUpdate(false);
  std::string out;
  run({(bin / "vantrel").string()}, out, userEnv());
  EXPECT_NE(out.find("was not installed: it is not signed"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(bin / "vantrel-next.bin"));
  EXPECT_FALSE(fs::exists(bin / "update"));
#ifdef VANTREL_TERMINAL_CLIENT
  // The client started and told the user, then ended for want of a login.
  EXPECT_NE(out.find("[Error] " + Launcher::refusedText("it is not signed (the file update.sig is missing)")),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("no stored user name and password"), std::string::npos) << out;
#endif

  pendingUpdate(true);
  EXPECT_EQ(run({(bin / "vantrel").string()}, out, userEnv()), 3) << out;
  EXPECT_NE(out.find("installed the update (1 files)"), std::string::npos) << out;
  EXPECT_EQ(readAll(bin / "vantrel-next.bin"), "the next version\n");
  EXPECT_FALSE(fs::exists(bin / "update"));
  RegistryHive hive((user.path() / "config").string());
  SettingsStore settings(hive);
  EXPECT_EQ(settings.GetSettingNumber(Launcher::kUpdateSetting), 0);
}
#endif

}  // namespace
}  // namespace vantrel
