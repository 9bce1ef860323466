// SPDX-License-Identifier: MIT
#pragma once
// Deployment values of the service: where the central server (its TCP and UDP
// ports), its web site, the sign-up pages and the mail relay live. The defaults point at a reference
// server on this machine; each can be overridden by the environment variable
// named beside it, read at the moment the value is needed.

#include <cstdint>
#include <cstdlib>
#include <string>

namespace vantrel::deployment {

namespace detail {
inline std::string fromEnv(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::string(v) : std::string(fallback);
}
}  // namespace detail

// Central server host written into "serveraddress" by the defaults.
inline std::string defaultServerHost() { return detail::fromEnv("VANTREL_SERVER_HOST", "localhost"); }
// SMTP relay for the firewall report.
inline std::string mailHost() { return detail::fromEnv("VANTREL_MAIL_HOST", "localhost"); }
inline std::string supportAddress() { return detail::fromEnv("VANTREL_SUPPORT_ADDRESS", "support@localhost"); }
inline std::string senderAddress() { return detail::fromEnv("VANTREL_SENDER_ADDRESS", "filemanager@localhost"); }
namespace detail {
// A port from 1 to 65535 in the variable, else the fallback.
inline uint16_t portFromEnv(const char* name, uint16_t fallback) {
  const std::string text = fromEnv(name, "");
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return fallback;
  const long port = std::strtol(text.c_str(), nullptr, 10);
  return port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : fallback;
}
}  // namespace detail

// The central server's TCP port: the default of "serverport", and the port of
// the discovery page when the web host names none. The reference server
// listens on 7001; a client built for a service on the web's own port sets 80.
inline uint16_t serverPort() { return detail::portFromEnv("VANTREL_SERVER_PORT", 7001); }
// Host (and optional ":port") of the service's web site, e.g. for
// "/checkforproxy.jsp"; the reference server serves it on its own port.
inline std::string webHost() {
  return detail::fromEnv("VANTREL_WEB_HOST", ("localhost:" + std::to_string(serverPort())).c_str());
}
// Host of the sign-up pages.
inline std::string signupHost() {
  return detail::fromEnv("VANTREL_SIGNUP_HOST", ("localhost:" + std::to_string(serverPort())).c_str());
}
// The central server's UDP ping port; a value that is not a port from 1 to
// 65535 counts as unset.
inline uint16_t serverUdpPort() { return detail::portFromEnv("VANTREL_SERVER_UDP_PORT", 7110); }
// The address of the service's discovery page's host: the web host, with the
// server's port when it names none.
inline std::string discoveryHost() {
  std::string host = webHost();
  const std::size_t colon = host.rfind(':');
  const bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos;
  if (!hasPort) host += ":" + std::to_string(serverPort());
  return host;
}

}  // namespace vantrel::deployment
