// SPDX-License-Identifier: MIT
// The UPnP IGD side of PortGateway, over miniupnpc. Every call is one HTTP
// exchange with the router, bounded by the library's socket time-outs.
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <cstdio>
#include <cstring>

#include "diag/port_gateway.h"

namespace vantrel {
namespace {

// UPnP error codes we act on.
constexpr int kNoSuchEntry = 714;
constexpr int kConflictInMappingEntry = 718;
constexpr int kOnlyPermanentLeases = 725;

std::string upnpError(int code) {
  switch (code) {
    case UPNPCOMMAND_HTTP_ERROR:
      return "the router could not be reached over HTTP or did not answer in time";
    case UPNPCOMMAND_INVALID_RESPONSE:
      return "the router's answer could not be read";
    case UPNPCOMMAND_INVALID_ARGS:
      return "the request was not valid";
    case UPNPCOMMAND_MEM_ALLOC_ERROR:
      return "out of memory";
    default:
      break;
  }
  const char* text = ::strupnperror(code);
  return "UPnP error " + std::to_string(code) + (text != nullptr ? std::string(" (") + text + ")" : std::string());
}

// "http://10.0.0.1:5000/ctl/IPConn" → "10.0.0.1".
std::string hostOf(const char* url) {
  if (url == nullptr) return {};
  std::string_view u(url);
  const std::size_t scheme = u.find("://");
  if (scheme != std::string_view::npos) u.remove_prefix(scheme + 3);
  u = u.substr(0, u.find_first_of(":/"));
  return printableText(u, 64);
}

class UpnpGateway : public PortGateway {
 public:
  UpnpGateway(UPNPUrls urls, const IGDdatas& data, const char* lanAddress, std::string description)
      : m_urls(urls), m_data(data), m_lan(lanAddress), m_description(std::move(description)) {}
  ~UpnpGateway() override { ::FreeUPNPUrls(&m_urls); }
  UpnpGateway(const UpnpGateway&) = delete;
  UpnpGateway& operator=(const UpnpGateway&) = delete;

  std::string kind() const override { return "UPnP"; }
  std::string address() const override { return hostOf(m_urls.controlURL); }

  std::string publicAddress(std::string& why) override {
    char text[64] = {};
    const int r = ::UPNP_GetExternalIPAddress(m_urls.controlURL, m_data.first.servicetype, text);
    if (r != UPNPCOMMAND_SUCCESS) {
      why = upnpError(r);
      return {};
    }
    text[sizeof text - 1] = '\0';
    const auto address = parsePublicAddress(text);
    if (!address) why = "it reported \"" + printableText(text, 20) + "\" as its public address";
    return address.value_or("");
  }

  MapOutcome map(PortProtocol protocol, uint16_t internal, uint16_t external, std::chrono::seconds lease) override {
    MapOutcome out;
    out.external = external;
    if (!parsePublicAddress(m_lan)) {
      out.why = "this computer's address toward the router is unknown";
      return out;
    }
    const std::string ext = std::to_string(external);
    const std::string in = std::to_string(internal);
    const char* proto = protocolName(protocol);
    // Someone else's mapping of this port is left as it is: some routers let
    // a second request from the same computer replace it silently.
    if (auto holder = existing(ext, proto); holder && ownerOf(*holder, m_lan, internal) == MappingOwner::kOther) {
      out.kind = MapOutcome::Kind::kTaken;
      out.why = describeHolder(*holder);
      return out;
    }
    int r = ::UPNP_AddPortMapping(m_urls.controlURL, m_data.first.servicetype, ext.c_str(), in.c_str(), m_lan.c_str(),
                                  m_description.c_str(), proto, nullptr, std::to_string(lease.count()).c_str());
    if (r == kOnlyPermanentLeases) {
      lease = std::chrono::seconds(0);
      r = ::UPNP_AddPortMapping(m_urls.controlURL, m_data.first.servicetype, ext.c_str(), in.c_str(), m_lan.c_str(),
                                m_description.c_str(), proto, nullptr, "0");
    }
    if (r == UPNPCOMMAND_SUCCESS) {
      // The library counts any answer without an error code as success, an
      // unreadable one too: the router must list the mapping as ours.
      const auto listed = lookUp(ext, proto);
      if (listed.code == UPNPCOMMAND_SUCCESS && ownerOf(listed.entry, m_lan, internal) == MappingOwner::kOther) {
        out.why = "it lists " + describeHolder(listed.entry) + " for the port after mapping it";
      } else if (listed.code < 0) {
        out.why = upnpError(listed.code);
      } else {
        // A positive code: a router that cannot list single mappings.
        out.kind = MapOutcome::Kind::kMapped;
        out.lease = lease;
      }
    } else if (r == kConflictInMappingEntry) {
      out.kind = MapOutcome::Kind::kTaken;
      out.why = "another computer (the router says)";
    } else {
      out.why = upnpError(r);
    }
    return out;
  }

