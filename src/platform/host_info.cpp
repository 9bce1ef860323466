// SPDX-License-Identifier: MIT
#include "platform/host_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <limits.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace vantrel {

std::string hostName() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

std::vector<std::string> hostIpv4Addresses(bool includeLoopback) {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, ::freeifaddrs);
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    if ((it->ifa_flags & IFF_UP) == 0) continue;
    if ((it->ifa_flags & IFF_LOOPBACK) != 0 && !includeLoopback) continue;
    sockaddr_in sin{};
    std::copy_n(reinterpret_cast<const char*>(it->ifa_addr), sizeof sin, reinterpret_cast<char*>(&sin));
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text) == nullptr) continue;
    if (std::find(out.begin(), out.end(), text) == out.end()) out.emplace_back(text);
  }
  return out;
}

}  // namespace vantrel
