// SPDX-License-Identifier: MIT
// Signed updates: the signature file's format, the installer that puts only
// signed, whole files in place, and the launcher around it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "launcher/launcher.h"
#include "launcher/update/update_installer.h"
#include "launcher/update/update_signature.h"
#include "platform/registry_hive.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void writeAll(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The names in a folder, with their contents.
std::map<std::string, std::string> folderContents(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files[entry.path().filename().string()] = readAll(entry.path());
  }
  return files;
}

// A program folder with an old program, and beside it the folder the client
// downloaded a new one into, signed with `good` (unless a test changes it).
class SignedUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string hex, error;
    ASSERT_TRUE(generateSigningKey(dir.path() / "good.pem", hex, error)) << error;
    ASSERT_TRUE(parsePublicKey(hex, goodKey));
    ASSERT_TRUE(generateSigningKey(dir.path() / "other.pem", hex, error)) << error;
    fs::create_directories(program / "update");
    writeAll(program / "vantrel-client", "old client");
    writeAll(program / "filedata.dat", "old pages");
    oldProgram = folderContents(program);
    writeAll(updateDir / "vantrel-client", "new client\n");
    fs::permissions(updateDir / "vantrel-client", fs::perms::owner_exec, fs::perm_options::add);
    writeAll(updateDir / "filedata.dat", std::string(70000, 'p'));
    sign("good.pem");
  }
  void sign(const char* key) {
    std::size_t count = 0;
    std::string error;
    ASSERT_TRUE(signUpdateFolder(updateDir, dir.path() / key, count, error)) << error;
    EXPECT_EQ(count, 2u);
  }
  // Nothing of the program changed and no temporary file was left behind.
  void expectOldProgram() {
    EXPECT_EQ(folderContents(program), oldProgram);
    for (const auto& entry : fs::directory_iterator(program)) {
      EXPECT_EQ(entry.path().filename().string().find(".update-new"), std::string::npos) << entry.path();
    }
  }

  vantrel::testing::TempFolder dir;
  const fs::path program = dir.path() / "program";
  const fs::path updateDir = program / "update";
  PublicKey goodKey{};
  std::map<std::string, std::string> oldProgram;
};

