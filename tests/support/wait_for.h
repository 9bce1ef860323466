// SPDX-License-Identifier: MIT
#pragma once
// waitFor: the one bounded wait of the tests. Polls a condition until it holds
// or the limit passes, so that a test waits for threads, sockets and child
// processes without a bare sleep and never hangs. Thread-safe as far as the
// condition is.

#include <chrono>
#include <thread>

namespace vantrel::testing {

// True as soon as `done()` holds; false when it still does not once `limit`
// has passed (it is asked one last time then).
template <class Predicate>
bool waitFor(Predicate&& done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace vantrel::testing
