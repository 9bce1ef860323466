// SPDX-License-Identifier: MIT
#include "diag/port_mapper.h"

#include <algorithm>

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFailuresBeforeSearch = 3;
// A permanent lease (0) is still asked for again now and then: a router that
// restarted has forgotten it.
constexpr std::chrono::seconds kPermanentRenewal{1800};
constexpr std::chrono::seconds kShortestRenewal{10};

}  // namespace

PortMapper::PortMapper(Options options, LogFn log) : m_options(std::move(options)), m_log(std::move(log)) {}

PortMapper::~PortMapper() { stop(); }

void PortMapper::start(uint16_t tcp, uint16_t udp) {
  {
    std::scoped_lock lock(m_mutex);
    m_wantTcp = tcp;
    m_wantUdp = udp;
    m_dirty = true;
    m_status = PortMappingStatus{};
    m_status.phase = m_enabled ? PortMappingStatus::Phase::kSearching : PortMappingStatus::Phase::kOff;
    m_status.tcpPort = tcp;
    m_status.udpPort = udp;
  }
  if (!m_worker.joinable()) {
    m_worker = std::jthread([this](std::stop_token st) { run(st); });
  }
  m_changed.notify_all();
}

void PortMapper::setUdpPort(uint16_t udp) {
  {
    std::scoped_lock lock(m_mutex);
    if (m_wantUdp == udp) return;
    m_wantUdp = udp;
    m_dirty = true;
  }
  m_changed.notify_all();
}

void PortMapper::setEnabled(bool on) {
  {
    std::scoped_lock lock(m_mutex);
    if (m_enabled == on) return;
    m_enabled = on;
    m_dirty = true;
    // Until the worker has acted, the window already says what comes.
    m_status.phase = on ? PortMappingStatus::Phase::kSearching : PortMappingStatus::Phase::kOff;
  }
  m_changed.notify_all();
}

PortMappingStatus PortMapper::waitForOutcome(std::chrono::milliseconds wait,
                                             const std::function<bool()>& abort) const {
  const auto until = Clock::now() + wait;
  std::unique_lock lock(m_mutex);
  while (m_status.phase == PortMappingStatus::Phase::kSearching && Clock::now() < until) {
    if (abort && abort()) break;
    m_changed.wait_until(lock, std::min(until, Clock::now() + std::chrono::milliseconds(100)));
  }
  return m_status;
}

PortMappingStatus PortMapper::status() const {
  std::scoped_lock lock(m_mutex);
  return m_status;
}

void PortMapper::stop() {
  if (!m_worker.joinable()) return;
  m_worker.request_stop();
  m_changed.notify_all();
  m_worker.join();
  // The next start looks for the router afresh: the network may have changed.
  m_gateway.reset();
  m_searchAt = {};
  std::scoped_lock lock(m_mutex);
  m_status = PortMappingStatus{PortMappingStatus::Phase::kNotStarted};
}

void PortMapper::log(const std::string& text, int level) const {
  if (m_log) m_log(text, level);
}

void PortMapper::publish(PortMappingStatus::Phase phase) {
  std::scoped_lock lock(m_mutex);
  m_status.phase = phase;
  m_status.tcpPort = m_wantTcp;
  m_status.udpPort = m_wantUdp;
  m_status.gatewayKind = m_gateway ? m_gateway->kind() : std::string();
  m_status.gateway = m_gateway ? m_gateway->address() : std::string();
  m_status.publicAddress = m_publicAddress;
  m_status.tcpExternal = m_tcp.external;
  m_status.udpExternal = m_udp.external;
  m_status.problem = m_problem;
  m_changed.notify_all();
}

void PortMapper::run(std::stop_token stop) {
  using Phase = PortMappingStatus::Phase;
  while (!stop.stop_requested()) {
    uint16_t tcp = 0, udp = 0;
    bool enabled = true;
    {
      std::scoped_lock lock(m_mutex);
      tcp = m_wantTcp;
      udp = m_wantUdp;
      enabled = m_enabled;
      m_dirty = false;
    }
    Clock::time_point next = Clock::time_point::max();
    if (!enabled) {
      release(PortProtocol::kTcp, m_tcp);
      release(PortProtocol::kUdp, m_udp);
      m_problem.clear();
      m_searchAt = {};  // switched on again, it looks at once
      publish(Phase::kOff);
    } else if (!m_gateway && Clock::now() < m_searchAt) {
      next = m_searchAt;
    } else if (!m_gateway && !findGateway()) {
      m_searchAt = Clock::now() + m_options.searchAgain;
      next = m_searchAt;
      publish(Phase::kNoRouter);
    } else {
      m_problem.clear();
      keep(PortProtocol::kTcp, tcp, m_tcp);
      keep(PortProtocol::kUdp, udp, m_udp);
      if (m_failures >= kFailuresBeforeSearch) {
        log("Router: " + m_gateway->kind() + " gateway " + m_gateway->address() +
                " failed " + std::to_string(m_failures) + " times running; looking for a router again",
            1);
        m_gateway.reset();
        m_failures = 0;
        m_tcp = Held{};
        m_udp = Held{};
        next = Clock::now();
      } else {
        next = std::min(tcp != 0 ? m_tcp.renewAt : next, udp != 0 ? m_udp.renewAt : next);
        publish(m_tcp.external != 0 || m_udp.external != 0 ? Phase::kMapped : Phase::kFailed);
      }
    }
    std::unique_lock lock(m_mutex);
    if (next == Clock::time_point::max()) {
      m_changed.wait(lock, stop, [this] { return m_dirty; });
    } else {
      m_changed.wait_until(lock, stop, next, [this] { return m_dirty; });
    }
  }
  // Whatever we opened is closed again before the client goes.
  if (m_gateway) {
    release(PortProtocol::kTcp, m_tcp);
    release(PortProtocol::kUdp, m_udp);
  }
}

