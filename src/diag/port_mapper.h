// SPDX-License-Identifier: MIT
#pragma once
// PortMapper: opens this client's file-server port (TCP) and ping port (UDP)
// on the home router, keeps the mappings alive and removes them again. It
// asks NAT-PMP first, then UPnP; it never replaces a mapping that someone
// else holds on the router, and takes the next external port instead.
//
// All talk with the router runs on the mapper's own worker thread; the other
// methods only hand it work and read its status, from any thread. stop() (and
// the destructor) removes the mappings and joins the worker, which may take
// the router's time-outs, a few seconds: call it where waiting is allowed.
// The log function is called on the worker and must outlive the mapper.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string_view>
#include <thread>

#include "diag/port_gateway.h"
#include "diag/port_mapping.h"

namespace vantrel {

class PortMapper {
 public:
  using LogFn = std::function<void(std::string_view text, int level)>;
  struct Options {
    GatewaySearch search;
    // The lease asked for; mappings are renewed at half of what was granted.
    std::chrono::seconds lease{3600};
    // External ports tried for one internal port (itself, then the next
    // ones) before giving up on it, when others hold them.
    int candidates = 8;
    // After no router answered, or a router failed three times running, when
    // to look for one again.
    std::chrono::seconds searchAgain{600};
    // After a failed request, when to ask the same router again.
    std::chrono::seconds retry{60};
  };

  PortMapper(Options options, LogFn log);
  ~PortMapper();
  PortMapper(const PortMapper&) = delete;
  PortMapper& operator=(const PortMapper&) = delete;

  // Starts the worker, which maps `tcp` and `udp` (0: that one not); the
  // status says kSearching until the first outcome is known.
  void start(uint16_t tcp, uint16_t udp);
  // The pings took another UDP port: the old mapping goes, the new one comes.
  void setUdpPort(uint16_t udp);
  // The setting was switched: off removes the mappings, on makes them again.
  void setEnabled(bool on);
  // Waits until the status is no longer kSearching, at most `wait` and only
  // while `abort` (polled) is false; returns the status then.
  PortMappingStatus waitForOutcome(std::chrono::milliseconds wait, const std::function<bool()>& abort = {}) const;
  PortMappingStatus status() const;
  // Removes the mappings and ends the worker.
  void stop();

 private:
  struct Held {
    uint16_t internal = 0;
    uint16_t external = 0;
    std::chrono::steady_clock::time_point renewAt{};
  };

  void run(std::stop_token stop);
  bool findGateway();
  void keep(PortProtocol protocol, uint16_t wanted, Held& held);
  void release(PortProtocol protocol, Held& held);
  void publish(PortMappingStatus::Phase phase);
  void log(const std::string& text, int level) const;

  Options m_options;
  LogFn m_log;

  // Only the worker touches these.
  std::unique_ptr<PortGateway> m_gateway;
  Held m_tcp;
  Held m_udp;
  std::string m_publicAddress;
  std::string m_problem;
  int m_failures = 0;
  std::chrono::steady_clock::time_point m_searchAt{};

  mutable std::mutex m_mutex;
  mutable std::condition_variable_any m_changed;
  PortMappingStatus m_status{PortMappingStatus::Phase::kNotStarted};  // guarded by m_mutex
  uint16_t m_wantTcp = 0;      // guarded by m_mutex
  uint16_t m_wantUdp = 0;      // guarded by m_mutex
  bool m_enabled = true;       // guarded by m_mutex
  bool m_dirty = false;        // guarded by m_mutex: work was handed over
  std::jthread m_worker;       // last: joined before the rest goes
};

}  // namespace vantrel
