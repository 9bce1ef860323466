// SPDX-License-Identifier: MIT
#pragma once
// Deployment values of the service: where the central server (and its UDP
// ping port), its web site, the sign-up pages and the mail relay live. The defaults point at a reference
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

// Host (and optional ":port") of the service's web site, e.g. for "/checkforproxy.jsp".
inline std::string webHost() { return detail::fromEnv("VANTREL_WEB_HOST", "localhost:7001"); }
// Central server host written into "serveraddress" by the defaults.
inline std::string defaultServerHost() { return detail::fromEnv("VANTREL_SERVER_HOST", "localhost"); }
// Host of the sign-up pages.
inline std::string signupHost() { return detail::fromEnv("VANTREL_SIGNUP_HOST", "localhost:7001"); }
// SMTP relay for the firewall report.
inline std::string mailHost() { return detail::fromEnv("VANTREL_MAIL_HOST", "localhost"); }
inline std::string supportAddress() { return detail::fromEnv("VANTREL_SUPPORT_ADDRESS", "support@localhost"); }
inline std::string senderAddress() { return detail::fromEnv("VANTREL_SENDER_ADDRESS", "filemanager@localhost"); }
// The central server's UDP ping port; a value that is not a port from 1 to
// 65535 counts as unset.
inline uint16_t serverUdpPort() {
  constexpr uint16_t kDefault = 7110;
  const std::string text = detail::fromEnv("VANTREL_SERVER_UDP_PORT", "");
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return kDefault;
  const long port = std::strtol(text.c_str(), nullptr, 10);
  return port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : kDefault;
}

}  // namespace vantrel::deployment
