// SPDX-License-Identifier: MIT
#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "core/base64.h"
#include "platform/testing/env_override.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  testing::TempFolder m_dir;
  RegistryHive m_hive{m_dir.file("config")};
  SettingsStore m_store{m_hive, "Vantrel", autostart()};

  AutostartEntry autostart() const { return AutostartEntry(m_dir.file("autostart"), "/opt/vantrel/vantrel"); }
  void SetUp() override { ASSERT_EQ(m_hive.status(), reg::kOk); }

  RegValue raw(const std::string& key, const std::string& name) {
    RegValue v;
    v.number = -12345;
    if (m_hive.readValue(key, name, v) != reg::kOk) v.text = "<missing>";
    return v;
  }
};

TEST_F(SettingsStoreTest, FreshProfileGetsExactlyTheFourteenDefaults) {
  testing::EnvOverride env;
  env.set("VANTREL_SERVER_HOST", "central.example");
  env.set("VANTREL_SERVER_PORT", "9100");
  EXPECT_EQ(m_store.GetSettingNumber("contype"), -1);

  const std::string key = "Software\\Vantrel\\VtClient\\settings";
  EXPECT_TRUE(m_hive.keyExists("Software\\Vantrel\\VtClient\\users"));
  struct Want {
    const char* name;
    RegType type;
    int32_t number;
    const char* text;
  };
  const Want want[] = {
      {"defaultuser", RegType::Text, 0, ""},           {"port", RegType::Dword, 8323, ""},
      {"serveraddress", RegType::Text, 0, "central.example"}, {"serverport", RegType::Dword, 9100, ""},
      {"autologinuser", RegType::Text, 0, ""},         {"autofind", RegType::Dword, 1, ""},
      {"maxusers", RegType::Dword, 10, ""},            {"maxband", RegType::Dword, 2000000, ""},
      {"maxusrband", RegType::Dword, 2000000, ""},     {"maxlogintime", RegType::Dword, 40, ""},
      {"checkforupdates", RegType::Dword, 1, ""},      {"firstTimeSharing", RegType::Dword, 1, ""},
      {"udpport", RegType::Dword, 8324, ""},           {"remotes", RegType::Dword, 0, ""},
  };
  std::vector<std::string> names = m_hive.valueNames(key);
  EXPECT_EQ(names.size(), std::size(want)) << "nothing beyond the fourteen defaults";
  for (const Want& w : want) {
    SCOPED_TRACE(w.name);
    RegValue v = raw(key, w.name);
    EXPECT_EQ(v.type, w.type);
    if (w.type == RegType::Dword) {
      EXPECT_EQ(v.number, w.number);
    } else {
      EXPECT_EQ(v.text, w.text);
    }
  }
  // Values without a default read as missing, whatever their type.
  for (const char* name : {"contype", "maxperuser", "maxbandever", "tlfls", "tbts", "autologin", "maxsimdl"}) {
    EXPECT_EQ(m_store.GetSettingNumber(name), -1) << name;
  }
  for (const char* name : {"cname", "user"}) EXPECT_EQ(m_store.GetSettingText(name), "") << name;
}

TEST_F(SettingsStoreTest, DefaultsNeverReplaceAStoredValueOfAnyType) {
  const std::string key = "Software\\Vantrel\\VtClient\\settings";
  ASSERT_EQ(m_hive.createKey(key), reg::kOk);
  ASSERT_EQ(m_hive.writeValue(key, "port", RegValue::ofText("not a number")), reg::kOk);
  ASSERT_EQ(m_hive.writeValue(key, "serveraddress", RegValue::ofNumber(7)), reg::kOk);
  ASSERT_EQ(m_hive.writeValue(key, "maxusers", RegValue::ofNumber(-1)), reg::kOk);
  ASSERT_EQ(m_hive.writeValue(key, "serverport", RegValue::ofNumber(0)), reg::kOk);
  ASSERT_EQ(m_hive.writeValue(key, "autologinuser", RegValue::ofText(std::string(300, 'u'))), reg::kOk);

  m_store.EnsureDefaults();
  EXPECT_EQ(raw(key, "port").text, "not a number");
  EXPECT_EQ(raw(key, "serveraddress").number, 7);
  EXPECT_EQ(raw(key, "autologinuser").text.size(), 300u) << "a long text is still a stored value";
  // Typed reads see a value of the wrong type as missing, but it stays stored.
  EXPECT_EQ(m_store.GetSettingNumber("port"), -1);
  EXPECT_EQ(m_store.GetSettingText("serveraddress"), "");
  EXPECT_EQ(m_store.GetSettingNumber("maxusers"), -1);
  EXPECT_EQ(m_store.GetSettingNumber("serverport"), 0);
  EXPECT_EQ(m_store.GetSettingNumber("udpport"), 8324) << "missing ones are still filled in";
}

