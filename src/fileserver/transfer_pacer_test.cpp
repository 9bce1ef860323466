// SPDX-License-Identifier: MIT
#include "fileserver/transfer_pacer.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

// A sender on an infinitely fast link: time moves only when the pacer sleeps.
struct FakeTime {
  int64_t now = 1000;
  TransferPacer make(int64_t rate, int64_t chunk) {
    return TransferPacer(
        rate, chunk, [this] { return now; }, [this](int64_t ms) { now += ms; });
  }
};

TEST(TransferPacer, HoldsTheRateAndGrowsItsWindow) {
  FakeTime time;
  TransferPacer pacer = time.make(2'000'000, 9000);
  const int64_t start = time.now;
  int64_t total = 0;
  while (total < 50'000'000) {
    pacer.beforeChunk();
    pacer.sent(9000);
    total += 9000;
  }
  const double seconds = static_cast<double>(time.now - start) / 1000.0;
  const double rate = static_cast<double>(total) / seconds;
  EXPECT_NEAR(rate, 2'000'000, 2'000'000 * 0.02);
  EXPECT_EQ(pacer.windowMs(), 4100);
  EXPECT_GT(pacer.speed(), 0);
}

TEST(TransferPacer, WindowsGrowBy400UpTo4100) {
  FakeTime time;
  TransferPacer pacer = time.make(1000, 100);
  std::vector<int64_t> windows{pacer.windowMs()};
  for (int i = 0; i < 2000 && windows.size() < 12; ++i) {
    pacer.beforeChunk();
    pacer.sent(100);
    if (pacer.windowMs() != windows.back()) windows.push_back(pacer.windowMs());
  }
  EXPECT_EQ(windows, (std::vector<int64_t>{500, 900, 1300, 1700, 2100, 2500, 2900, 3300, 3700, 4100}));
}

TEST(TransferPacer, NoLimitNeverSleeps) {
  FakeTime time;
  TransferPacer pacer = time.make(0, 9000);
  for (int i = 0; i < 1000; ++i) {
    pacer.beforeChunk();
    pacer.sent(9000);
  }
  EXPECT_EQ(time.now, 1000);
}

}  // namespace
}  // namespace vantrel
