// SPDX-License-Identifier: MIT
#pragma once
// TransferPacer: the per-download bandwidth limit. It works in windows that
// start at 500 ms and grow by 400 ms up to 4,100 ms: within a window it lets
// bytes through no faster than the rate, sleeping until each chunk is due; at each
// window's end it measures the speed and adds a delay per chunk when the
// measured speed ran ahead of the target. Sleeping is the only pacing.
// Without a limit it only measures the speed.
// One pacer per transfer, used by the transfer's thread only.

#include <cstdint>
#include <functional>

namespace vantrel {

class TransferPacer {
 public:
  using NowMs = std::function<int64_t()>;
  using SleepMs = std::function<void(int64_t)>;

  static constexpr int64_t kFirstWindowMs = 500;
  static constexpr int64_t kWindowStepMs = 400;
  static constexpr int64_t kLastGrowingWindowMs = 4000;
  // Paced pieces: the smallest is 9,000 bytes (less when the socket's send
  // buffer is smaller), the largest 4 MiB; in between about 1/256 s at the rate.
  static constexpr int64_t kSmallPiece = 9000;
  static constexpr int64_t kLargePiece = 4 << 20;
  static constexpr int64_t kPiecesPerSecond = 256;

  // The piece to send at a time at `rate` bytes per second (0 or less: no
  // limit, large pieces) when the socket's send buffer holds `sendBuffer`
  // bytes (0 or less when it cannot be read). Small pieces keep a low rate
  // smooth; large ones let a high rate go out in few system calls.
  static int64_t pieceFor(int64_t rate, int64_t sendBuffer);

  // `rate` in bytes per second; 0 or less means no limit.
  TransferPacer(int64_t rate, int64_t chunk, NowMs now, SleepMs sleep);

  // Waits as long as the limit asks before the next chunk may go.
  void beforeChunk();
  // Accounts a chunk that went out.
  void sent(int64_t bytes);
  // Bytes per second over the last closed window (0 before the first).
  int64_t speed() const { return m_speed; }
  int64_t windowMs() const { return m_window; }
  int64_t extraDelayMs() const { return m_extraDelay; }

 private:
  void closeWindowIfDue();

  const int64_t m_rate;
  const int64_t m_chunk;
  NowMs m_now;
  SleepMs m_sleep;
  int64_t m_window = kFirstWindowMs;
  int64_t m_windowStart;
  int64_t m_windowBytes = 0;
  int64_t m_extraDelay = 0;
  int64_t m_speed = 0;
};

}  // namespace vantrel
