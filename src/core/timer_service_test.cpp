// SPDX-License-Identifier: MIT
#include "core/timer_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/temp_folder.h"
#include "tests/support/wait_for.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using vantrel::testing::waitFor;

TEST(TimerService, RunsEveryPeriodUntilCancelled) {
  TimerService timers;
  std::atomic<int> fast{0}, witness{0};
  const auto id = timers.schedule(5ms, [&] { ++fast; });
  ASSERT_NE(id, TimerService::kNoTimer);
  ASSERT_TRUE(waitFor([&] { return fast >= 3; }));
  EXPECT_TRUE(timers.cancel(id));
  const int atCancel = fast;
  // Let a second timer tick a few times: the cancelled one stays quiet.
  timers.schedule(2ms, [&] { ++witness; });
  ASSERT_TRUE(waitFor([&] { return witness >= 10; }));
  EXPECT_EQ(fast, atCancel);
  EXPECT_FALSE(timers.cancel(id));
}

TEST(TimerService, FirstRunComesOnePeriodLater) {
  TimerService timers;
  std::atomic<int64_t> firstRun{0};
  const int64_t scheduled = steadyMillis();
  timers.schedule(50ms, [&] {
    if (firstRun == 0) firstRun = steadyMillis();
  });
  ASSERT_TRUE(waitFor([&] { return firstRun != 0; }));
  EXPECT_GE(firstRun - scheduled, 49);
}

TEST(TimerService, CancelWaitsForARunningCallback) {
  TimerService timers;
  std::atomic<bool> entered{false}, release{false}, finished{false}, cancelling{false};
  const auto id = timers.schedule(1ms, [&] {
    entered = true;
    waitFor([&] { return release.load(); });
    finished = true;
  });
  ASSERT_TRUE(waitFor([&] { return entered.load(); }));
  std::atomic<bool> finishedWhenCancelReturned{false};
  std::jthread canceller([&] {
    cancelling = true;
    timers.cancel(id);
    finishedWhenCancelReturned = finished.load();
  });
  ASSERT_TRUE(waitFor([&] { return cancelling.load(); }));
  release = true;
  canceller.join();
  EXPECT_TRUE(finishedWhenCancelReturned);
}

TEST(TimerService, CallbackMayCancelItselfAndScheduleOthers) {
  TimerService timers;
  std::atomic<int> runs{0}, follower{0};
  TimerService::TimerId self = TimerService::kNoTimer;
  std::atomic<bool> ready{false};
  self = timers.schedule(1ms, [&] {
    if (!ready) return;
    ++runs;
    timers.cancel(self);
    timers.schedule(1ms, [&] { ++follower; });
  });
  ready = true;
  ASSERT_TRUE(waitFor([&] { return follower >= 3; }));
  EXPECT_EQ(runs, 1);
}

TEST(TimerService, StopJoinsAndRefusesNewTimers) {
  std::atomic<int> runs{0};
  {
    TimerService timers;
    timers.schedule(1ms, [&] { ++runs; });
    timers.schedule(1ms, [&] { ++runs; });
    ASSERT_TRUE(waitFor([&] { return runs >= 4; }));
    timers.stop();
    const int atStop = runs;
    EXPECT_EQ(timers.schedule(1ms, [&] { ++runs; }), TimerService::kNoTimer);
    EXPECT_EQ(runs, atStop);
  }
  TimerService dropped;  // destroyed with a pending timer: joins cleanly
  dropped.schedule(1h, [] {});
}

}  // namespace
}  // namespace vantrel