TEST_F(SettingsStoreTest, DefaultsRunOncePerStoreAndAgainForANewStore) {
  m_store.EnsureDefaults();
  const std::string key = m_store.settingsKey();
  ASSERT_EQ(m_hive.deleteValue(key, "port"), reg::kOk);
  EXPECT_EQ(m_store.GetSettingNumber("port"), -1) << "the same store does not write defaults twice";

  SettingsStore second(m_hive, "Vantrel", autostart());
  EXPECT_EQ(second.GetSettingNumber("port"), 8323) << "a new process fills in what is missing";
}

TEST_F(SettingsStoreTest, TheRootNameSeparatesConfigurations) {
  SettingsStore other(m_hive, "Testing", autostart());
  EXPECT_EQ(other.settingsKey(), "Software\\Testing\\VtClient\\settings");
  other.SetSettingNumber("port", 9000);
  EXPECT_EQ(other.GetSettingNumber("port"), 9000);
  EXPECT_EQ(m_store.GetSettingNumber("port"), 8323);
  EXPECT_EQ(SettingsStore(m_hive, "", autostart()).rootName(), "Vantrel");
}

TEST_F(SettingsStoreTest, TypedReadsAndWritesRoundTrip) {
  m_store.SetSettingNumber("maxperuser", 0);
  m_store.SetSettingNumber("tbts", INT32_MIN);
  m_store.SetSettingText("cname", "my box");
  m_store.SetSettingText("serveraddress", "");
  EXPECT_EQ(m_store.GetSettingNumber("maxperuser"), 0);
  EXPECT_EQ(m_store.GetSettingNumber("tbts"), INT32_MIN);
  EXPECT_EQ(m_store.GetSettingText("cname"), "my box");
  EXPECT_EQ(m_store.GetSettingText("serveraddress"), "");
  // Names match without case, as registry value names do.
  EXPECT_EQ(m_store.GetSettingText("CNAME"), "my box");
  // "autologin" on a fresh profile reads -1: only a stored 0 means "log in now".
  EXPECT_EQ(m_store.GetSettingNumber("autologin"), -1);
  m_store.SetSettingNumber("autologin", 0);
  EXPECT_EQ(m_store.GetSettingNumber("autologin"), 0);
}

TEST_F(SettingsStoreTest, TextReadsStopAtTheBufferAndAtAZero) {
  m_store.SetSettingText("long", std::string(500, 'a'));
  m_store.SetSettingText("fits", std::string(199, 'b'));
  m_store.SetSettingText("zero", std::string("ab\0cd", 5));
  EXPECT_EQ(m_store.GetSettingText("long"), std::string(199, 'a'));
  EXPECT_EQ(m_store.GetSettingText("fits"), std::string(199, 'b'));
  EXPECT_EQ(m_store.GetSettingText("zero"), "ab");
}

TEST_F(SettingsStoreTest, WritesIntoAMissingTreeAreDropped) {
  m_store.EnsureDefaults();
  ASSERT_EQ(m_hive.deleteKey(m_store.clientKey()), reg::kOk);
  m_store.SetSettingNumber("port", 1);
  m_store.SetSettingText("cname", "x");
  EXPECT_EQ(m_store.GetSettingNumber("port"), -1);
  EXPECT_FALSE(m_hive.keyExists(m_store.settingsKey())) << "a write never creates the key";
}

