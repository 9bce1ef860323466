// SPDX-License-Identifier: MIT
// The file server counts every block it sends through ClientState::CountSent,
// from every connection thread at once; this keeps that path cheap.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/registry_hive.h"
#include "settings/settings_store.h"
#include "state/client_state.h"

namespace {

using namespace vantrel;

struct Fixture {
  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-bench-XXXXXX").string();
    dir = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    hive = std::make_unique<RegistryHive>(dir);
    settings = std::make_unique<SettingsStore>(*hive, "VantrelBench");
    state = std::make_unique<ClientState>(*settings, timers);
    state->Initialise();
    state->SetLocalAddress("192.168.1.5");
  }
  ~Fixture() {
    state.reset();
    settings.reset();
    hive.reset();
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
  std::string dir;
  TimerService timers;
  std::unique_ptr<RegistryHive> hive;
  std::unique_ptr<SettingsStore> settings;
  std::unique_ptr<ClientState> state;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_CountSent(benchmark::State& st) {
  ClientState& state = *fixture().state;
  for (auto _ : st) benchmark::DoNotOptimize(state.CountSent(16384, "10.0.0.9"));
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_CountSent)->Threads(1)->Threads(4);

void BM_UploadsFromAddress(benchmark::State& st) {
  ClientState& state = *fixture().state;
  while (state.SessionCount() < 200) state.NewUploadSession()->setPeerAddress("10.0.0.9");
  for (auto _ : st) benchmark::DoNotOptimize(state.UploadsFromAddress("10.0.0.10"));
}
BENCHMARK(BM_UploadsFromAddress);

}  // namespace
