// SPDX-License-Identifier: MIT
#pragma once
// HttpPinger: pings the central server with "action=ping" over HTTP every
// interval, for networks that drop the UDP ping (setting "tcppings" 1). One
// thread; start and stop from the owner's thread.

#include <thread>

#include "protocol/pinger.h"

namespace vantrel {

class HttpPinger : public Pinger {
 public:
  using Pinger::Pinger;
  ~HttpPinger() override { stop(); }

  bool start() override;
  void stop() override;

 private:
  void run(std::stop_token st);

  std::jthread m_thread;
};

}  // namespace vantrel