bool PortMapper::findGateway() {
  std::string natPmpWhy, upnpWhy;
  m_gateway = findNatPmpGateway(m_options.search, natPmpWhy);
  if (!m_gateway) m_gateway = findUpnpGateway(m_options.search, upnpWhy);
  if (!m_gateway) {
    log("Router: no router answered (NAT-PMP: " + natPmpWhy + "; UPnP: " + upnpWhy +
            "); the ports must be forwarded by hand",
        1);
    return false;
  }
  std::string why;
  m_publicAddress = m_gateway->publicAddress(why);
  log("Router: found the " + m_gateway->kind() + " gateway " + m_gateway->address() +
          (m_publicAddress.empty() ? "; it gives no public address (" + why + ")"
                                   : ", public address " + m_publicAddress),
      1);
  if (!m_publicAddress.empty() && isPrivateAddress(m_publicAddress)) {
    log("Router: its public address " + m_publicAddress +
            " is a private one: another router (or the provider's) lies between it and the internet, and the "
            "ports opened here may not be reachable from outside",
        1);
  }
  m_tcp = Held{};
  m_udp = Held{};
  m_failures = 0;
  return true;
}

void PortMapper::keep(PortProtocol protocol, uint16_t wanted, Held& held) {
  const char* name = protocolName(protocol);
  if (held.external != 0 && held.internal != wanted) release(protocol, held);
  if (wanted == 0) return;
  const auto now = Clock::now();
  if (held.internal == wanted && now < held.renewAt) return;
  const bool renewing = held.external != 0;

  // A renewal asks for the port it has; a first request for our own port
  // number, then the next ones while others hold them.
  const uint16_t first = renewing ? held.external : wanted;
  const int tries = renewing ? 1 : std::max(1, m_options.candidates);
  std::string taken;
  for (int i = 0; i < tries && first + i <= 65535; ++i) {
    const auto external = static_cast<uint16_t>(first + i);
    const MapOutcome outcome = m_gateway->map(protocol, wanted, external, m_options.lease);
    switch (outcome.kind) {
      case MapOutcome::Kind::kMapped: {
        const bool changed = !renewing || outcome.external != held.external;
        held.internal = wanted;
        held.external = outcome.external;
        const auto half = outcome.lease.count() == 0 ? kPermanentRenewal : outcome.lease / 2;
        held.renewAt = Clock::now() + std::max<std::chrono::seconds>(half, kShortestRenewal);
        m_failures = 0;
        log("Router: " + m_gateway->kind() + " gateway " + m_gateway->address() + (changed ? " maps " : " renewed ") +
                name + " port " + std::to_string(outcome.external) +
                (m_publicAddress.empty() ? "" : " of " + m_publicAddress) + " to port " + std::to_string(wanted) +
                " of this computer (" +
                (outcome.lease.count() == 0 ? std::string("until removed")
                                            : "lease " + std::to_string(outcome.lease.count()) + " s") +
                ")",
            changed ? 1 : 2);
        if (renewing) {
          // The public address may change under a running mapping.
          std::string why;
          const std::string address = m_gateway->publicAddress(why);
          if (!address.empty() && address != m_publicAddress) {
            log("Router: the public address is now " + address, 1);
            m_publicAddress = address;
          }
        }
        return;
      }
      case MapOutcome::Kind::kTaken:
        log(std::string("Router: ") + name + " port " + std::to_string(external) +
                " on the router is already forwarded to " + outcome.why + "; it is left alone",
            1);
        taken = outcome.why;
        continue;
      case MapOutcome::Kind::kFailed:
        log(std::string("Router: ") + m_gateway->kind() + " gateway " + m_gateway->address() + " did not map " + name +
                " port " + std::to_string(wanted) + ": " + outcome.why,
            1);
        m_problem = outcome.why;
        held = Held{};
        held.internal = wanted;
        held.renewAt = Clock::now() + m_options.retry;
        ++m_failures;
        return;
    }
  }
  m_problem = std::string(name) + " port" + (tries > 1 ? "s " + std::to_string(first) + " to " +
                                                             std::to_string(std::min(65535, first + tries - 1))
                                                       : " " + std::to_string(first)) +
              " on the router " + (tries > 1 ? "are" : "is") + " held by others";
  log("Router: " + m_problem + "; " + name + " port " + std::to_string(wanted) + " is not mapped", 1);
  held = Held{};
  held.internal = wanted;
  held.renewAt = Clock::now() + m_options.searchAgain;
}

void PortMapper::release(PortProtocol protocol, Held& held) {
  if (held.external == 0 || !m_gateway) {
    held = Held{};
    return;
  }
  std::string why;
  const std::string where = m_gateway->kind() + " gateway " + m_gateway->address();
  if (m_gateway->unmap(protocol, held.internal, held.external, why)) {
    log("Router: " + where + " no longer forwards " + protocolName(protocol) + " port " +
            std::to_string(held.external),
        1);
  } else {
    log("Router: " + where + " did not remove the mapping of " + protocolName(protocol) + " port " +
            std::to_string(held.external) + ": " + why + " (it ends with its lease)",
        1);
  }
  held = Held{};
}

}  // namespace vantrel
