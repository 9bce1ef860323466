// SPDX-License-Identifier: MIT
#pragma once
// What port mapping on the home router has done, as values, and the one text
// that tells a person about it (the firewall report's "Router:" line and the
// Connection page's status line). Beside them, the readers of the few values
// that the gateway libraries hand back as text (ports, lease times, the
// router's public address, the description of someone else's mapping): a
// router's answers are outside input, so these never trust them.
//
// Plain values and free functions: any thread.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

enum class PortProtocol { kTcp, kUdp };

// "TCP" or "UDP", as routers and people name them.
const char* protocolName(PortProtocol protocol);

struct PortMappingStatus {
  enum class Phase {
    kNotStarted,   // not logged in: nothing asked yet
    kOff,          // the setting is off (or vantreld --no-port-mapping)
    kLocalServer,  // the central server is on this computer: nobody outside needs us
    kSearching,    // looking for a router, or mapping
    kMapped,       // at least one port is mapped
    kNoRouter,     // neither NAT-PMP nor UPnP answered
    kFailed,       // a router answered but mapped nothing
  };
  Phase phase = Phase::kOff;
  std::string gatewayKind;    // "NAT-PMP" or "UPnP"; "" before one answered
  std::string gateway;        // the router's address
  std::string publicAddress;  // as the router reports it; "" when unknown
  uint16_t tcpPort = 0;       // the ports on this computer
  uint16_t udpPort = 0;
  uint16_t tcpExternal = 0;   // the ports on the router's public side; 0: not mapped
  uint16_t udpExternal = 0;
  std::string problem;        // what went wrong, for a person; "" when nothing did

  bool mapped() const { return tcpExternal != 0 || udpExternal != 0; }
};

// The status as one line for a person, without a trailing full stop, e.g.
// "NAT-PMP gateway 192.168.1.1 forwards TCP port 8323 and UDP port 8324 of
// 198.51.100.7 to this computer", or "no router answered; forward TCP port
// 8323 and UDP port 8324 by hand".
std::string describePortMapping(const PortMappingStatus& status);

// A port as a router writes it: decimal digits only, 1 to 65535.
std::optional<uint16_t> parsePortText(std::string_view text);
// A lease in seconds as a router writes it: decimal digits, at most a year
// (longer ones are read as a year: we renew long before either ends).
std::optional<std::chrono::seconds> parseLeaseText(std::string_view text);
// A router's public address: a dotted IPv4 address other than 0.0.0.0 and
// the broadcast address.
std::optional<std::string> parsePublicAddress(std::string_view text);
// True for addresses that are never reachable from the internet (private,
// shared, loopback, link-local): a router that reports one sits behind
// another router.
bool isPrivateAddress(std::string_view dotted);
// A router's text made safe for a log line or a window: printable ASCII only
// (anything else becomes "?"), at most `limit` characters.
std::string printableText(std::string_view text, std::size_t limit = 60);

// Whose is a mapping the router already has on the external port we want.
struct ExistingMapping {
  std::string internalClient;  // as the router wrote it
  std::string internalPort;
  std::string description;
};
enum class MappingOwner { kOurs, kOther };
// Ours only when it forwards to this computer (`ownAddress`) and the port we
// listen on; anything else, a garbled entry included, belongs to someone else.
MappingOwner ownerOf(const ExistingMapping& entry, std::string_view ownAddress, uint16_t ownPort);
// "192.168.1.20 port 8323 (\"Other program\")" for a person.
std::string describeHolder(const ExistingMapping& entry);

}  // namespace vantrel