TEST_F(SettingsStoreTest, UserTextsNeedAnExistingUserKey) {
  m_store.SetUserText("ghost", "clientid", "12");
  EXPECT_FALSE(m_store.UserKeyExists("ghost")) << "writing must not create the key";
  EXPECT_EQ(m_store.GetUserText("ghost", "clientid"), "");

  m_store.CreateUserKey("alice");
  EXPECT_TRUE(m_store.UserKeyExists("alice"));
  EXPECT_TRUE(m_store.UserKeyExists("ALICE"));
  m_store.SetUserText("alice", "clientid", "12");
  EXPECT_EQ(m_store.GetUserText("alice", "clientid"), "12");

  // Without a user name the current login is meant; with none, nothing is written.
  m_store.SetUserText("showHelp", "1");
  EXPECT_EQ(m_store.GetUserText("alice", "showHelp"), "");
  m_store.setCurrentUser("alice");
  m_store.SetUserText("showHelp", "1");
  EXPECT_EQ(m_store.GetUserText("alice", "showHelp"), "1");
}

TEST_F(SettingsStoreTest, UserNamesThatWouldAddressOtherKeysAreRefused) {
  m_store.CreateUserKey("alice");
  m_store.SetUserText("alice", "password", "keep");
  for (const char* bad : {"", "alice\\sub", "\\", "..\\settings"}) {
    SCOPED_TRACE(bad);
    m_store.CreateUserKey(bad);
    m_store.SetUserText(bad, "password", "x");
    m_store.DeleteUser(bad);
    EXPECT_FALSE(m_store.UserKeyExists(bad));
    EXPECT_EQ(m_store.GetUserText(bad, "password"), "");
  }
  EXPECT_EQ(m_store.ListUsers(), std::vector<std::string>{"alice"});
  EXPECT_EQ(m_store.GetUserText("alice", "password"), "keep");
  EXPECT_TRUE(m_hive.keyExists(m_store.usersKey()));
}

TEST_F(SettingsStoreTest, DeleteUserTakesItsSubtreeAndClearsTheDefaultUser) {
  for (const char* u : {"alice", "bob", "alice2"}) m_store.CreateUserKey(u);
  ASSERT_EQ(m_hive.createKey(m_store.userKey("alice") + "\\nested\\deeper"), reg::kOk);
  m_store.SetUserText("alice", "clientid", "5");
  m_store.SetSettingText("defaultuser", "Alice");
  EXPECT_EQ(m_store.ListUsers(), (std::vector<std::string>{"alice", "alice2", "bob"}));

  m_store.DeleteUser("alice");
  EXPECT_FALSE(m_store.UserKeyExists("alice"));
  EXPECT_EQ(m_store.ListUsers(), (std::vector<std::string>{"alice2", "bob"}));
  EXPECT_EQ(m_store.GetSettingText("defaultuser"), "") << "it named the deleted user's key";

  m_store.SetSettingText("defaultuser", "bob");
  m_store.DeleteUser("alice2");
  EXPECT_EQ(m_store.GetSettingText("defaultuser"), "bob");
  m_store.CreateUserKey("alice");
  EXPECT_EQ(m_store.GetUserText("alice", "clientid"), "") << "a new key starts empty";
}

