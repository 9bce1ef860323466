// SPDX-License-Identifier: MIT
// Rendering the shared-file pages for a large list: the page is parsed afresh
// and its providers copy and sort the list, as for every request.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "providers/fixture_facts.h"
#include "providers/page_renderer.h"
#include "templates/sample_providers.h"
#include "templates/template_archive.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel;
using namespace vantrel::providers;

struct World {
  World() : dir(fs::temp_directory_path() / ("vantrel_pages_bench_" + std::to_string(::getpid()))) {
    fs::create_directories(dir);
    facts = std::make_unique<FixtureFacts>((dir / "bench.dat").string());
    std::vector<CVantreldFile> records;
    for (int32_t id = 1; id <= 10000; ++id) {
      records.push_back(fixtureFile(id, "/srv/share/folder" + std::to_string(id % 37) + "/file " + std::to_string(id * 7919 % 10007) + ".mp3",
                                    id * 131, 1 + id % 12, "Group " + std::to_string(id % 12), "dir " + std::to_string(id % 5)));
    }
    fillFixtureList(facts->files, records);
    for (const auto& entry : fs::directory_iterator(VANTREL_PAGES_DIR)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      archive.add(entry.path().filename().string(), templates::CFileArchiveEntry(bytes.str()));
    }
  }
  ~World() { fs::remove_all(dir); }
  fs::path dir;
  std::unique_ptr<FixtureFacts> facts;
  templates::TemplateArchive archive;
};

void renderPage(benchmark::State& state, const char* page, const char* sort) {
  static World world;
  templates::SampleRequest request("10.0.0.2");
  if (sort != nullptr) request.add("sort", sort);
  std::string out;
  for (auto _ : state) {
    renderClientPage(page, world.archive, *world.facts, request, out, nullptr, [](std::string_view) {});
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["page_kb"] = static_cast<double>(out.size()) / 1024.0;
}

void AllSharedFiles(benchmark::State& state) { renderPage(state, "client-shared_show_all_template.html", nullptr); }
void AllSharedFilesBySize(benchmark::State& state) { renderPage(state, "client-shared_show_all_template.html", "5"); }
void AllSharedFilesByGroup(benchmark::State& state) {
  renderPage(state, "client-shared_show_all_by_group_template.html", "1");
}
void AllSharedFilesByFolder(benchmark::State& state) {
  renderPage(state, "client-shared_show_all_by_dirs_template.html", "2");
}

BENCHMARK(AllSharedFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(AllSharedFilesBySize)->Unit(benchmark::kMillisecond);
BENCHMARK(AllSharedFilesByGroup)->Unit(benchmark::kMillisecond);
BENCHMARK(AllSharedFilesByFolder)->Unit(benchmark::kMillisecond);

}  // namespace