  bool unmap(PortProtocol protocol, uint16_t internal, uint16_t external, std::string& why) override {
    const std::string ext = std::to_string(external);
    const char* proto = protocolName(protocol);
    // Once our lease ran out someone else may hold the port: theirs stays.
    if (auto holder = existing(ext, proto); holder && ownerOf(*holder, m_lan, internal) == MappingOwner::kOther) {
      return true;
    }
    const int r = ::UPNP_DeletePortMapping(m_urls.controlURL, m_data.first.servicetype, ext.c_str(), proto, nullptr);
    if (r == UPNPCOMMAND_SUCCESS || r == kNoSuchEntry) return true;
    why = upnpError(r);
    return false;
  }

 private:
  struct Listed {
    int code = UPNPCOMMAND_UNKNOWN_ERROR;
    ExistingMapping entry;
  };
  Listed lookUp(const std::string& ext, const char* proto) {
    // Larger than the library's documented sizes (16, 6, 80, 4, 16 bytes).
    char client[64] = {}, port[64] = {}, desc[128] = {}, enabled[64] = {}, lease[64] = {};
    Listed out;
    out.code = ::UPNP_GetSpecificPortMappingEntry(m_urls.controlURL, m_data.first.servicetype, ext.c_str(), proto,
                                                  nullptr, client, port, desc, enabled, lease);
    client[sizeof client - 1] = port[sizeof port - 1] = desc[sizeof desc - 1] = '\0';
    out.entry = ExistingMapping{client, port, desc};
    return out;
  }
  std::optional<ExistingMapping> existing(const std::string& ext, const char* proto) {
    Listed listed = lookUp(ext, proto);
    if (listed.code != UPNPCOMMAND_SUCCESS) return std::nullopt;
    return std::move(listed.entry);
  }

  UPNPUrls m_urls;
  IGDdatas m_data;
  std::string m_lan;  // this computer's address toward the router
  std::string m_description;
};

}  // namespace

std::unique_ptr<PortGateway> findUpnpGateway(const GatewaySearch& search, std::string& why) {
  UPNPUrls urls{};
  IGDdatas data{};
  char lan[64] = {};
  if (!search.upnpDescription.empty()) {
    if (::UPNP_GetIGDFromUrl(search.upnpDescription.c_str(), &urls, &data, lan, sizeof lan) != 1) {
      ::FreeUPNPUrls(&urls);
      why = "no internet gateway description could be read from " + printableText(search.upnpDescription, 100);
      return nullptr;
    }
  } else {
    int error = 0;
    // One search for internet gateways only: the library's general search
    // tries four kinds of device one after the other, each for the whole wait.
    UPNPDev* devices = ::upnpDiscoverDevice("urn:schemas-upnp-org:device:InternetGatewayDevice:1",
                                            static_cast<int>(search.upnpWait.count()), nullptr, nullptr,
                                            UPNP_LOCAL_PORT_ANY, 0, 2, &error);
    if (devices == nullptr) {
      why = error == UPNPDISCOVER_SUCCESS ? "no UPnP device answered within " +
                                                std::to_string(search.upnpWait.count()) + " ms"
                                          : "the UPnP search could not be sent (error " + std::to_string(error) + ")";
      return nullptr;
    }
    const int found = ::UPNP_GetValidIGD(devices, &urls, &data, lan, sizeof lan);
    ::freeUPNPDevlist(devices);
    if (found != 1 && found != 2) {
      if (found != 0) ::FreeUPNPUrls(&urls);
      why = found == 0 ? "no internet gateway among the UPnP devices that answered"
                       : "a UPnP device answered, but it is no internet gateway";
      return nullptr;
    }
  }
  if (urls.controlURL == nullptr || urls.controlURL[0] == '\0' || data.first.servicetype[0] == '\0') {
    ::FreeUPNPUrls(&urls);
    why = "the gateway's description names no internet connection service";
    return nullptr;
  }
  lan[sizeof lan - 1] = '\0';
  return std::make_unique<UpnpGateway>(urls, data, lan, search.description);
}

}  // namespace vantrel
