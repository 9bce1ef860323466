// SPDX-License-Identifier: MIT
// Settings are read at the moment they are needed (per request, per transfer
// piece), so a read must stay cheap; writes happen on user actions and at exit.
#include <benchmark/benchmark.h>

#include "tests/support/temp_folder.h"
#include "settings/settings_store.h"

namespace {

using namespace vantrel;

struct Fixture {
  testing::TempFolder dir;
  RegistryHive hive{dir.path()};
  SettingsStore store{hive, "Vantrel", AutostartEntry(dir.file("autostart"), "/opt/vantrel/vantrel")};
};

void BM_GetSettingNumber(benchmark::State& state) {
  Fixture f;
  f.store.EnsureDefaults();
  for (auto _ : state) benchmark::DoNotOptimize(f.store.GetSettingNumber("maxusers"));
}
BENCHMARK(BM_GetSettingNumber);

void BM_GetSettingTextMissing(benchmark::State& state) {
  Fixture f;
  f.store.EnsureDefaults();
  for (auto _ : state) benchmark::DoNotOptimize(f.store.GetSettingText("cname"));
}
BENCHMARK(BM_GetSettingTextMissing);

void BM_GetUserSecret(benchmark::State& state) {
  Fixture f;
  f.store.CreateUserKey("alice");
  f.store.setCurrentUser("alice");
  f.store.SetUserSecret("password", "correct horse battery");
  for (auto _ : state) benchmark::DoNotOptimize(f.store.GetUserSecret("alice", "password"));
}
BENCHMARK(BM_GetUserSecret);

void BM_SetSettingNumber(benchmark::State& state) {
  Fixture f;
  f.store.EnsureDefaults();
  int32_t i = 0;
  for (auto _ : state) f.store.SetSettingNumber("tbts", ++i);
}
BENCHMARK(BM_SetSettingNumber)->Unit(benchmark::kMicrosecond);

void BM_ListUsers(benchmark::State& state) {
  Fixture f;
  for (int i = 0; i < state.range(0); ++i) f.store.CreateUserKey("user" + std::to_string(i));
  for (auto _ : state) benchmark::DoNotOptimize(f.store.ListUsers());
}
BENCHMARK(BM_ListUsers)->Arg(10)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
