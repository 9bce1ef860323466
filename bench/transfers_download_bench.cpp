// SPDX-License-Identifier: MIT
// Four simultaneous downloads through the download manager. The URLs come from
// VANTREL_BENCH_URLS (space-separated); bench/transfers_download_vs_curl.sh
// serves the files on loopback and runs it in turns with four curls on the same
// files, one round per process (--benchmark_repetitions=N for more here).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/timer_service.h"
#include "platform/registry_hive.h"
#include "settings/settings_store.h"
#include "transfers/download_manager.h"

namespace {

using namespace vantrel;
namespace fs = std::filesystem;

class OverwritePrompts : public DownloadPrompts {
 public:
  FileExistsChoice fileExists(const FileExistsPrompt&) override { return FileExistsChoice::Overwrite; }
  std::optional<std::string> chooseFolder() override { return std::nullopt; }
};

void BM_FourDownloads(benchmark::State& state) {
  const char* env = std::getenv("VANTREL_BENCH_URLS");
  if (env == nullptr) {
    state.SkipWithError("VANTREL_BENCH_URLS is not set");
    return;
  }
  std::vector<std::string> urls;
  std::istringstream in(env);
  for (std::string url; in >> url;) urls.push_back(url);
  // With VANTREL_BENCH_DIR the files stay there when the run ends, and the
  // next run removes them before it starts, as the script removes the curls'
  // files before each of their rounds: both sides then write into the memory
  // they have just freed. A run that frees its files at its end instead leaves
  // the next run to write into memory this machine may have handed back to its
  // host in the meantime, which costs a page fault on the host for every page.
  const char* dirEnv = std::getenv("VANTREL_BENCH_DIR");
  const bool keepFiles = dirEnv != nullptr && *dirEnv != '\0';
  const fs::path root =
      keepFiles ? fs::path(dirEnv) : fs::temp_directory_path() / ("download-bench-" + std::to_string(getpid()));
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::create_directories(root);
  RegistryHive hive(root.string());
  SettingsStore settings(hive);
  settings.EnsureDefaults();
  TimerService timers;
  OverwritePrompts prompts;
  int64_t bytes = 0;
  for (auto _ : state) {
    DownloadManager manager(settings, prompts, &timers);
    manager.setLimit(static_cast<int32_t>(urls.size()));
    std::vector<int32_t> ids;
    for (std::size_t i = 0; i < urls.size(); ++i) {
      ids.push_back(manager.QueueDownload(urls[i], (root / ("file" + std::to_string(i))).string(), 0));
    }
    for (bool done = false; !done;) {
      done = true;
      for (const int32_t id : ids) {
        const auto state = manager.find(id)->state;
        done = done && state != DownloadState::Downloading && state != DownloadState::Queued;
      }
      if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (const int32_t id : ids) {
      const auto info = *manager.find(id);
      if (info.state != DownloadState::Completed) state.SkipWithError("a download failed");
      bytes += info.received;
    }
  }
  state.SetBytesProcessed(bytes);
  if (!keepFiles) fs::remove_all(root, ec);
}
BENCHMARK(BM_FourDownloads)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
