// SPDX-License-Identifier: MIT
#include "app/port_mapping_start.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include "protocol/server_target.h"

namespace vantrel {

bool serverIsOnThisComputer(const std::string& host) {
  if (host.empty() || host == "localhost") return true;
  const std::string address = ServerTarget::resolve(host);
  if (address.rfind("127.", 0) == 0) return true;
  in_addr server{};
  if (::inet_pton(AF_INET, address.c_str(), &server) != 1) return false;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool own = false;
  for (ifaddrs* i = list; i != nullptr && !own; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    own = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == server.s_addr;
  }
  ::freeifaddrs(list);
  return own;
}

uint16_t expectedUdpPort(ProtocolContext& ctx) {
  if (const int bound = ctx.udpPort.load(); bound > 0 && bound <= 65535) return static_cast<uint16_t>(bound);
  const int32_t setting = ctx.settings.GetSettingNumber("udpport");
  if (setting == 0) return 0;
  return setting > 0 && setting <= 65535 ? static_cast<uint16_t>(setting) : 8324;
}

void noteAddressMismatch(ProtocolContext& ctx, const PortMappingStatus& mapping) {
  const std::string seen = ctx.state.ExternalAddress();
  if (!mapping.mapped() || mapping.publicAddress.empty() || seen.empty() || seen == mapping.publicAddress) return;
  ctx.logText("The server sees this computer at " + seen + ", the router says its public address is " +
                  mapping.publicAddress +
                  ": another router (or the provider's NAT) lies in between, and peers may not reach the ports "
                  "opened on this one",
              1);
}

}  // namespace vantrel
