// SPDX-License-Identifier: MIT
#pragma once
// ServerTarget: where the central server is — host name, its dotted address and
// port — and the request URLs built from them. Set at login and when the server
// redirects the client ("srvAddress"); every request after that goes to the new
// target. One per process, owned by the application; thread-safe.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vantrel {

class ServerTarget {
 public:
  static constexpr std::size_t kMaxHost = 29;
  static constexpr int kRedirectPort = 7001;
  static constexpr int kDefaultPort = 80;

  // Stores host, port and address (a dotted host as it is, otherwise resolved).
  // Returns 1, or 0 with nothing changed when the host has 30 characters or more.
  int SetServer(std::string_view host, int port);
  // Changes only the port; a value outside 1..65535 means the default, 80.
  void setPort(int port);

  std::string host() const;
  std::string address() const;  // "" when the host could not be resolved
  int port() const;

  // "http:\\host:port\clientrequest" — the login URL.
  std::string loginUrl() const;
  // The same with "?clientid=" + the client ID: every other request.
  std::string requestUrl(int32_t clientId) const;

  // The dotted address of a host: as it is when dotted, else the first IPv4
  // address the resolver gives; "" when there is none.
  static std::string resolve(std::string_view host);

 private:
  mutable std::mutex m_mutex;
  std::string m_host;          // guarded by m_mutex
  std::string m_address;       // guarded by m_mutex
  int m_port = kDefaultPort;   // guarded by m_mutex
};

}  // namespace vantrel
