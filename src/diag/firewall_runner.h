// SPDX-License-Identifier: MIT
#pragma once
// RunFirewallCheck: how a window runs the firewall check. The file server
// lets its port go (the check listens there), the check runs on a worker
// thread, the caller waits in steps (keeping its window alive in `wait`) for
// at most kMaxSteps of them, and the file server listens again afterwards,
// whatever the outcome.

#include <chrono>
#include <functional>

#include "diag/firewall_check.h"

namespace vantrel {

struct FileServerSwitch {
  std::function<bool()> pause;   // true when the server was listening and stopped
  std::function<bool()> resume;  // listen again unless it is listening
};

namespace firewall {
inline constexpr std::chrono::milliseconds kRunnerStep{500};
inline constexpr int kRunnerMaxSteps = 80;
// The check had not finished when the steps ran out.
inline constexpr int kCheckUnfinished = -2;
}  // namespace firewall

// `wait(step, done)` returns after `step`, or earlier once `done()` is true.
// Returns the check's result, or kCheckUnfinished. The worker is joined before
// this returns, so `check` is free to go afterwards (its own time-outs bound it).
int RunFirewallCheck(FirewallCheck& check, const FileServerSwitch& server,
                     const std::function<void(std::chrono::milliseconds, const std::function<bool()>&)>& wait,
                     std::chrono::milliseconds step = firewall::kRunnerStep, int maxSteps = firewall::kRunnerMaxSteps);

}  // namespace vantrel
