// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include <string>

#include "core/base64.h"

static void BM_Base64RoundTrip(benchmark::State& state) {
  const std::string input(static_cast<size_t>(state.range(0)), 'q');
  for (auto _ : state) {
    benchmark::DoNotOptimize(vantrel::base64Decode(vantrel::base64Encode(input)));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Base64RoundTrip)->Arg(100)->Arg(64 << 10);
