// SPDX-License-Identifier: MIT
// The runner around the firewall check: the file server lets its port go
// before the check and listens again after it, whatever the outcome; a check
// that outlasts the steps is reported as unfinished, not as a result.

#include "diag/firewall_runner.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;

class FirewallRunnerTest : public ::testing::Test, public ProtocolFixture {
 protected:
  FirewallRunnerTest() {
    loggedIn(7);
    state.SetLocalAddress("10.0.0.5");
    check.setPorts(0, 0);
    check.setTiming(5ms, 10ms, 5ms);
    server.pause = [this] {
      record("pause");
      return true;
    };
    server.resume = [this] {
      record("resume");
      return true;
    };
  }
  void record(const std::string& call) {
    std::scoped_lock lock(mutex);
    calls.push_back(call);
  }
  // Waits a real step, as the window does, and counts the steps.
  int run(std::chrono::milliseconds step, int maxSteps) {
    return RunFirewallCheck(
        check, server,
        [this](std::chrono::milliseconds time, const std::function<bool()>& done) {
          record("step");
          const auto end = std::chrono::steady_clock::now() + time;
          while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
        },
        step, maxSteps);
  }

  FirewallCheck check{ctx};
  FileServerSwitch server;
  std::mutex mutex;
  std::vector<std::string> calls;
};

TEST_F(FirewallRunnerTest, TheServerPausesAroundACheckThatFails) {
  target.setPort(1);  // nothing listens: the test request fails at once
  settings.SetSettingText("serveraddress", "127.0.0.1");
  EXPECT_EQ(run(500ms, 80), firewall::kCannotConnect);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.front(), "pause");
  EXPECT_EQ(calls.back(), "resume");
  EXPECT_LE(calls.size(), 4u);  // a step or two, not eighty
}

TEST_F(FirewallRunnerTest, ACheckThatOutlastsTheStepsIsUnfinishedAndTheServerStillResumes) {
  ScriptedHttpServer slow([](int fd, const std::string&) {
    std::this_thread::sleep_for(300ms);
    sendText(fd, "HTTP/1.0 500 Busy\r\n\r\n");
  });
  useServer(slow.port());
  EXPECT_EQ(run(10ms, 3), firewall::kCheckUnfinished);
  const std::vector<std::string> expected{"pause", "step", "step", "step", "resume"};
  EXPECT_EQ(calls, expected);
}

}  // namespace
}  // namespace vantrel
