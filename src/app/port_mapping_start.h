// SPDX-License-Identifier: MIT
#pragma once
// What the login needs around port mapping on the home router: whether the
// router is worth asking, which UDP port to map before the pings have bound
// theirs, and what to say when the server and the router disagree on our
// public address. Free functions; the login worker calls them.

#include <chrono>
#include <cstdint>
#include <string>

#include "diag/port_mapping.h"
#include "protocol/protocol_context.h"

namespace vantrel {

// How long a login waits for the router's first answer: NAT-PMP's and UPnP's
// searches with a mapping request or two after them.
inline constexpr std::chrono::milliseconds kRouterAnswerWait{12000};

// True when the central server's host is this computer (a loopback address or
// one of its own): then no peer from outside learns where we are from it.
bool serverIsOnThisComputer(const std::string& host);
// The UDP port the pings will use: the one they have, else the setting
// "udpport" (8324 when unset); 0 when the system will pick it.
uint16_t expectedUdpPort(ProtocolContext& ctx);
// Logs when the server sees us at another address than the router's public
// one: a second router, or the provider's NAT, lies in between.
void noteAddressMismatch(ProtocolContext& ctx, const PortMappingStatus& mapping);

}  // namespace vantrel
