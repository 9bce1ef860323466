// SPDX-License-Identifier: MIT
#pragma once
// Deployment values of the service: where the central server, its web site, the
// sign-up pages and the mail relay live. The defaults point at a reference
// server on this machine; each can be overridden by the environment variable
// named beside it, read at the moment the value is needed.

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

}  // namespace vantrel::deployment
