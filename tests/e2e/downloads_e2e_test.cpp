// SPDX-License-Identifier: MIT
// Downloads with vantreld as a script or a server runs it, against the real
// reference server and a sharer on loopback: alice shares from a client in
// this process into a group whose files anyone may download and into one
// whose files only members may; bob runs vantreld. --search finds her file,
// --download fetches it (and says why the members-only one cannot come),
// a vantreld killed with SIGKILL mid-download leaves only "NAME.part" and
// finishes it when started again, and a full or read-only folder is named
// as such.

#include <signal.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <thread>
#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/client_app.h"
#include "catalogue/sync/share_run.h"
#include "net/client_request.h"
#include "platform/registry_hive.h"
#include "platform/testing/env_override.h"
#include "protocol/catalogue_requests.h"
#include "settings/settings_store.h"
#include "tests/e2e/client_fixture.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/reserved_port.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using e2e::Program;
using e2e::waitFor;

constexpr int32_t kLounge = 7;        // the demo catalogue's group that anyone may download from
constexpr int32_t kReadingRoom = 13;  // members download only

std::string randomBytes(std::size_t n) {
  std::mt19937 random(7);
  std::string bytes(n, '\0');
  for (auto& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// A small file system of its own for a folder, taken away whatever happens.
class SmallMount {
 public:
  SmallMount(const fs::path& at, const std::string& options) : m_at(at) {
    fs::create_directories(at);
    m_mounted = ::mount("tmpfs", at.c_str(), "tmpfs", options.find("ro") == 0 ? MS_RDONLY : 0,
                        options.c_str()) == 0;
  }
  ~SmallMount() {
    if (m_mounted) ::umount2(m_at.c_str(), MNT_DETACH);
  }
  bool mounted() const { return m_mounted; }

 private:
  fs::path m_at;
  bool m_mounted = false;
};

class DownloadsE2eTest : public e2e::ClientE2eTest {
 protected:
  void SetUp() override {
    startServer({"--demo-catalogue", "--add-user", "alice:secret", "--add-user", "bob:hunter22"});
    if (HasFatalFailure()) return;
    // Alice's file server is on a port known at her login, which tells the
    // catalogue where her files are.
    writeSettings(alicePort.port(), [](SettingsStore& settings) {
      // Uploads that take a few seconds, so that one can be cut.
      settings.SetSettingNumber("maxusrband", 600000);
      settings.SetSettingNumber("maxband", 600000);
    });
    {
      // Bob's connections leave from 127.0.0.2: to Alice another computer,
      // whose downloads her limits pace (this computer's own are not).
      RegistryHive hive((dir.path() / "bobconfig").string());
      SettingsStore settings(hive, "Vantrel");
      settings.EnsureDefaults();
      settings.SetSettingText(kSourceAddressSetting, "127.0.0.2");
    }
    AppOptions options = clientOptions("alice-home");
    clientOptions("bob-home");
    fs::create_directories(dir.path() / "shared");
    std::ofstream(dir.path() / "bob-password") << "hunter22\n";

    aliceUi.pressLogin = true;
    aliceUi.user = "alice";
    aliceUi.password = "secret";
    alice = std::make_unique<ClientApp>(aliceUi, options);
    ASSERT_TRUE(alice->InitialiseWithoutLauncher());
    ASSERT_TRUE(alice->LoginPhase());
    ASSERT_TRUE(alice->state().Connected()) << alice->lastLoginCode();

    content = randomBytes(3'000'000);
    std::ofstream(dir.path() / "shared" / kName, std::ios::binary) << content;
    std::ofstream(dir.path() / "shared" / kMembersName) << "members only\n";
    ASSERT_EQ(JoinGroup(alice->protocol(), kLounge, "", ""), 500);
    ASSERT_EQ(JoinGroup(alice->protocol(), kReadingRoom, "", ""), 500);
    ShareRun share(alice->protocol(), *alice->core().sharedFiles());
    ASSERT_EQ(share.ShareLocalPaths({(dir.path() / "shared" / kName).string()},
                                    ShareDestination{kLounge, "Open Music Lounge", kLounge, ""}),
              0);
    ASSERT_EQ(share.ShareLocalPaths({(dir.path() / "shared" / kMembersName).string()},
                                    ShareDestination{kReadingRoom, "Reading Room", kReadingRoom, ""}),
              0);
    for (const CVantreldFile& file : alice->core().sharedFiles()->snapshot()) {
      (file.fileName == kName ? fileId : membersFileId) = file.fileId;
    }
    ASSERT_NE(fileId, 0);
    ASSERT_NE(membersFileId, 0);
  }
  void TearDown() override {
    if (alice) alice->ForcedExit();
  }

  std::unique_ptr<Program> bob(std::vector<std::string> extra) {
    // A login's salt comes from the clock in whole seconds, and the server
    // refuses one it has seen as a replay: a second start waits for the next.
    if (m_bobStarted) std::this_thread::sleep_until(*m_bobStarted + 1100ms);
    m_bobStarted = std::chrono::steady_clock::now();
    std::vector<std::string> args = {VANTRELD_BIN, "--home", (dir.path() / "bob-home").string(), "--user", "bob",
                                     "--password-file", (dir.path() / "bob-password").string(), "--server",
                                     "127.0.0.1:" + std::to_string(server.httpPort), "--port", "0", "--udp-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<Program>(
        args, std::vector<std::string>{"VANTREL_CONFIG_DIR=" + (dir.path() / "bobconfig").string(),
                                       "XDG_RUNTIME_DIR=" + dir.path().string(),
                                       "XDG_CONFIG_HOME=" + (dir.path() / "bobxdg").string()});
  }

  static constexpr const char* kName = "Zoë & Co #1+ live.bin";
  static constexpr const char* kMembersName = "members only.pdf";
  vantrel::testing::ReservedPort alicePort;
  app_testing::RecordingUi aliceUi;
  std::unique_ptr<ClientApp> alice;
  std::string content;
  int32_t fileId = 0;
  int32_t membersFileId = 0;
  std::optional<std::chrono::steady_clock::time_point> m_bobStarted;
};

TEST_F(DownloadsE2eTest, SearchFindsTheFileAndDownloadSaysDoneOrWhyNot) {
  auto search = bob({"--search", "live"});
  EXPECT_EQ(search->wait(20s), 0) << search->output();
  EXPECT_NE(search->output().find(std::to_string(fileId) + "\t3000000\t" + kName + "\t" + std::to_string(kLounge) + "\n"),
            std::string::npos)
      << search->output();

  const fs::path to = dir.path() / "Bob's downloads #1";
  auto download = bob({"--download", std::to_string(fileId), "--download", std::to_string(membersFileId), "--to",
                       to.string(), "--exit-when-done"});
  EXPECT_EQ(download->wait(40s), 5) << download->output();  // not all of them completed
  const std::string& out = download->output();
  EXPECT_NE(out.find("done " + (to / kName).string() + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find(std::string("failed ") + kMembersName + ": members only: join the group\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find(std::string(kName) + ": "), std::string::npos) << out;  // progress lines
  EXPECT_TRUE(vantrel::testing::readWholeFile((to / kName).string()) == content);
  EXPECT_FALSE(fs::exists(to / (std::string(kName) + ".part")));
  EXPECT_FALSE(fs::exists(to / kMembersName));

  // A file ID the catalogue does not have. The downloads that ended in the
  // last run are not waited for again, nor do they decide the status.
  auto unknown = bob({"--download", "999999", "--to", to.string(), "--exit-when-done"});
  EXPECT_EQ(unknown->wait(20s), 5) << unknown->output();
  EXPECT_EQ(unknown->output().find(kMembersName), std::string::npos) << unknown->output();
  auto nothing = bob({"--exit-when-done"});
  EXPECT_EQ(nothing->wait(20s), 0) << nothing->output();
  EXPECT_NE(unknown->output().find("failed 999999: no such file in the catalogue"), std::string::npos)
      << unknown->output();
}

TEST_F(DownloadsE2eTest, AClientKilledMidDownloadLeavesAPartialFileAndFinishesItWhenStartedAgain) {
  const fs::path to = dir.path() / "into";
  const fs::path target = to / kName;
  const fs::path part = to / (std::string(kName) + ".part");
  {
    auto running = bob({"--download", std::to_string(fileId), "--to", to.string()});
    ASSERT_TRUE(waitFor([&] {
      std::error_code ec;
      return fs::file_size(part, ec) > 300'000 && !ec;
    }, 30s)) << running->output();
    running->signal(SIGKILL);
    EXPECT_EQ(running->wait(), -2);
  }
  const auto cut = fs::file_size(part);
  EXPECT_LT(cut, content.size());
  EXPECT_FALSE(fs::exists(target));  // never a short file under the real name
  EXPECT_TRUE(fs::exists(dir.path() / "bob-home" / "bobdownloads.dat"));

  // Started again with nothing to download: the saved list brings the download back.
  auto again = bob({"--exit-when-done"});
  EXPECT_EQ(again->wait(40s), 0) << again->output();
  EXPECT_NE(again->output().find("done " + target.string() + "\n"), std::string::npos) << again->output();
  EXPECT_TRUE(vantrel::testing::readWholeFile(target.string()) == content);
  EXPECT_FALSE(fs::exists(part));
  // The file server was asked for the rest only (its log names the range it sent).
  const std::string aliceLog = vantrel::testing::readWholeFile((dir.path() / "alice-home" / "log.txt").string());
  EXPECT_NE(aliceLog.find("Finished sending file"), std::string::npos);
}

TEST_F(DownloadsE2eTest, AFullDiskAndAReadOnlyFolderAreNamed) {
  const fs::path full = dir.path() / "small disk";
  const fs::path readOnly = dir.path() / "read only";
  SmallMount small(full, "size=1m");
  SmallMount locked(readOnly, "ro,size=1m");
  if (!small.mounted() || !locked.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);

  auto download = bob({"--download", std::to_string(fileId), "--to", full.string(), "--exit-when-done"});
  EXPECT_EQ(download->wait(40s), 5) << download->output();
  EXPECT_NE(download->output().find(std::string("failed ") + kName +
                                    ": the disk is full: free some space, then start it again\n"),
            std::string::npos)
      << download->output();
  EXPECT_FALSE(fs::exists(full / kName));
  EXPECT_TRUE(fs::exists(full / (std::string(kName) + ".part")));

  auto denied = bob({"--download", std::to_string(fileId), "--to", readOnly.string(), "--exit-when-done"});
  EXPECT_EQ(denied->wait(40s), 5) << denied->output();
  EXPECT_NE(denied->output().find(std::string("failed ") + kName + ": permission denied: cannot write to " +
                                  readOnly.string() + "\n"),
            std::string::npos)
      << denied->output();
}

}  // namespace
}  // namespace vantrel
