// SPDX-License-Identifier: MIT
// Search over a catalogue of 1,000,000 shared file names: a rare name, a
// common word, two words, and a common word with the size and kind filters.
// The catalogue is built once (it takes a while) in a scratch database file.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "server/storage/database.h"
#include "server/store/catalogue_store.h"

namespace {

using namespace vantrel::server;

constexpr int kFiles = 1'000'000;

struct Catalogue {
  Catalogue() {
    path = std::filesystem::temp_directory_path() / ("vantrel-search-bench-" + std::to_string(::getpid()) + ".db");
    db.open(path.string());
    db.exec("INSERT INTO users(id, name, password, created) VALUES (1, 'owner', x'00', 0)");
    const int64_t category = store.createCategory(0, "Music", true);
    NewGroup g;
    g.name = "Everything";
    g.parentId = category;
    g.memb = 4;
    g.perm = 2;
    store.createGroup(g, 0, &group);
    static const char* kWords[] = {"blue",  "train", "moon",  "river", "night", "song",   "live",  "remix",
                                   "alpha", "delta", "omega", "jazz",  "rock",  "piano",  "guitar", "demo",
                                   "track", "intro", "final", "vol",   "best",  "summer", "winter", "city"};
    static const char* kTypes[] = {"mp3", "ogg", "avi", "jpg", "txt", "pdf", "flac", "cpp"};
    std::mt19937 rng(7);
    db.exec("BEGIN");
    Statement st(db,
                 "INSERT INTO files(client_id, user_id, dir_id, group_id, name, size, filetype, added) "
                 "VALUES (?, 1, ?, ?, ?, ?, ?, ?)");
    for (int i = 0; i < kFiles; ++i) {
      std::string name;
      for (int w = 0; w < 3; ++w) name += std::string(kWords[rng() % 24]) + (w < 2 ? " " : "");
      const char* type = kTypes[rng() % 8];
      name += " " + std::to_string(i) + "." + type;
      if (i == kFiles / 2) name = "Unmistakable Needle.mp3";
      st.reset();
      st.bind(1, 1000 + i % 500).bind(2, group).bind(3, group).bind(4, name).bind(5, static_cast<int64_t>(rng() % 10'000'000));
      st.bind(6, type).bind(7, 1'600'000'000 + i);
      st.run();
    }
    db.exec("COMMIT");
    db.exec("INSERT INTO files_fts(files_fts) VALUES ('optimize')");
  }
  ~Catalogue() {
    std::filesystem::remove(path);
    std::filesystem::remove(path.string() + "-wal");
    std::filesystem::remove(path.string() + "-shm");
  }
  std::filesystem::path path;
  Database db;
  CatalogueStore store{db};
  int64_t group = 0;
};

Catalogue& catalogue() {
  static Catalogue c;
  return c;
}

void runSearch(benchmark::State& state, SearchQuery q) {
  auto& c = catalogue();
  size_t found = 0;
  for (auto _ : state) {
    const auto r = c.store.search(q);
    found = r.files.size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["results"] = static_cast<double>(found);
}

void BM_SearchRareName(benchmark::State& state) {
  SearchQuery q;
  q.text = "needle";
  runSearch(state, q);
}
void BM_SearchCommonWord(benchmark::State& state) {
  SearchQuery q;
  q.text = "blue";
  runSearch(state, q);
}
void BM_SearchCommonWordWithCount(benchmark::State& state) {
  SearchQuery q;
  q.text = "blue";
  q.wantCount = true;
  runSearch(state, q);
}
void BM_SearchTwoWords(benchmark::State& state) {
  SearchQuery q;
  q.text = "jazz piano";
  runSearch(state, q);
}
void BM_SearchFiltered(benchmark::State& state) {
  SearchQuery q;
  q.text = "night";
  q.fileKind = 2;  // audio
  q.minSize = 1'000'000;
  q.maxSize = 2'000'000;
  runSearch(state, q);
}
void BM_SearchPrefixPaged(benchmark::State& state) {
  SearchQuery q;
  q.text = "gui";
  q.start = 400;
  q.fetch = 100;
  runSearch(state, q);
}

BENCHMARK(BM_SearchRareName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchCommonWord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchCommonWordWithCount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchTwoWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchFiltered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchPrefixPaged)->Unit(benchmark::kMillisecond);

}  // namespace
