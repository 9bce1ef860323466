// SPDX-License-Identifier: MIT
#include "diag/firewall_runner.h"

#include <atomic>
#include <thread>

namespace vantrel {

int RunFirewallCheck(FirewallCheck& check, const FileServerSwitch& server,
                     const std::function<void(std::chrono::milliseconds, const std::function<bool()>&)>& wait,
                     std::chrono::milliseconds step, int maxSteps) {
  if (server.pause) server.pause();
  std::atomic<bool> done{false};
  int result = firewall::kCheckUnfinished;
  std::jthread worker([&] {
    result = check.run();
    done = true;
  });
  const std::function<bool()> finished = [&] { return done.load(); };
  for (int steps = 0; steps < maxSteps && !done; ++steps) wait(step, finished);
  const bool inTime = done;
  worker.join();
  // Whatever the outcome, and also when it was not listening before.
  if (server.resume) server.resume();
  return inTime ? result : firewall::kCheckUnfinished;
}

}  // namespace vantrel
