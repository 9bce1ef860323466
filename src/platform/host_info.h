// SPDX-License-Identifier: MIT
#pragma once
// The host's own identity on the network: its name and its IPv4 addresses.
// Thread-safe: each call asks the system afresh.

#include <string>
#include <vector>

namespace vantrel {

// gethostname(); empty on failure.
std::string hostName();

// Dotted-quad IPv4 addresses of the interfaces that are up, in the system's
// order, without duplicates; loopback addresses only when asked for.
std::vector<std::string> hostIpv4Addresses(bool includeLoopback = false);

}  // namespace vantrel
