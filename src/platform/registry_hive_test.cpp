// SPDX-License-Identifier: MIT
#include "platform/registry_hive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

class RegistryHiveTest : public ::testing::Test {
 protected:
  testing::TempFolder m_dir;
  RegistryHive m_hive{m_dir.path()};

  void SetUp() override { ASSERT_EQ(m_hive.status(), reg::kOk) << m_hive.filePath(); }
};

TEST_F(RegistryHiveTest, CreateKeyMakesParentsAndKeepsCaseButMatchesWithoutIt) {
  ASSERT_EQ(m_hive.createKey("Software\\Vantrel\\VtClient\\Settings"), reg::kOk);
  EXPECT_EQ(m_hive.openKey("Software"), reg::kOk);
  EXPECT_EQ(m_hive.openKey("software\\VANTREL\\vtclient"), reg::kOk);
  EXPECT_EQ(m_hive.openKey("Software\\Vantrel\\VtClient\\settings"), reg::kOk);
  EXPECT_EQ(m_hive.openKey("Software\\Other"), reg::kKeyNotFound);
  // Creating again under another case neither fails nor renames.
  ASSERT_EQ(m_hive.createKey("SOFTWARE\\vantrel"), reg::kOk);
  EXPECT_EQ(m_hive.subKeys(""), std::vector<std::string>{"Software"});
  EXPECT_EQ(m_hive.subKeys("software"), std::vector<std::string>{"Vantrel"});
}

TEST_F(RegistryHiveTest, MalformedPathsAreRefusedEverywhere) {
  const std::string longName(RegistryHive::kMaxKeyNameBytes + 1, 'k');
  const std::vector<std::string> bad{"a\\\\b", "\\a", "a\\", "\\", "a\\" + longName, std::string("a\0b", 3)};
  for (const std::string& key : bad) {
    SCOPED_TRACE(key);
    RegValue v;
    std::string name;
    EXPECT_EQ(m_hive.createKey(key), reg::kBadPath);
    EXPECT_EQ(m_hive.openKey(key), reg::kBadPath);
    EXPECT_EQ(m_hive.writeValue(key, "v", RegValue::ofNumber(1)), reg::kBadPath);
    EXPECT_EQ(m_hive.readValue(key, "v", v), reg::kBadPath);
    EXPECT_EQ(m_hive.enumSubKey(key, 0, name), reg::kBadPath);
  }
  EXPECT_EQ(m_hive.deleteKey(""), reg::kBadPath) << "the root is never deleted";
  EXPECT_TRUE(m_hive.subKeys("").empty());
}

TEST_F(RegistryHiveTest, ValuesRoundTripByTypeAndReplaceAcrossTypes) {
  const std::string key = "Software\\T";
  ASSERT_EQ(m_hive.createKey(key), reg::kOk);
  struct Case {
    const char* name;
    RegValue value;
  };
  const Case cases[] = {
      {"zero", RegValue::ofNumber(0)},
      {"min", RegValue::ofNumber(INT32_MIN)},
      {"max", RegValue::ofNumber(INT32_MAX)},
      {"minusOne", RegValue::ofNumber(-1)},
      {"empty", RegValue::ofText("")},
      {"bytes", RegValue::ofText(std::string("a\0\xff\x01z", 5))},
      {"", RegValue::ofText("the default value has an empty name")},
  };
  for (const Case& c : cases) ASSERT_EQ(m_hive.writeValue(key, c.name, c.value), reg::kOk) << c.name;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegValue got;
    ASSERT_EQ(m_hive.readValue(key, c.name, got), reg::kOk);
    EXPECT_EQ(got.type, c.value.type);
    EXPECT_EQ(got.number, c.value.number);
    EXPECT_EQ(got.text, c.value.text);
  }
  // Names match without case; a write under another case replaces, type and all.
  ASSERT_EQ(m_hive.writeValue(key, "ZERO", RegValue::ofText("now text")), reg::kOk);
  RegValue got;
  ASSERT_EQ(m_hive.readValue(key, "Zero", got), reg::kOk);
  EXPECT_EQ(got.type, RegType::Text);
  EXPECT_EQ(got.text, "now text");
}

