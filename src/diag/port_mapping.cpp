// SPDX-License-Identifier: MIT
#include "diag/port_mapping.h"

#include <arpa/inet.h>

namespace vantrel {
namespace {

std::string byHand(const PortMappingStatus& s) {
  return "forward TCP port " + std::to_string(s.tcpPort) + " and UDP port " + std::to_string(s.udpPort) + " by hand";
}

// "TCP port 8323", or "TCP port 40001 (8323 on this computer)" when the router
// gave another external port.
std::string portText(const char* protocol, uint16_t internal, uint16_t external) {
  std::string text = std::string(protocol) + " port " + std::to_string(external);
  if (external != internal) text += " (" + std::to_string(internal) + " on this computer)";
  return text;
}

std::string gatewayText(const PortMappingStatus& s) {
  return s.gatewayKind + " gateway " + (s.gateway.empty() ? std::string("(address unknown)") : s.gateway);
}

}  // namespace

const char* protocolName(PortProtocol protocol) {
  switch (protocol) {
    case PortProtocol::kTcp:
      return "TCP";
    case PortProtocol::kUdp:
      return "UDP";
  }
  return "TCP";
}

std::string describePortMapping(const PortMappingStatus& s) {
  using Phase = PortMappingStatus::Phase;
  switch (s.phase) {
    case Phase::kNotStarted:
      return "the ports are opened on the router at login";
    case Phase::kOff:
      return "automatic port mapping is off; " + byHand(s);
    case Phase::kLocalServer:
      return "the central server is on this computer; no ports were opened on the router";
    case Phase::kSearching:
      return "looking for a router that opens ports (NAT-PMP, then UPnP)";
    case Phase::kNoRouter:
      return "no router answered; " + byHand(s);
    case Phase::kFailed:
      return gatewayText(s) + " answered but opened no port" + (s.problem.empty() ? "" : ": " + s.problem) + "; " +
             byHand(s);
    case Phase::kMapped:
      break;
  }
  std::string forwarded;
  if (s.tcpExternal != 0) forwarded = portText("TCP", s.tcpPort, s.tcpExternal);
  if (s.udpExternal != 0) {
    forwarded += (forwarded.empty() ? "" : " and ") + portText("UDP", s.udpPort, s.udpExternal);
  }
  std::string text = gatewayText(s) + " forwards " + forwarded;
  if (!s.publicAddress.empty()) text += " of " + s.publicAddress;
  text += " to this computer";
  if (s.tcpExternal == 0 || s.udpExternal == 0) {
    const bool tcpMissing = s.tcpExternal == 0;
    const uint16_t missing = tcpMissing ? s.tcpPort : s.udpPort;
    text += std::string("; ") + (tcpMissing ? "TCP" : "UDP") + " port " + std::to_string(missing) + " is not mapped" +
            (s.problem.empty() ? "" : " (" + s.problem + ")") + ": forward it by hand";
  }
  return text;
}

std::optional<uint16_t> parsePortText(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

std::optional<std::chrono::seconds> parseLeaseText(std::string_view text) {
  constexpr int64_t kYear = 365LL * 24 * 3600;
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    // Stops growing once past a year, so no length of digits overflows.
    if (value <= kYear) value = value * 10 + (c - '0');
  }
  return std::chrono::seconds(value > kYear ? kYear : value);
}

std::optional<std::string> parsePublicAddress(std::string_view text) {
  if (text.empty() || text.size() > 15) return std::nullopt;
  const std::string copy(text);
  in_addr parsed{};
  if (::inet_pton(AF_INET, copy.c_str(), &parsed) != 1) return std::nullopt;
  const uint32_t host = ntohl(parsed.s_addr);
  if (host == 0 || host == 0xFFFFFFFFu) return std::nullopt;
  char canonical[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &parsed, canonical, sizeof canonical);
  return std::string(canonical);
}

bool isPrivateAddress(std::string_view dotted) {
  const std::string copy(dotted);
  in_addr parsed{};
  if (::inet_pton(AF_INET, copy.c_str(), &parsed) != 1) return false;
  const uint32_t a = ntohl(parsed.s_addr);
  struct Range {
    uint32_t base;
    int bits;
  };
  static constexpr Range kRanges[] = {
      {0x0A000000u, 8},   // 10/8
      {0x64400000u, 10},  // 100.64/10, the providers' shared NAT
      {0x7F000000u, 8},   // loopback
      {0xA9FE0000u, 16},  // link-local
      {0xAC100000u, 12},  // 172.16/12
      {0xC0A80000u, 16},  // 192.168/16
  };
  for (const Range& r : kRanges) {
    if ((a >> (32 - r.bits)) == (r.base >> (32 - r.bits))) return true;
  }
  return false;
}

std::string printableText(std::string_view text, std::size_t limit) {
  std::string out;
  for (const char c : text) {
    if (out.size() >= limit) {
      out += "...";
      break;
    }
    out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  }
  return out;
}

MappingOwner ownerOf(const ExistingMapping& entry, std::string_view ownAddress, uint16_t ownPort) {
  const auto client = parsePublicAddress(entry.internalClient);
  const auto port = parsePortText(entry.internalPort);
  if (!client || !port || ownAddress.empty()) return MappingOwner::kOther;
  return *client == ownAddress && *port == ownPort ? MappingOwner::kOurs : MappingOwner::kOther;
}

std::string describeHolder(const ExistingMapping& entry) {
  std::string text = printableText(entry.internalClient, 40) + " port " + printableText(entry.internalPort, 8);
  if (!entry.description.empty()) text += " (\"" + printableText(entry.description) + "\")";
  return text;
}

}  // namespace vantrel
