// SPDX-License-Identifier: MIT
// The shared-file list at 100,000 records: Save, Load and Lookup.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "catalogue/shared_file_list.h"

namespace {

using namespace vantrel;

constexpr int kRecords = 100000;

std::string scratchArchive() {
  return (std::filesystem::temp_directory_path() / ("catalogue-bench-" + std::to_string(getpid()) + ".dat")).string();
}

void fill(SharedFileList& list) {
  list.Clear();
  // Add saves every time; build the map through Load of a prepared archive instead.
  SharedFileMap map;
  for (int i = 1; i <= kRecords; ++i) {
    auto r = std::make_unique<CVantreldFile>("/home/user/shared/music/album " + std::to_string(i % 300) +
                                             "/track " + std::to_string(i) + ".mp3");
    r->fileName = "track " + std::to_string(i) + ".mp3";
    r->groupName = "Music";
    r->groupDirPath = "Music : Albums";
    r->fileId = i * 7;
    r->groupId = 12;
    r->dirId = 40;
    r->fileSize = 4000000;
    const auto key = static_cast<uint32_t>(r->fileId);
    map.set(key, std::move(r));
  }
  const auto bytes = encodeSharedFileArchive(map, 0);
  FILE* f = std::fopen(list.archivePath().c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  list.Load();
}

void BM_Save100k(benchmark::State& state) {
  SharedFileList list(scratchArchive());
  fill(list);
  for (auto _ : state) benchmark::DoNotOptimize(list.Save());
  std::filesystem::remove(list.archivePath());
}
BENCHMARK(BM_Save100k)->Unit(benchmark::kMillisecond);

void BM_Load100k(benchmark::State& state) {
  SharedFileList list(scratchArchive());
  fill(list);
  for (auto _ : state) benchmark::DoNotOptimize(list.Load());
  std::filesystem::remove(list.archivePath());
}
BENCHMARK(BM_Load100k)->Unit(benchmark::kMillisecond);

void BM_Lookup100k(benchmark::State& state) {
  SharedFileList list(scratchArchive());
  fill(list);
  std::mt19937 random(1);
  for (auto _ : state) benchmark::DoNotOptimize(list.Lookup(static_cast<int32_t>(random() % kRecords + 1) * 7));
  std::filesystem::remove(list.archivePath());
}
BENCHMARK(BM_Lookup100k);

}  // namespace
