// SPDX-License-Identifier: MIT
#include "providers/client_state_facts.h"

#include <gtest/gtest.h>

#include "catalogue/shared_file_list.h"
#include "state/client_state.h"
#include "core/timer_service.h"
#include "crypto/session_key.h"
#include "platform/registry_hive.h"
#include "crypto/session_key.h"
#include "providers/client_env_root.h"
#include "settings/settings_store.h"
#include "state/client_state.h"
#include "state/upload_session.h"
#include "templates/sample_providers.h"
#include "templates/template_test_util.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

// The client page's commands read the running client's own state.
TEST(ClientStateFacts, PagesReadTheRunningClient) {
  vantrel::testing::TempFolder dir;
  RegistryHive hive(dir.path().string());
  SettingsStore settings(hive, "VantrelTest");
  settings.SetSettingNumber("contype", 2);
  settings.SetSettingNumber("maxusrband", 30000);
  TimerService timers;
  ClientState state(settings, timers);
  state.SetLocalAddress("192.168.7.7");
  SessionKey key;
  SharedFileList files((dir.path() / "me.dat").string());
  ClientStateFacts facts(state, settings, key, files, ClientEndpoints{[] { return 9000; }, [] { return std::string("hub.example"); }, {}, "/home/me"});
  state.NewUploadSession()->setPeerAddress("10.0.0.5");

  templates::SampleRequest request("192.168.7.7");
  providers::ClientEnvRoot root(facts, request);
  const auto r = templates::testing::renderText(
      "<# start; env.client.username; '|'; env.client.connectionType; '|'; env.client.maxBandwidthPerUser; '|'; "
      "env.client.port; '|'; env.client.serverAddress; ':'; env.client.serverPort; '|'; env.client.numberOfUsers; '|'; "
      "'' $ env.command.isOwner; '|'; env.client.maxAllowedUsers; '|'; "
      "while env.connectedUsers.hasMoreUsers; env.connectedUsers.ip; endwhile; endtmpl #>",
      &root);
  EXPECT_EQ(r.page, std::string(ClientLogin::kNotLoggedIn) + "|" + std::string(SettingsStore::ConnectionTypeNames()[2]) +
                        "|30|9000|hub.example:80|1|1|10|10.0.0.5");

  // Once a login set the name, the page shows it.
  state.SetUserName("carol");
  EXPECT_EQ(templates::testing::renderText("<# start; env.client.username; endtmpl #>", &root).page, "carol");
}

}  // namespace
}  // namespace vantrel