TEST_F(RegistryHiveTest, MissingKeyAndMissingValueAreDistinctAndWritesNeverCreateKeys) {
  ASSERT_EQ(m_hive.createKey("K"), reg::kOk);
  RegValue v;
  EXPECT_EQ(m_hive.readValue("K", "nope", v), reg::kValueNotFound);
  EXPECT_EQ(m_hive.readValue("K\\Sub", "nope", v), reg::kKeyNotFound);
  EXPECT_EQ(m_hive.writeValue("K\\Sub", "v", RegValue::ofNumber(1)), reg::kKeyNotFound);
  EXPECT_EQ(m_hive.writeValueIfAbsent("K\\Sub", "v", RegValue::ofNumber(1)), reg::kKeyNotFound);
  EXPECT_EQ(m_hive.openKey("K\\Sub"), reg::kKeyNotFound);
  EXPECT_EQ(m_hive.deleteValue("K", "nope"), reg::kValueNotFound);
  EXPECT_EQ(m_hive.deleteValue("K\\Sub", "nope"), reg::kKeyNotFound);
  EXPECT_EQ(m_hive.deleteKey("K\\Sub"), reg::kKeyNotFound);

  ASSERT_EQ(m_hive.writeValue("K", "v", RegValue::ofNumber(7)), reg::kOk);
  EXPECT_EQ(m_hive.deleteValue("k", "V"), reg::kOk);
  EXPECT_EQ(m_hive.readValue("K", "v", v), reg::kValueNotFound);
}

TEST_F(RegistryHiveTest, WriteIfAbsentKeepsAStoredValueOfAnyType) {
  ASSERT_EQ(m_hive.createKey("K"), reg::kOk);
  ASSERT_EQ(m_hive.writeValue("K", "port", RegValue::ofText("not a number")), reg::kOk);
  EXPECT_EQ(m_hive.writeValueIfAbsent("K", "PORT", RegValue::ofNumber(8323)), reg::kAlreadyExists);
  EXPECT_EQ(m_hive.writeValueIfAbsent("K", "udpport", RegValue::ofNumber(8324)), reg::kOk);
  RegValue v;
  ASSERT_EQ(m_hive.readValue("K", "port", v), reg::kOk);
  EXPECT_EQ(v.type, RegType::Text);
  EXPECT_EQ(v.text, "not a number");
  ASSERT_EQ(m_hive.readValue("K", "udpport", v), reg::kOk);
  EXPECT_EQ(v.number, 8324);
}

TEST_F(RegistryHiveTest, EnumerationIsOrderedWithoutCaseAndEndsWithNoMoreItems) {
  for (const char* name : {"bravo", "Alpha", "charlie", "ALPHA2"}) ASSERT_EQ(m_hive.createKey(std::string("U\\") + name), reg::kOk);
  ASSERT_EQ(m_hive.createKey("U\\bravo\\deeper"), reg::kOk);
  std::vector<std::string> seen;
  std::string name;
  uint32_t i = 0;
  for (; m_hive.enumSubKey("U", i, name) == reg::kOk; ++i) seen.push_back(name);
  EXPECT_EQ(seen, (std::vector<std::string>{"Alpha", "ALPHA2", "bravo", "charlie"}));
  EXPECT_EQ(m_hive.enumSubKey("U", i, name), reg::kNoMoreItems);
  EXPECT_EQ(m_hive.enumSubKey("Missing", 0, name), reg::kKeyNotFound);
  EXPECT_EQ(m_hive.subKeys("u"), seen);
}

TEST_F(RegistryHiveTest, DeleteKeyTakesTheWholeSubtreeAndNothingBeside) {
  // Siblings whose names share a prefix, or sort just around the separator,
  // must survive: "al[" sorts before "al\", "al]" just after the subtree range.
  for (const char* key : {"U\\al\\x\\y", "U\\al\\z", "U\\alice", "U\\al[", "U\\al]", "U\\al x"}) {
    ASSERT_EQ(m_hive.createKey(key), reg::kOk);
  }
  ASSERT_EQ(m_hive.writeValue("U\\al\\x\\y", "v", RegValue::ofNumber(1)), reg::kOk);
  ASSERT_EQ(m_hive.writeValue("U\\al", "v", RegValue::ofNumber(2)), reg::kOk);
  ASSERT_EQ(m_hive.writeValue("U\\alice", "v", RegValue::ofNumber(3)), reg::kOk);

  ASSERT_EQ(m_hive.deleteKey("u\\AL"), reg::kOk);
  EXPECT_EQ(m_hive.openKey("U\\al"), reg::kKeyNotFound);
  EXPECT_EQ(m_hive.openKey("U\\al\\x\\y"), reg::kKeyNotFound);
  EXPECT_EQ(m_hive.subKeys("U"), (std::vector<std::string>{"al x", "al[", "al]", "alice"}));
  RegValue v;
  EXPECT_EQ(m_hive.readValue("U\\alice", "v", v), reg::kOk);
  // Recreating the key finds no stale values of the deleted one.
  ASSERT_EQ(m_hive.createKey("U\\al\\x\\y"), reg::kOk);
  EXPECT_EQ(m_hive.readValue("U\\al\\x\\y", "v", v), reg::kValueNotFound);
  EXPECT_TRUE(m_hive.valueNames("U\\al").empty());
}

