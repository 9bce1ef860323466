// SPDX-License-Identifier: MIT
// The NAT-PMP side of PortGateway, over libnatpmp. The library paces its
// own resends; we bound the whole wait and poll its socket in between.
#include <arpa/inet.h>
#include <natpmp.h>
#include <poll.h>

#include <algorithm>

#include "diag/port_gateway.h"

namespace vantrel {
namespace {

constexpr int kTimedOut = -1000;

std::string natPmpError(int code) {
  switch (code) {
    case kTimedOut:
    case NATPMP_ERR_NOGATEWAYSUPPORT:
      return "no NAT-PMP answer";
    case NATPMP_ERR_RECVFROM:
      return "nothing answers NAT-PMP there (refused)";
    case NATPMP_ERR_CANNOTGETGATEWAY:
      return "this computer has no default gateway";
    case NATPMP_ERR_UNSUPPORTEDVERSION:
      return "it answered in another version of NAT-PMP";
    case NATPMP_ERR_UNSUPPORTEDOPCODE:
      return "it does not know the request";
    case NATPMP_ERR_NOTAUTHORIZED:
      return "it refused the request (not authorized)";
    case NATPMP_ERR_NETWORKFAILURE:
      return "it is not connected to the internet";
    case NATPMP_ERR_OUTOFRESOURCES:
      return "it has no room for more mappings";
    case NATPMP_ERR_WRONGPACKETSOURCE:
      return "an answer came from another address";
    default:
      return "NAT-PMP error " + std::to_string(code);
  }
}

std::string dotted(in_addr_t address) {
  in_addr a{};
  a.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

class NatPmpGateway : public PortGateway {
 public:
  explicit NatPmpGateway(std::chrono::milliseconds wait) : m_wait(wait) {}
  ~NatPmpGateway() override {
    if (m_open) ::closenatpmp(&m_natpmp);
  }
  NatPmpGateway(const NatPmpGateway&) = delete;
  NatPmpGateway& operator=(const NatPmpGateway&) = delete;

  // 0 when the gateway answered the public-address request.
  int open(const std::string& forced) {
    in_addr forcedAddress{};
    const bool force = !forced.empty() && ::inet_pton(AF_INET, forced.c_str(), &forcedAddress) == 1;
    const int r = ::initnatpmp(&m_natpmp, force ? 1 : 0, force ? forcedAddress.s_addr : 0);
    if (r < 0) return r;
    m_open = true;
    return askPublicAddress();
  }

  std::string kind() const override { return "NAT-PMP"; }
  std::string address() const override { return m_open ? dotted(m_natpmp.gateway) : std::string(); }

  std::string publicAddress(std::string& why) override {
    const int r = askPublicAddress();
    if (r != 0) {
      why = natPmpError(r);
      return {};
    }
    if (m_public.empty()) why = "it reported no usable public address";
    return m_public;
  }

  MapOutcome map(PortProtocol protocol, uint16_t internal, uint16_t external, std::chrono::seconds lease) override {
    MapOutcome out;
    natpmpresp_t response{};
    const int r = request(protocol, internal, external, static_cast<uint32_t>(lease.count()), response);
    if (r != 0) {
      out.why = natPmpError(r);
      return out;
    }
    const uint16_t mapped = response.pnu.newportmapping.mappedpublicport;
    if (mapped == 0 || response.pnu.newportmapping.lifetime == 0) {
      out.why = "it granted no port";
      return out;
    }
    // The router picks the public port; one held by another computer is never
    // handed out twice, so there is nobody to take it from.
    out.kind = MapOutcome::Kind::kMapped;
    out.external = mapped;
    out.lease = std::chrono::seconds(response.pnu.newportmapping.lifetime);
    return out;
  }

  bool unmap(PortProtocol protocol, uint16_t internal, uint16_t, std::string& why) override {
    natpmpresp_t response{};
    // Lifetime 0 removes the mapping of that internal port.
    const int r = request(protocol, internal, 0, 0, response);
    if (r != 0) why = natPmpError(r);
    return r == 0;
  }

 private:
  int askPublicAddress() {
    int r = ::sendpublicaddressrequest(&m_natpmp);
    if (r < 0) return r;
    natpmpresp_t response{};
    r = await(NATPMP_RESPTYPE_PUBLICADDRESS, 0, response);
    if (r != 0) return r;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &response.pnu.publicaddress.addr, text, sizeof text);
    m_public = parsePublicAddress(text).value_or("");
    return 0;
  }

  int request(PortProtocol protocol, uint16_t internal, uint16_t external, uint32_t lifetime,
              natpmpresp_t& response) {
    const bool tcp = protocol == PortProtocol::kTcp;
    const int r = ::sendnewportmappingrequest(&m_natpmp, tcp ? NATPMP_PROTOCOL_TCP : NATPMP_PROTOCOL_UDP, internal,
                                              external, lifetime);
    if (r < 0) return r;
    return await(tcp ? NATPMP_RESPTYPE_TCPPORTMAPPING : NATPMP_RESPTYPE_UDPPORTMAPPING, internal, response);
  }

  // Waits for the answer of the given type (and internal port), at most
  // m_wait. An answer of another type or port is a late answer to an earlier
  // request that timed out: it is passed over.
  int await(uint16_t type, uint16_t internal, natpmpresp_t& response) {
    const auto deadline = std::chrono::steady_clock::now() + m_wait;
    for (;;) {
      const int r = ::readnatpmpresponseorretry(&m_natpmp, &response);
      if (r == 0) {
        const bool mapping = type != NATPMP_RESPTYPE_PUBLICADDRESS;
        if (response.type == type && (!mapping || response.pnu.newportmapping.privateport == internal)) return 0;
        // The library took our request as answered: it is still waiting.
        m_natpmp.has_pending_request = 1;
      } else if (r != NATPMP_TRYAGAIN) {
        return r;
      }
      // A flood of stray answers ends with the wait too.
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return kTimedOut;
      if (r == 0) continue;
      timeval retry{};
      ::getnatpmprequesttimeout(&m_natpmp, &retry);
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      const auto untilRetry = std::chrono::milliseconds(retry.tv_sec * 1000 + retry.tv_usec / 1000);
      pollfd p{m_natpmp.s, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::clamp(std::min(left, untilRetry), std::chrono::milliseconds(1),
                                                std::chrono::milliseconds(1000))
                                         .count()));
    }
  }

  std::chrono::milliseconds m_wait;
  natpmp_t m_natpmp{};
  bool m_open = false;
  std::string m_public;
};

}  // namespace

std::unique_ptr<PortGateway> findNatPmpGateway(const GatewaySearch& search, std::string& why) {
  auto gateway = std::make_unique<NatPmpGateway>(search.natPmpWait);
  const int r = gateway->open(search.natPmpGateway);
  if (r != 0) {
    const std::string where = gateway->address();
    why = natPmpError(r) + (where.empty() ? "" : " from " + where);
    return nullptr;
  }
  return gateway;
}

}  // namespace vantrel