TEST_F(SignedUpdateTest, SignedUpdateInstallsEveryFileWithItsMode) {
  const InstallResult result = installSignedUpdate(updateDir, program, goodKey);
  ASSERT_EQ(result.code, install::kOk) << result.reason;
  EXPECT_EQ(result.installed, 2u);
  EXPECT_EQ(readAll(program / "vantrel-client"), "new client\n");
  EXPECT_EQ(readAll(program / "filedata.dat"), std::string(70000, 'p'));
  struct stat st {};
  ASSERT_EQ(::stat((program / "vantrel-client").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat((program / "filedata.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(SignedUpdateTest, AnythingButTheSignedFilesIsRefusedAndTheOldProgramStays) {
  struct Case {
    const char* name;
    std::function<void()> spoil;
    int want;
    const char* reasonPart;
  };
  const Case cases[] = {
      {"a changed byte",
       [&] {
         std::string bytes = readAll(updateDir / "filedata.dat");
         bytes[40000] = 'q';
         writeAll(updateDir / "filedata.dat", bytes);
       },
       install::kFileDiffers, "filedata.dat is not the signed one"},
      {"a longer file", [&] { writeAll(updateDir / "vantrel-client", "new client\nand more"); }, install::kFileDiffers,
       "vantrel-client is not the signed one"},
      {"a file that did not arrive", [&] { fs::remove(updateDir / "vantrel-client"); }, install::kFileMissing,
       "vantrel-client did not arrive"},
      {"no signature", [&] { fs::remove(updateDir / "update.sig"); }, install::kNoSignature, "not signed"},
      {"signed by another key", [&] { sign("other.pem"); }, install::kBadSignature, "does not check"},
      {"a signed size changed",
       [&] {
         std::string text = readAll(updateDir / "update.sig");
         text.replace(text.find(" 70000 "), 7, " 70001 ");
         writeAll(updateDir / "update.sig", text);
       },
       install::kBadSignature, "does not check"},
      {"a broken signature file", [&] { writeAll(updateDir / "update.sig", "signed, honest\n"); }, install::kMalformed,
       "does not start"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(updateDir);
    fs::create_directories(updateDir);
    writeAll(updateDir / "vantrel-client", "new client\n");
    writeAll(updateDir / "filedata.dat", std::string(70000, 'p'));
    sign("good.pem");
    c.spoil();
    const InstallResult result = installSignedUpdate(updateDir, program, goodKey);
    EXPECT_EQ(result.code, c.want);
    EXPECT_NE(result.reason.find(c.reasonPart), std::string::npos) << result.reason;
    EXPECT_EQ(result.installed, 0u);
    expectOldProgram();
  }
}

TEST(UpdateManifestTest, MalformedSignatureFilesAreRefused) {
  const std::string digest(64, 'a');
  const std::string signature = "signature " + std::string(86, 'A') + "==\n";
  const std::string head = std::string(update_signature::kHeader);
  struct Case {
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"empty", ""},
      {"no header", "file " + digest + " 1 644 a\n" + signature},
      {"no signature line", head + "file " + digest + " 1 644 a\n"},
      {"name with a slash", head + "file " + digest + " 1 644 ../a\n" + signature},
      {"hidden name", head + "file " + digest + " 1 644 .a\n" + signature},
      {"the signature file itself", head + "file " + digest + " 1 644 update.sig\n" + signature},
      {"a name twice", head + "file " + digest + " 1 644 a\nfile " + digest + " 2 644 a\n" + signature},
      {"a setuid mode", head + "file " + digest + " 1 4755 a\n" + signature},
      {"upper-case digest", head + "file " + std::string(64, 'A') + " 1 644 a\n" + signature},
      {"short digest", head + "file " + std::string(62, 'a') + " 1 644 a\n" + signature},
      {"size with a sign", head + "file " + digest + " -1 644 a\n" + signature},
      {"an unknown line", head + "exec rm -rf /\n" + signature},
      {"short signature", head + "file " + digest + " 1 644 a\nsignature AAAA\n"},
      {"text after the signature", head + "file " + digest + " 1 644 a\n" + signature + "file x\n"},
      {"no line end", head + "file " + digest + " 1 644 a\n" + signature.substr(0, signature.size() - 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateManifest manifest;
    std::string error;
    EXPECT_FALSE(parseUpdateManifest(c.text, manifest, error));
    EXPECT_FALSE(error.empty());
  }
  UpdateManifest manifest;
  std::string error;
  ASSERT_TRUE(parseUpdateManifest(head + "file " + digest + " 12 755 vantrel\n" + signature, manifest, error)) << error;
  ASSERT_EQ(manifest.files.size(), 1u);
  EXPECT_EQ(manifest.files[0].name, "vantrel");
  EXPECT_EQ(manifest.files[0].size, 12u);
  EXPECT_EQ(manifest.files[0].mode, 0755u);
  EXPECT_EQ(manifest.signedText, head + "file " + digest + " 12 755 vantrel\n");
}

// The launcher around the installer: which arguments it takes, what it does
// with a pending update, and that the client always starts afterwards.
class LauncherTest : public SignedUpdateTest {
 protected:
  LaunchPlan prepare(const std::vector<std::string>& arguments, std::function<bool()> running = [] { return false; }) {
    Launcher launcher(program, goodKey);
    return launcher.prepare(arguments, settings, running, std::chrono::seconds(5));
  }
  RegistryHive hive{(dir.path() / "config").string()};
  SettingsStore settings{hive};
};

TEST_F(LauncherTest, ArgumentsArePassedToTheClientOrRefused) {
  struct Case {
    std::vector<std::string> arguments;
    bool ok;
    std::string root;
  };
  const Case cases[] = {
      {{}, true, ""},
      {{"/installed"}, true, ""},
      {{"/uninstall", "/reg", "'Test'"}, true, "Test"},
      {{"/reg"}, false, ""},
      {{"/reg", "'a\\b'"}, false, ""},
      {{"--bogus"}, false, ""},
      {{"/start"}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    std::string root;
    EXPECT_EQ(Launcher::parseArguments(c.arguments, root), c.ok);
    EXPECT_EQ(root, c.root);
    const LaunchPlan plan = prepare(c.arguments);
    if (c.ok) {
      std::vector<std::string> want{(program / "vantrel-client").string(), "/start"};
      want.insert(want.end(), c.arguments.begin(), c.arguments.end());
      EXPECT_EQ(plan.command, want);
    } else {
      EXPECT_TRUE(plan.command.empty());
      EXPECT_EQ(plan.exitStatus, Launcher::kExitUsage);
    }
  }
}

TEST_F(LauncherTest, PendingSignedUpdateIsInstalledOnceTheOldClientHasEnded) {
  settings.SetSettingNumber(Launcher::kUpdateSetting, 1);
  int probes = 0;
  const LaunchPlan plan = prepare({}, [&] { return ++probes < 3; });
  EXPECT_EQ(probes, 3);
  EXPECT_EQ(readAll(program / "vantrel-client"), "new client\n");
  EXPECT_FALSE(fs::exists(updateDir));
  EXPECT_EQ(settings.GetSettingNumber(Launcher::kUpdateSetting), 0);
  EXPECT_EQ(settings.GetSettingText(Launcher::kUpdateErrorSetting), "");
  EXPECT_EQ(plan.command.size(), 2u);
}

TEST_F(LauncherTest, RefusedUpdateKeepsTheOldProgramTellsWhyAndStartsTheClient) {
  fs::remove(updateDir / "update.sig");
  settings.SetSettingNumber(Launcher::kUpdateSetting, 1);
  const LaunchPlan plan = prepare({});
  expectOldProgram();
  EXPECT_FALSE(fs::exists(updateDir));  // not tried again at every start
  EXPECT_EQ(settings.GetSettingNumber(Launcher::kUpdateSetting), 0);
  const std::string text = settings.GetSettingText(Launcher::kUpdateErrorSetting);
  EXPECT_EQ(text, Launcher::refusedText("it is not signed (the file update.sig is missing)"));
  EXPECT_EQ(plan.messages, std::vector<std::string>{text});
  EXPECT_EQ(plan.command.size(), 2u);
}

TEST_F(LauncherTest, WithoutAPendingUpdateDownloadedFilesAreLeftAlone) {
  const LaunchPlan plan = prepare({});
  expectOldProgram();
  EXPECT_TRUE(fs::exists(updateDir / "update.sig"));
  EXPECT_TRUE(plan.messages.empty());
}

}  // namespace
}  // namespace vantrel