TEST(PasswordScramble, MatchesTheStoredFormByteForByte) {
  // Key bytes from the lowest: 0x94 0x1D 0x7C 0x3B.
  struct Case {
    const char* name;
    std::string plain;
    std::vector<uint8_t> scrambled;
  };
  auto chain = [](std::vector<uint8_t> b) {
    for (size_t i = 0; i + 1 < b.size(); ++i) b[i] ^= b[i + 1];
    return b;
  };
  const Case cases[] = {
      {"empty", "", {}},
      {"one byte", "a", {0x61 ^ 0x94}},
      {"one group", "abcd", chain({0x61 ^ 0x94, 0x62 ^ 0x1D, 0x63 ^ 0x7C, 0x64 ^ 0x3B})},
      // Five bytes: one whole group, then byte 4 takes k0, then the chain.
      {"group and one", "abcde", chain({0x61 ^ 0x94, 0x62 ^ 0x1D, 0x63 ^ 0x7C, 0x64 ^ 0x3B, 0x65 ^ 0x94})},
      {"group and three", "secret1",
       chain({'s' ^ 0x94, 'e' ^ 0x1D, 'c' ^ 0x7C, 'r' ^ 0x3B, 'e' ^ 0x94, 't' ^ 0x1D, '1' ^ 0x7C})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string stored = SettingsStore::PasswordScramble(c.plain);
    EXPECT_EQ(stored, base64Encode(std::span<const uint8_t>(c.scrambled)));
    EXPECT_EQ(SettingsStore::PasswordUnscramble(stored), c.plain);
  }
  // Literal check of the five-byte case, independent of the helper above.
  EXPECT_EQ(SettingsStore::PasswordScramble("abcde"), base64Encode(std::string("\x8A\x60\x40\xAE\xF1", 5)));
}

TEST(PasswordScramble, EveryByteValueAndLengthRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (size_t n = 0; n <= all.size(); n += 1 + n / 8) {
    std::string plain = all.substr(all.size() - n);
    EXPECT_EQ(SettingsStore::PasswordUnscramble(SettingsStore::PasswordScramble(plain)), plain) << n;
  }
}

TEST_F(SettingsStoreTest, SecretsAreStoredScrambledForTheCurrentUser) {
  m_store.CreateUserKey("alice");
  m_store.setCurrentUser("alice");
  m_store.SetUserSecret("password", "hunter22");
  const std::string stored = m_store.GetUserText("alice", "password");
  EXPECT_EQ(stored, SettingsStore::PasswordScramble("hunter22"));
  EXPECT_EQ(stored.find("hunter"), std::string::npos);
  EXPECT_EQ(m_store.GetUserSecret("alice", "password"), "hunter22");

  m_store.SetUserSecret("password", "");
  EXPECT_EQ(m_store.GetUserText("alice", "password"), "") << "the empty password stores the empty text";
  EXPECT_EQ(m_store.GetUserSecret("alice", "password"), "");
  EXPECT_EQ(m_store.GetUserSecret("nobody", "password"), "");
}

TEST(ConnectionTypes, TablesAgreeExceptForTheSlowModems) {
  const auto& names = SettingsStore::ConnectionTypeNames();
  ASSERT_EQ(names.size(), 14u);
  EXPECT_EQ(names[0], "Don't know");
  EXPECT_EQ(names[10], "Ethernet / Dorm Room");
  EXPECT_EQ(names[13], "User set");
  for (int i = 0; i < 14; ++i) {
    SCOPED_TRACE(i);
    bool differs = i >= 2 && i <= 4;
    EXPECT_EQ(SettingsStore::SuggestedMaxUsers(i) != SettingsStore::AppliedMaxUsers(i), differs);
  }
  for (int outside : {-1, 14, 20, INT32_MIN}) {
    EXPECT_EQ(SettingsStore::SuggestedMaxUsers(outside), 10);
    EXPECT_EQ(SettingsStore::SuggestedMaxBandwidth(outside), 2000000);
  }
}

TEST_F(SettingsStoreTest, ApplyingAConnectionTypeWritesItsLimitsThenReloads) {
  m_store.SetSettingNumber("maxusrband", 1234);
  std::vector<int32_t> seenByHook;
  m_store.setLimitsReloadHook([&] {
    seenByHook = {m_store.GetSettingNumber("contype"), m_store.GetSettingNumber("maxusers"),
                  m_store.GetSettingNumber("maxband")};
  });
  struct Case {
    int index;
    int32_t contype, maxusers, maxband;
  };
  const Case cases[] = {
      {2, 2, 4, 4000},     // the page would suggest 3 users
      {4, 4, 7, 8000},     {7, 7, 20, 100000}, {13, 13, 999, 9999999},
      {20, 0, 10, 2000000},  // outside the table: "Don't know"
      {-3, 0, 10, 2000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    seenByHook.clear();
    m_store.ApplyConnectionType(c.index);
    EXPECT_EQ(seenByHook, (std::vector<int32_t>{c.contype, c.maxusers, c.maxband}));
  }
  EXPECT_EQ(m_store.GetSettingNumber("maxusrband"), 1234) << "per-user bandwidth is not touched";
}

TEST_F(SettingsStoreTest, AutorunFollowsTheAutostartEntry) {
  EXPECT_FALSE(m_store.IsAutorunSet());
  EXPECT_EQ(m_store.SetAutorun(true), SettingsStore::kAutorunOk);
  EXPECT_TRUE(m_store.IsAutorunSet());
  EXPECT_EQ(m_store.SetAutorun(false), SettingsStore::kAutorunOk);
  EXPECT_FALSE(m_store.IsAutorunSet());
  EXPECT_EQ(m_store.SetAutorun(false), SettingsStore::kAutorunOk);
}

TEST_F(SettingsStoreTest, AutorunFailuresHaveTheirCodes) {
  std::ofstream(m_dir.file("blocked")) << "a file where the folder should be";
  SettingsStore blocked(m_hive, "Vantrel", AutostartEntry(m_dir.file("blocked"), "/opt/vantrel/vantrel"));
  EXPECT_TRUE(blocked.IsAutorunSet()) << "an unreadable folder reports set";
  EXPECT_EQ(blocked.SetAutorun(true), SettingsStore::kAutorunNotSet);
  EXPECT_EQ(blocked.SetAutorun(false), SettingsStore::kAutorunNotDeleted);

  SettingsStore noLauncher(m_hive, "Vantrel", AutostartEntry(m_dir.file("autostart"), ""));
  EXPECT_EQ(noLauncher.SetAutorun(true), SettingsStore::kAutorunNotSet);
  EXPECT_FALSE(noLauncher.IsAutorunSet());
}

TEST_F(SettingsStoreTest, RemoveAllSettingsLeavesOtherRootsAndTheRestOfTheHive) {
  SettingsStore other(m_hive, "Other", autostart());
  other.SetSettingNumber("port", 1);
  m_store.CreateUserKey("alice");
  m_store.SetUserText("alice", "clientid", "3");
  ASSERT_EQ(m_store.SetAutorun(true), SettingsStore::kAutorunOk);

  m_store.RemoveAllSettings();
  EXPECT_FALSE(m_hive.keyExists(m_store.clientKey()));
  EXPECT_TRUE(m_hive.keyExists("Software\\Vantrel")) << "only VtClient goes";
  EXPECT_FALSE(m_store.IsAutorunSet());
  EXPECT_EQ(m_store.GetSettingNumber("port"), -1);
  EXPECT_EQ(other.GetSettingNumber("port"), 1);
}

TEST_F(SettingsStoreTest, ThreadsSeeEachOthersWritesWithoutAnyCache) {
  m_store.CreateUserKey("alice");
  constexpr int kRounds = 100;
  std::vector<std::jthread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([this, t] {
      SettingsStore local(m_hive, "Vantrel", autostart());  // as another thread's first access would
      for (int i = 0; i < kRounds; ++i) {
        local.SetSettingNumber("counter" + std::to_string(t), i);
        local.SetUserText("alice", "v" + std::to_string(t), std::to_string(i));
        EXPECT_EQ(local.GetSettingNumber("counter" + std::to_string(t)), i);
        EXPECT_EQ(m_store.GetSettingNumber("port"), 8323);
      }
    });
  }
  threads.clear();
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(m_store.GetSettingNumber("counter" + std::to_string(t)), kRounds - 1);
    EXPECT_EQ(m_store.GetUserText("alice", "v" + std::to_string(t)), std::to_string(kRounds - 1));
  }
}

TEST_F(SettingsStoreTest, AValueWrittenByOneProcessIsReadByAnother) {
  m_store.EnsureDefaults();
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child is a separate client process with its own hive connection.
    RegistryHive hive(m_dir.file("config"));
    SettingsStore store(hive, "Vantrel", autostart());
    store.CreateUserKey("carol");
    store.setCurrentUser("carol");
    store.SetUserSecret("password", "pa55");
    store.SetSettingNumber("maxsimdl", 3);
    ::_exit(store.GetSettingNumber("maxsimdl") == 3 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(m_store.GetSettingNumber("maxsimdl"), 3);
  EXPECT_EQ(m_store.GetUserSecret("carol", "password"), "pa55");
  EXPECT_EQ(m_store.ListUsers(), std::vector<std::string>{"carol"});
}

}  // namespace
}  // namespace vantrel
