// SPDX-License-Identifier: MIT
#include "fileserver/transfer_pacer.h"

#include <algorithm>

namespace vantrel {

TransferPacer::TransferPacer(int64_t rate, int64_t chunk, NowMs now, SleepMs sleep)
    : m_rate(rate), m_chunk(chunk), m_now(std::move(now)), m_sleep(std::move(sleep)), m_windowStart(m_now()) {}

int64_t TransferPacer::pieceFor(int64_t rate, int64_t sendBuffer) {
  const int64_t small = sendBuffer > 0 ? std::min(sendBuffer, kSmallPiece) : kSmallPiece;
  if (rate <= 0) return kLargePiece;
  return std::clamp(rate / kPiecesPerSecond, small, kLargePiece);
}

void TransferPacer::beforeChunk() {
  if (m_rate <= 0) return;
  for (;;) {
    const int64_t now = m_now();
    const int64_t elapsed = now - m_windowStart;
    if (elapsed >= m_window) {
      closeWindowIfDue();
      continue;
    }
    // Bytes are spread over the window rather than sent in one burst at its
    // start: a burst would let the last window of a transfer finish early and
    // put the average well above the limit.
    const int64_t due = m_windowBytes * 1000 / m_rate;
    if (due <= elapsed) {
      if (m_extraDelay > 0) m_sleep(m_extraDelay);
      return;
    }
    m_sleep(std::min(due, m_window) - elapsed);
  }
}

void TransferPacer::sent(int64_t bytes) {
  m_windowBytes += bytes;
  closeWindowIfDue();
}

void TransferPacer::closeWindowIfDue() {
  const int64_t now = m_now();
  const int64_t elapsed = now - m_windowStart;
  if (elapsed < m_window || elapsed <= 0) return;
  m_speed = m_windowBytes * 1000 / elapsed;
  m_windowStart = now;
  m_windowBytes = 0;
  if (m_rate > 0 && m_speed > 0) {
    // Ran faster than the target: wait a little longer before every chunk.
    const double more = (static_cast<double>(m_chunk) / static_cast<double>(m_rate) -
                         static_cast<double>(m_chunk) / static_cast<double>(m_speed)) * 1000.0;
    const int64_t delay = m_extraDelay + static_cast<int64_t>(more);
    m_extraDelay = delay < 0 ? 0 : delay;
  } else {
    m_extraDelay = 0;  // no limit, or nothing went out: start afresh
  }
  if (m_window < kLastGrowingWindowMs) m_window += kWindowStepMs;
}

}  // namespace vantrel
