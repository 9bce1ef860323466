// SPDX-License-Identifier: MIT
#include "fileserver/transfer_pacer.h"

#include <gtest/gtest.h>

#include <vector>

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

// At every rate, in the pieces the transfer uses for it, the bytes of each
// second after the first window stay within 2 % of the rate, and so does the
// whole transfer.
TEST(TransferPacer, HoldsTheRateInEverySecondAtLowAndHighRates) {
  for (const int64_t rate : {2'000'000LL, 64'000'000LL, 2'000'000'000LL}) {
    SCOPED_TRACE(rate);
    FakeTime time;
    const int64_t chunk = TransferPacer::pieceFor(rate, 2'500'000);
    TransferPacer pacer = time.make(rate, chunk);
    const int64_t start = time.now;
    constexpr int kSeconds = 25;
    std::vector<int64_t> perSecond(kSeconds + 1, 0);
    int64_t total = 0;
    while (time.now - start < kSeconds * 1000) {
      pacer.beforeChunk();
      perSecond[static_cast<std::size_t>((time.now - start) / 1000)] += chunk;
      pacer.sent(chunk);
      total += chunk;
    }
    for (int second = 1; second < kSeconds; ++second) {
      EXPECT_NEAR(perSecond[second], rate, rate * 0.02) << "second " << second;
    }
    const double seconds = static_cast<double>(time.now - start) / 1000.0;
    EXPECT_NEAR(static_cast<double>(total) / seconds, rate, rate * 0.02);
    EXPECT_EQ(pacer.windowMs(), 4100);
    EXPECT_GT(pacer.speed(), 0);
  }
}

// Low rates go out in small pieces (never more than the send buffer holds),
// high ones in pieces of up to 4 MiB; no limit at all in the largest.
TEST(TransferPacer, PiecesFollowTheRate) {
  struct Case {
    int64_t rate;
    int64_t sendBuffer;
    int64_t piece;
  };
  const Case cases[] = {
      {2'000, 4'608, 4'608},           {2'000'000, 2'500'000, 9'000},     {2'000'000, 4'608, 7'812},
      {2'000'000, 0, 9'000},               {10'000'000, 4'608, 39'062},       {100'000'000, 2'500'000, 390'625},
      {1'000'000'000, 2'500'000, 3'906'250}, {2'147'483'647, 2'500'000, 4 << 20}, {0, 2'500'000, 4 << 20},
      {-1, 4'608, 4 << 20},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TransferPacer::pieceFor(c.rate, c.sendBuffer), c.piece) << c.rate << " with a buffer of " << c.sendBuffer;
  }
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
