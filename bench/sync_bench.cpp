// SPDX-License-Identifier: MIT
// Sharing a folder tree (10,000 files in 100 folders) against a scripted
// central server on loopback and against the reference server (vantrel-server,
// started for each run on a fresh database, with a real login), and a
// verification pass over 100,000 shared files.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "catalogue/sync/server_comparison.h"
#include "catalogue/sync/share_run.h"
#include "core/base64.h"
#include "core/timer_service.h"
#include "net/scripted_http_server.h"
#include "net/socket_io.h"
#include "platform/registry_hive.h"
#include "platform/unique_fd.h"
#include "protocol/catalogue_requests.h"
#include "protocol/protocol_context.h"
#include "protocol/server_login.h"
#include "settings/settings_store.h"
#include "state/client_state.h"

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

#ifdef VANTREL_SERVER_BIN
// vantrel-server on a loopback port that the system picks, with the demo
// catalogue and one user; stopped by its PID.
class ReferenceServer {
 public:
  ReferenceServer(const fs::path& dir, const std::string& user) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    UniqueFd readEnd(out[0]);
    UniqueFd writeEnd(out[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir / "server.log").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {VANTREL_SERVER_BIN, "--db", (dir / "server.db").string(), "--listen",
                                     "127.0.0.1:0", "--udp-port", "0", "--demo-catalogue", "--add-user", user};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const bool spawned = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (!spawned) {
      m_pid = -1;
      return;
    }
    // "vantrel-server listening on http://127.0.0.1:PORT/ ..." once it serves.
    std::string line;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
      char piece[256];
      if (!waitReadable(readEnd.get(), std::chrono::milliseconds(100))) continue;
      const ssize_t n = ::read(readEnd.get(), piece, sizeof piece);
      if (n <= 0) break;
      line.append(piece, static_cast<std::size_t>(n));
    }
    if (const std::size_t at = line.find("127.0.0.1:"); at != std::string::npos) {
      m_port = static_cast<uint16_t>(std::atoi(line.c_str() + at + 10));
    }
  }
  ~ReferenceServer() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
      if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  uint16_t port() const { return m_port; }

  // User and system CPU seconds the server has used so far (from /proc).
  double cpuSeconds() const {
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');  // the name may hold spaces
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    double ticks = 0;
    // After the name: state is field 3, utime 14 and stime 15.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i >= 14) ticks += std::atof(field.c_str());
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }

 private:
  pid_t m_pid = -1;
  uint16_t m_port = 0;
};

// The demo catalogue's group that admits everyone.
constexpr int32_t kOpenGroup = 7;

void BM_ShareTreeReferenceServer(benchmark::State& state) {
  Env env;
  ReferenceServer server(env.root, "sharer:share-bench-77");
  if (server.port() == 0) {
    state.SkipWithError("vantrel-server did not start");
    return;
  }
  env.useServer(server.port());
  if (LoginRequest(env.ctx, "sharer", "share-bench-77", nullptr) != 0 ||
      JoinGroup(env.ctx, kOpenGroup, "", "") != catalogue::kListingOk) {
    state.SkipWithError("login or joining the open group failed");
    return;
  }
  const int folders = static_cast<int>(state.range(0));
  const int perFolder = static_cast<int>(state.range(1));
  makeTree(env.root / "tree", folders, perFolder);
  double serverCpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::remove((env.root / "sharer.dat").c_str());
    SharedFileList list((env.root / "sharer.dat").string());
    ShareRun run(env.ctx, list);
    const double cpuBefore = server.cpuSeconds();
    state.ResumeTiming();
    if (run.ShareLocalPaths({(env.root / "tree").string()}, {kOpenGroup, "Open Music Lounge", kOpenGroup, ""}) != 0 ||
        list.size() != static_cast<std::size_t>(folders * perFolder)) {
      state.SkipWithError("sharing failed");
    }
    state.PauseTiming();
    serverCpu += server.cpuSeconds() - cpuBefore;
    state.ResumeTiming();
  }
  state.counters["files"] = folders * perFolder;
  // The server's share of the time: what it computed while the run waited.
  state.counters["server_cpu_s"] = serverCpu;
}
// One run per server: a second one would share into the directories of the first.
BENCHMARK(BM_ShareTreeReferenceServer)->Args({100, 100})->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

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
    benchmark::DoNotOptimize(result.missing.size());
  }
  state.counters["files"] = static_cast<double>(list.size());
}
BENCHMARK(BM_VerificationPass)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