TEST(RegistryHiveFile, ValuesSurviveReopening) {
  testing::TempFolder dir;
  {
    RegistryHive hive(dir.path());
    ASSERT_EQ(hive.createKey("A\\B"), reg::kOk);
    ASSERT_EQ(hive.writeValue("A\\B", "n", RegValue::ofNumber(42)), reg::kOk);
  }
  RegistryHive again(dir.path());
  RegValue v;
  ASSERT_EQ(again.readValue("a\\b", "N", v), reg::kOk);
  EXPECT_EQ(v.number, 42);
}

TEST(RegistryHiveFile, TheFileIsPrivateToItsOwner) {
  testing::TempFolder dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  RegistryHive hive(dir.path());
  ASSERT_EQ(hive.createKey("A"), reg::kOk);
  for (const std::string suffix : {"", "-wal"}) {
    struct stat st {};
    ASSERT_EQ(::stat((hive.filePath() + suffix).c_str(), &st), 0) << suffix;
    EXPECT_EQ(st.st_mode & 077, 0u) << "stored passwords must not be readable by others: " << suffix;
  }
}

TEST(RegistryHiveFile, AFileThatIsNotAHiveMakesEveryOperationFail) {
  testing::TempFolder dir;
  {
    std::ofstream junk(dir.file(RegistryHive::kFileName), std::ios::binary);
    junk << std::string(4096, 'x');
  }
  RegistryHive hive(dir.path());
  EXPECT_EQ(hive.status(), reg::kIoError);
  RegValue v;
  EXPECT_EQ(hive.createKey("A"), reg::kIoError);
  EXPECT_EQ(hive.readValue("A", "v", v), reg::kIoError);
  EXPECT_EQ(hive.writeValue("A", "v", RegValue::ofNumber(1)), reg::kIoError);
  EXPECT_TRUE(hive.subKeys("").empty());
}

TEST(RegistryHiveFile, AnUnusableFolderMakesEveryOperationFail) {
  testing::TempFolder dir;
  { std::ofstream file(dir.file("plainfile")); }
  RegistryHive hive(dir.file("plainfile") + "/sub");
  EXPECT_EQ(hive.status(), reg::kIoError);
  EXPECT_EQ(hive.openKey("A"), reg::kIoError);
}

// Runs `body` in a child process and returns its exit status (0 = success).
template <typename Body>
pid_t spawn(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() ? 0 : 1);
  return pid;
}

int exitStatus(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RegistryHiveProcesses, AValueWrittenByOneProcessIsReadByAnother) {
  testing::TempFolder dir;
  RegistryHive hive(dir.path());
  ASSERT_EQ(hive.createKey("Shared"), reg::kOk);
  ASSERT_EQ(hive.writeValue("Shared", "port", RegValue::ofNumber(8323)), reg::kOk);

  pid_t child = spawn([&] {
    RegistryHive own(dir.path());
    RegValue v;
    // The child sees the parent's value and replaces it.
    return own.readValue("Shared", "port", v) == reg::kOk && v.number == 8323 &&
           own.writeValue("Shared", "port", RegValue::ofNumber(9000)) == reg::kOk;
  });
  ASSERT_GT(child, 0);
  ASSERT_EQ(exitStatus(child), 0);

  RegValue v;
  ASSERT_EQ(hive.readValue("Shared", "port", v), reg::kOk);
  EXPECT_EQ(v.number, 9000);
}

