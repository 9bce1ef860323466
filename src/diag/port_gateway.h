// SPDX-License-Identifier: MIT
#pragma once
// PortGateway: one router that opens ports on request, spoken to with
// NAT-PMP (libnatpmp) or UPnP IGD (miniupnpc). The find functions look for
// one; every call blocks on the network within the bounds of GatewaySearch
// and the libraries' own time-outs (a few seconds), so only a worker calls
// them. One gateway is used by one thread at a time.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "diag/port_mapping.h"

namespace vantrel {

struct GatewaySearch {
  // How long each kind of router gets to answer the first question.
  std::chrono::milliseconds natPmpWait{2000};
  std::chrono::milliseconds upnpWait{2000};
  // Where to ask instead of searching (tests): a NAT-PMP gateway's dotted
  // address (else the default route's gateway), a UPnP root description URL
  // (else SSDP discovery).
  std::string natPmpGateway;
  std::string upnpDescription;
  // What the router lists as the mapping's description.
  std::string description = "Vantrel File Manager";
};

// What a router did with a mapping request.
struct MapOutcome {
  enum class Kind {
    kMapped,  // `external` forwards to us for `lease` (0: until removed)
    kTaken,   // another computer or program holds `external`: left alone
    kFailed,  // the router refused or could not be understood
  };
  Kind kind = Kind::kFailed;
  uint16_t external = 0;
  std::chrono::seconds lease{0};
  std::string why;  // kTaken: who holds it; kFailed: what went wrong
};

class PortGateway {
 public:
  virtual ~PortGateway() = default;
  // "NAT-PMP" or "UPnP".
  virtual std::string kind() const = 0;
  // The router's address, for people.
  virtual std::string address() const = 0;
  // The router's public address; "" with `why` when it gave none we can use.
  virtual std::string publicAddress(std::string& why) = 0;
  // Asks for `external` to forward to `internal` on this computer.
  virtual MapOutcome map(PortProtocol protocol, uint16_t internal, uint16_t external, std::chrono::seconds lease) = 0;
  // Removes a mapping made by map(); false with `why` when the router did not.
  virtual bool unmap(PortProtocol protocol, uint16_t internal, uint16_t external, std::string& why) = 0;
};

// nullptr with `why` when no router answered (or answered nonsense).
std::unique_ptr<PortGateway> findNatPmpGateway(const GatewaySearch& search, std::string& why);
std::unique_ptr<PortGateway> findUpnpGateway(const GatewaySearch& search, std::string& why);

}  // namespace vantrel
