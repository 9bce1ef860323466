// SPDX-License-Identifier: MIT
#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/testing/env_override.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.valid());
    m_env.set("XDG_RUNTIME_DIR", m_dir.path());
  }
  std::string settingsFile(const std::string& name) const { return m_dir.file(name + "/registry.db"); }

  testing::TempFolder m_dir;
  testing::EnvOverride m_env;
};

// Two starts at the same moment: before the lock, both could find nobody
// listening, and the second unlinked the first one's socket.
TEST_F(SingleInstanceTest, OfStartsAtTheSameMomentExactlyOneRuns) {
  const std::string file = settingsFile("a");
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    std::vector<std::unique_ptr<SingleInstance>> instances;
    for (int i = 0; i < 4; ++i) instances.push_back(std::make_unique<SingleInstance>());
    std::atomic<int> shown{0};
    std::atomic<int> winners{0};
    std::vector<std::jthread> starts;
    for (auto& instance : instances) {
      starts.emplace_back([&, i = instance.get()] {
        if (!i->claim("Vantrel", file, 3s)) return;
        ++winners;
        i->listen("Vantrel", file, [&shown] { ++shown; });
      });
    }
    starts.clear();
    EXPECT_EQ(winners.load(), 1);
    // Each loser asked the winner to come forward (the winner is told just
    // after it answered).
    for (int i = 0; i < 50 && shown.load() < 3; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(shown.load(), 3);
  }
}

TEST_F(SingleInstanceTest, AnotherRootOrSettingsFileRunsBesideAndTheLockEndsWithTheInstance) {
  auto first = std::make_unique<SingleInstance>();
  std::atomic<int> shown{0};
  ASSERT_TRUE(first->claim("Vantrel", settingsFile("a")));
  ASSERT_TRUE(first->listen("Vantrel", settingsFile("a"), [&shown] { ++shown; }));

  SingleInstance secondRoot;
  EXPECT_TRUE(secondRoot.claim("Second Person", settingsFile("a")));
  SingleInstance otherFile;
  EXPECT_TRUE(otherFile.claim("Vantrel", settingsFile("b")));
  SingleInstance same;
  EXPECT_FALSE(same.claim("Vantrel", settingsFile("a"), 2s));
  for (int i = 0; i < 50 && shown.load() < 1; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(shown.load(), 1);

  first.reset();
  SingleInstance next;
  EXPECT_TRUE(next.claim("Vantrel", settingsFile("a")));
  EXPECT_TRUE(next.listen("Vantrel", settingsFile("a"), [] {}));
  EXPECT_TRUE(SingleInstance::probe("Vantrel", settingsFile("a")));
}

}  // namespace
}  // namespace vantrel