TEST(RegistryHiveProcesses, ValuesReadBeforeAnotherProcessChangesThemAreReadAfresh) {
  testing::TempFolder dir;
  RegistryHive hive(dir.path());
  ASSERT_EQ(hive.createKey("Shared"), reg::kOk);
  ASSERT_EQ(hive.writeValue("Shared", "port", RegValue::ofNumber(8323)), reg::kOk);
  ASSERT_EQ(hive.writeValue("Shared", "name", RegValue::ofText("before")), reg::kOk);
  auto read = [&](const char* key, const char* name) {
    RegValue v;
    const int rc = hive.readValue(key, name, v);
    return std::to_string(rc) + ":" + (v.type == RegType::Dword ? std::to_string(v.number) : v.text);
  };
  // Read first, so that whatever the hive keeps from these reads is what the
  // other process's changes must replace.
  EXPECT_EQ(read("Shared", "port"), "0:8323");
  EXPECT_EQ(read("Shared", "name"), "0:before");
  EXPECT_EQ(read("Shared", "extra"), "2:");

  pid_t child = spawn([&] {
    RegistryHive own(dir.path());
    return own.writeValue("Shared", "PORT", RegValue::ofNumber(9000)) == reg::kOk &&
           own.writeValue("Shared", "extra", RegValue::ofNumber(7)) == reg::kOk &&
           own.deleteValue("Shared", "name") == reg::kOk;
  });
  ASSERT_GT(child, 0);
  ASSERT_EQ(exitStatus(child), 0);
  EXPECT_EQ(read("Shared", "port"), "0:9000");
  EXPECT_EQ(read("shared", "Extra"), "0:7");
  EXPECT_EQ(read("Shared", "name"), "2:");

  child = spawn([&] {
    RegistryHive own(dir.path());
    return own.deleteKey("Shared") == reg::kOk;
  });
  ASSERT_GT(child, 0);
  ASSERT_EQ(exitStatus(child), 0);
  EXPECT_EQ(read("Shared", "port"), "1:");
}

TEST(RegistryHiveConnections, EveryCommitOfAnotherConnectionIsSeenByTheNextRead) {
  // Enough commits for the log to be checkpointed and started over several
  // times, which rewrites the header that tells a reader something changed.
  testing::TempFolder dir;
  RegistryHive reader(dir.path());
  RegistryHive writer(dir.path());
  ASSERT_EQ(writer.createKey("Load"), reg::kOk);
  for (int i = 0; i < 1500; ++i) {
    ASSERT_EQ(writer.writeValue("Load", "n", RegValue::ofNumber(i)), reg::kOk);
    RegValue v;
    ASSERT_EQ(reader.readValue("Load", "n", v), reg::kOk);
    ASSERT_EQ(v.number, i);
    ASSERT_EQ(reader.readValue("Load", "n", v), reg::kOk);  // answered without the file
    ASSERT_EQ(v.number, i);
  }
}

TEST(RegistryHiveProcesses, ConcurrentWritersInProcessesAndThreadsLoseNothing) {
  testing::TempFolder dir;
  RegistryHive hive(dir.path());
  ASSERT_EQ(hive.createKey("Load"), reg::kOk);
  constexpr int kWrites = 150;
  auto writer = [&](RegistryHive& h, const std::string& prefix) {
    bool ok = true;
    for (int i = 0; i < kWrites; ++i) {
      std::string key = "Load\\" + prefix + std::to_string(i % 7);
      ok = ok && h.createKey(key) == reg::kOk &&
           h.writeValue(key, prefix + std::to_string(i), RegValue::ofNumber(i)) == reg::kOk;
    }
    return ok;
  };
  std::vector<pid_t> children;
  for (const char* prefix : {"p1_", "p2_"}) {
    children.push_back(spawn([&, prefix] {
      RegistryHive own(dir.path());
      return writer(own, prefix);
    }));
    ASSERT_GT(children.back(), 0);
  }
  bool threadsOk[2] = {false, false};
  {
    std::jthread t0([&] { threadsOk[0] = writer(hive, "t0_"); });
    std::jthread t1([&] { threadsOk[1] = writer(hive, "t1_"); });
  }
  for (pid_t c : children) EXPECT_EQ(exitStatus(c), 0);
  EXPECT_TRUE(threadsOk[0]);
  EXPECT_TRUE(threadsOk[1]);
  for (const char* prefix : {"p1_", "p2_", "t0_", "t1_"}) {
    for (int i = 0; i < kWrites; ++i) {
      RegValue v;
      std::string key = "Load\\" + std::string(prefix) + std::to_string(i % 7);
      ASSERT_EQ(hive.readValue(key, prefix + std::to_string(i), v), reg::kOk) << prefix << i;
      EXPECT_EQ(v.number, i);
    }
  }
}

}  // namespace
}  // namespace vantrel
