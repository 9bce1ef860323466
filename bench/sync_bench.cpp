// SPDX-License-Identifier: MIT
// Sharing a folder tree (10,000 files in 100 folders) against a scripted
// central server on loopback, and a verification pass over 100,000 shared files.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "catalogue/server_comparison.h"
#include "core/base64.h"
#include "catalogue/share_run.h"
#include "core/client_state.h"
#include "core/timer_service.h"
#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "platform/registry_hive.h"
#include "protocol/protocol_context.h"
#include "settings/settings_store.h"

namespace {

using namespace vantrel;
namespace fs = std::filesystem;

struct Env {
  Env() {
    fs::create_directories(root);
    settings.EnsureDefaults();
    key.DeriveSessionKey("pw");
    state.SetClientId(7);
    state.SetUserName("bob");
    state.SetPassword("pw");
    state.SetConnected(true);
  }
  ~Env() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  void useServer(uint16_t port) {
    target.SetServer("127.0.0.1", port);
    settings.SetSettingText("serveraddress", "127.0.0.1");
    settings.SetSettingNumber("serverport", port);
  }
  fs::path root = fs::temp_directory_path() / ("sync-bench-" + std::to_string(getpid()));
  RegistryHive hive{root.string()};
  SettingsStore settings{hive};
  TimerService timers;
  ClientState state{settings, timers};
  SessionKey key;
  ServerTarget target;
  ContestTable contest;
  ProtocolContext ctx{state, settings, key, target, contest};
};

// Creates directories and registers files as the central server would.
testing::ScriptedHttpServer::Handler catalogueServer(Env& env) {
  return [&env, nextDir = 100, nextFile = 1000](int fd, const std::string& request) mutable {
    const std::size_t at = request.find("\r\n\r\ncrypted=");
    std::string body;
    if (at != std::string::npos) {
      std::string encoded = request.substr(at + 12);
      while (!encoded.empty() && (encoded.back() == '\n' || encoded.back() == '\r')) encoded.pop_back();
      body = env.key.DecryptText(base64Decode(encoded));
    }
    std::string reply = "result=0&";
    if (body.rfind("action=createdir", 0) == 0) {
      reply = "result=0&dirid=" + std::to_string(nextDir++) + "&";
    } else if (body.rfind("action=add_file", 0) == 0) {
      reply.clear();
      for (std::size_t p = body.find("&cfileid="); p != std::string::npos; p = body.find("&cfileid=", p + 1)) {
        reply += "fileid=" + std::to_string(nextFile++) + "&";
      }
      reply += "result=0&";
    }
    sendText(fd, "HTTP/1.0 200 OK\r\n\r\n" + reply);
  };
}

void makeTree(const fs::path& top, int folders, int filesPerFolder) {
  for (int d = 0; d < folders; ++d) {
    const fs::path folder = top / ("folder " + std::to_string(d));
    fs::create_directories(folder);
    for (int f = 0; f < filesPerFolder; ++f) std::ofstream(folder / ("track " + std::to_string(f) + ".mp3")) << "x";
  }
}

void BM_ShareTree(benchmark::State& state) {
  Env env;
  testing::ScriptedHttpServer server(catalogueServer(env));
  env.useServer(server.port());
  const int folders = static_cast<int>(state.range(0));
  const int perFolder = static_cast<int>(state.range(1));
  makeTree(env.root / "tree", folders, perFolder);
  for (auto _ : state) {
    state.PauseTiming();
    std::remove((env.root / "bob.dat").c_str());
    SharedFileList list((env.root / "bob.dat").string());
    ShareRun run(env.ctx, list);
    state.ResumeTiming();
    if (run.ShareLocalPaths({(env.root / "tree").string()}, {12, "Music", 5, "Music"}) != 0) {
      state.SkipWithError("sharing failed");
    }
    benchmark::DoNotOptimize(list.size());
  }
  state.counters["files"] = folders * perFolder;
}
BENCHMARK(BM_ShareTree)->Args({10, 100})->Args({100, 100})->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_VerificationPass(benchmark::State& state) {
  Env env;
  const int count = static_cast<int>(state.range(0));
  const fs::path files = env.root / "files";
  fs::create_directories(files);
  SharedFileMap map;
  for (int i = 1; i <= count; ++i) {
    const fs::path path = files / ("f" + std::to_string(i));
    std::ofstream(path) << "x";
    auto record = std::make_unique<CVantreldFile>(path.string());
    record->fileId = i;
    record->fileName = "f" + std::to_string(i);
    record->fileSize = 1;
    map.set(static_cast<uint32_t>(i), std::move(record));
  }
  const std::string archive = (env.root / "bob.dat").string();
  const auto bytes = encodeSharedFileArchive(map, 0);
  std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
  SharedFileList list(archive);
  if (!list.Load()) state.SkipWithError("load failed");
  for (auto _ : state) {
    const VerificationResult result = VerificationPass(list, env.ctx);
    benchmark::DoNotOptimize(result.removed.size());
  }
  state.counters["files"] = static_cast<double>(list.size());
}
BENCHMARK(BM_VerificationPass)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
