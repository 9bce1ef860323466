// SPDX-License-Identifier: MIT
#pragma once
// ProtocolFixture: a complete protocol context over a scratch settings hive, for
// tests of the exchanges with the central server. The scripted server of a test
// reads the encrypted bodies back with plainBody(). Tests only.

#include <gtest/gtest.h>

#include <string>

#include "core/base64.h"
#include "state/client_state.h"
#include "core/timer_service.h"
#include "net/reply_fields.h"
#include "platform/registry_hive.h"
#include "protocol/protocol_context.h"
#include "settings/settings_store.h"
#include "state/client_state.h"
#include "tests/support/temp_folder.h"

namespace vantrel::protocol_testing {

struct ProtocolFixture {
  ProtocolFixture() {
    settings.EnsureDefaults();
    target.SetServer("127.0.0.1", 80);
  }

  // Points every request at a scripted server on loopback.
  void useServer(uint16_t port) {
    target.SetServer("127.0.0.1", port);
    settings.SetSettingText("serveraddress", "127.0.0.1");
    settings.SetSettingNumber("serverport", port);
  }
  // A session key as a login would leave it, and the login's client ID.
  void loggedIn(int32_t clientId = 7) {
    key.DeriveSessionKey("pw");
    state.SetClientId(clientId);
    state.SetUserName("bob");
    state.SetPassword("pw");
    state.SetConnected(true);
  }

  // The form text of an encrypted request as the server decrypts it.
  std::string plainBody(const std::string& request) const {
    const std::size_t at = request.find("\r\n\r\ncrypted=");
    if (at == std::string::npos) return {};
    std::string encoded = request.substr(at + 12);
    if (encoded.size() >= 4 && encoded.compare(encoded.size() - 4, 4, "\r\n\r\n") == 0) encoded.resize(encoded.size() - 4);
    return key.DecryptText(base64Decode(encoded));
  }
  // The form text of a plain POST.
  static std::string formBody(const std::string& request) {
    const std::size_t at = request.find("\r\n\r\n");
    if (at == std::string::npos) return {};
    std::string body = request.substr(at + 4);
    if (body.size() >= 4 && body.compare(body.size() - 4, 4, "\r\n\r\n") == 0) body.resize(body.size() - 4);
    return body;
  }

  vantrel::testing::TempFolder dir;
  RegistryHive hive{dir.path().string()};
  SettingsStore settings{hive};
  TimerService timers;
  ClientState state{settings, timers};
  SessionKey key;
  ServerTarget target;
  ContestTable contest;
  ProtocolContext ctx{state, settings, key, target, contest};
};

}  // namespace vantrel::protocol_testing
