// SPDX-License-Identifier: MIT
#include "app/models/rate_history_model.h"

#include <algorithm>

namespace vantrel {

void RateHistoryModel::add(int64_t up, int64_t down) {
  m_samples.push_back(Sample{std::max<int64_t>(0, up), std::max<int64_t>(0, down)});
  while (m_samples.size() > kSamples) m_samples.pop_front();
}

int64_t RateHistoryModel::peak() const {
  int64_t most = 0;
  for (const Sample& s : m_samples) most = std::max({most, s.up, s.down});
  return most;
}

}  // namespace vantrel
