// SPDX-License-Identifier: MIT
#include "core/deployment.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/testing/env_override.h"

namespace vantrel {
namespace {

// A client built for the reference server finds it on its port; one built for
// a service on the web's own port (80) keeps using that port everywhere.
TEST(DeploymentTest, TheServersPortDecidesTheWebSiteAndTheDiscoveryPage) {
  struct Case {
    const char* name;
    std::optional<std::string> port;
    std::optional<std::string> web;
    uint16_t wantPort;
    const char* wantWeb;
    const char* wantDiscovery;
  };
  const Case cases[] = {
      {"nothing set: the reference server", std::nullopt, std::nullopt, 7001, "localhost:7001", "localhost:7001"},
      {"a real service on port 80", "80", "www.example.org", 80, "www.example.org", "www.example.org:80"},
      {"a web host with its own port", "80", "www.example.org:8080", 80, "www.example.org:8080",
       "www.example.org:8080"},
      {"another port for the reference server", "9100", std::nullopt, 9100, "localhost:9100", "localhost:9100"},
      {"zero is no port", "0", std::nullopt, 7001, "localhost:7001", "localhost:7001"},
      {"too large", "65536", std::nullopt, 7001, "localhost:7001", "localhost:7001"},
      {"not a number", "http", std::nullopt, 7001, "localhost:7001", "localhost:7001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::EnvOverride env;
    env.set("VANTREL_SERVER_PORT", c.port);
    env.set("VANTREL_WEB_HOST", c.web);
    env.set("VANTREL_SIGNUP_HOST", std::nullopt);
    EXPECT_EQ(deployment::serverPort(), c.wantPort);
    EXPECT_EQ(deployment::webHost(), c.wantWeb);
    EXPECT_EQ(deployment::discoveryHost(), c.wantDiscovery);
    if (!c.web) {
      EXPECT_EQ(deployment::signupHost(), c.wantWeb);
    }
  }
}

}  // namespace
}  // namespace vantrel
