// SPDX-License-Identifier: MIT
// What the client reads itself from a router's answers (the libraries parse
// the packets and the XML): the texts of an existing mapping (internal
// client, internal port, description, lease) and of the public address, and
// the lines that show them to a person. Fields are separated by newlines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "diag/port_mapping.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool printable(std::string_view text) {
  for (const char c : text) {
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (fields.size() < 6) {
    const std::size_t end = input.find('\n', start);
    fields.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  fields.resize(6);
  const vantrel::ExistingMapping entry{fields[0], fields[1], fields[2]};

  if (const auto port = vantrel::parsePortText(fields[1])) check(*port != 0);
  if (const auto lease = vantrel::parseLeaseText(fields[3])) check(lease->count() >= 0);
  const auto address = vantrel::parsePublicAddress(fields[4]);
  if (address) {
    check(vantrel::parsePublicAddress(*address) == address);  // canonical already
    (void)vantrel::isPrivateAddress(*address);
  }
  const std::string holder = vantrel::describeHolder(entry);
  check(printable(holder));
  check(printable(vantrel::printableText(fields[5], 10)));
  if (vantrel::ownerOf(entry, fields[4], 8323) == vantrel::MappingOwner::kOurs) {
    check(address.has_value() && vantrel::parsePublicAddress(fields[0]) == address);
  }

  vantrel::PortMappingStatus status;
  status.phase = static_cast<vantrel::PortMappingStatus::Phase>(size % 7);
  status.gatewayKind = "UPnP";
  status.gateway = vantrel::printableText(fields[5], 64);
  status.publicAddress = address.value_or("");
  status.tcpPort = 8323;
  status.udpPort = 8324;
  status.tcpExternal = vantrel::parsePortText(fields[1]).value_or(0);
  status.problem = holder;
  check(printable(vantrel::describePortMapping(status)));
  return 0;
}
