// SPDX-License-Identifier: MIT
#pragma once
// RateHistoryModel: the upload and download rates of the last ten minutes, one
// sample a second, oldest first, for the rate graph of the transfer views.
// Not thread-safe: the owner samples and reads it on one thread.

#include <cstddef>
#include <cstdint>
#include <deque>

namespace vantrel {

class RateHistoryModel {
 public:
  static constexpr std::size_t kSamples = 600;  // ten minutes of seconds

  struct Sample {
    int64_t up = 0;    // bytes per second
    int64_t down = 0;  // bytes per second
  };

  // Adds the newest sample; the oldest goes once there are kSamples.
  void add(int64_t up, int64_t down);
  const std::deque<Sample>& samples() const { return m_samples; }
  // The largest rate of either kind in the history (0 when empty).
  int64_t peak() const;

 private:
  std::deque<Sample> m_samples;
};

}  // namespace vantrel
