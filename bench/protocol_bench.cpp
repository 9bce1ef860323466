// SPDX-License-Identifier: MIT
// The cost of encrypting a request text, with the session key's cached key
// schedule and with the exported one-shot Encrypt; and encrypted requests per
// second against a loopback server after one login.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "core/timer_service.h"
#include "crypto/crypto_api.h"
#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "platform/registry_hive.h"
#include "protocol/protocol_context.h"
#include "protocol/server_channel.h"
#include "protocol/server_login.h"
#include "settings/settings_store.h"
#include "state/client_state.h"

namespace vantrel {
namespace {

const std::string kText(100, 'q');

void BM_EncryptTextCachedSchedule(benchmark::State& state) {
  SessionKey key;
  key.DeriveSessionKey("password");
  for (auto _ : state) benchmark::DoNotOptimize(key.EncryptText(kText));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncryptTextCachedSchedule);

void BM_EncryptOneShot(benchmark::State& state) {
  const unsigned char key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const unsigned char iv[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  unsigned char out[128];
  for (auto _ : state) {
    int outLength = sizeof out;
    benchmark::DoNotOptimize(Encrypt(key, 8, iv, reinterpret_cast<const unsigned char*>(kText.data()), 100, out, &outLength));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncryptOneShot);

void BM_EncryptedRequestsAfterLogin(benchmark::State& state) {
  const auto home = std::filesystem::temp_directory_path() / ("vantrel-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(home);
  {
    RegistryHive hive(home.string());
    SettingsStore settings(hive);
    settings.EnsureDefaults();
    TimerService timers;
    ClientState client(settings, timers);
    SessionKey key;
    ServerTarget target;
    ContestTable contest;
    ProtocolContext ctx(client, settings, key, target, contest);
    testing::ScriptedHttpServer server([](int fd, const std::string& request) {
      const bool login = request.find("action=login") != std::string::npos;
      sendText(fd, login ? "HTTP/1.0 200 OK\r\n\r\nresult=0&clientid=7&checksum=0&" : "HTTP/1.0 200 OK\r\n\r\nresult=0&");
    });
    target.SetServer("127.0.0.1", server.port());
    if (LoginRequest(ctx, "bench", "password", nullptr) != 0) {
      state.SkipWithError("login failed");
      return;
    }
    ServerChannel channel(ctx);
    std::string reply;
    for (auto _ : state) {
      const int code = channel.post("action=getlisting&categoryid=0", reply);
      if (ServerChannel::resultCode(code, reply) != 0) {
        state.SkipWithError("request failed");
        break;
      }
    }
    state.SetItemsProcessed(state.iterations());
  }
  std::filesystem::remove_all(home);
}
BENCHMARK(BM_EncryptedRequestsAfterLogin)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace vantrel
