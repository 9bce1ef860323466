// SPDX-License-Identifier: MIT
// The central server under mixed load over a catalogue of 1,000,000 shared
// files, in this process on loopback: logins per second, UDP pings per
// second, and the latency (median and 99th percentile) of search requests,
// first on a quiet server, then while a client keeps adding and removing
// files. Every request goes through the listener with the client's own
// request and encryption code. Run once with the readers on their own
// connections (the default) and once with every read through the writer.
//
//   bench_server_mixed [--db FILE] [--files N] [--serial-reads]
// --db keeps the filled catalogue in FILE for the next run (filling a
// million files takes about a minute).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/base64.h"
#include "crypto/session_key.h"
#include "net/client_request.h"
#include "net/reply_fields.h"
#include "net/socket_io.h"
#include "platform/unique_fd.h"
#include "server/central_server.h"

namespace {

using namespace vantrel;
using namespace vantrel::server;
using Clock = std::chrono::steady_clock;

constexpr int kUsers = 100;
// The filled files belong to 500 clients that never log in, far from the IDs
// the server hands out, so a logged-in client's ping sums only its own files.
constexpr int kFillClients = 900'000;
constexpr const char* kPassword = "loadpass";

struct Session {
  std::unique_ptr<SessionKey> key = std::make_unique<SessionKey>();
  int clientId = 0;
};

std::string base(int port) { return "http:\\\\127.0.0.1:" + std::to_string(port) + "\\clientrequest"; }

bool login(int port, const std::string& user, Session& s, std::mt19937_64& rng) {
  std::array<uint8_t, 8> salt{};
  for (auto& b : salt) b = static_cast<uint8_t>(rng());
  s.key = std::make_unique<SessionKey>();
  s.key->DeriveWithSalt(kPassword, salt);
  const std::string body = "action=login&port=8323&ip=&ver=201&platform=win32_new&s=" +
                           base64Encode(s.key->SessionSalt()) + "&username=" + user + "&clientid=0&verify=" +
                           base64Encode(s.key->EncryptText(user));
  ClientRequest request;
  int code = -1;
  const std::string reply = request.PostForm(nullptr, base(port), body, code);
  if (code != 0 || ReplyNumber(reply, "result=") != 0) return false;
  s.clientId = ReplyNumber(reply, "clientid=");
  return s.clientId > 0;
}

std::string send(int port, const Session& s, const std::string& form, int& code) {
  ClientRequest r;
  return r.PostEncrypted(nullptr, base(port) + "?clientid=" + std::to_string(s.clientId), form, code,
                         [&](std::string_view text) { return s.key->EncryptText(text); });
}

bool ping(int udpPort, int fd, const Session& s) {
  const std::string cipher = s.key->EncryptText("secid=&load=1");
  std::string d(1, static_cast<char>(cipher.size() % 256));
  d += cipher;
  for (const uint32_t v : {8324u, static_cast<uint32_t>(s.clientId)}) {
    for (int i = 0; i < 4; ++i) d += static_cast<char>((v >> (8 * i)) & 0xff);
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(udpPort));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) return false;
  if (!waitReadable(fd, std::chrono::milliseconds(2000))) return false;
  char reply[300];
  return ::recv(fd, reply, sizeof reply, 0) > 0;
}

// Runs `count` operations on `threads` threads; the rate per second.
template <typename Op>
double rate(int count, int threads, Op op) {
  std::atomic<int> next{0};
  const auto start = Clock::now();
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        std::mt19937_64 rng(static_cast<uint64_t>(t) * 7919 + 1);
        UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        for (int i = next++; i < count; i = next++) op(i, rng, udp.get());
      });
    }
  }
  return count / std::chrono::duration<double>(Clock::now() - start).count();
}

struct Latency {
  double median = 0;
  double p99 = 0;
};

// `count` searches over `threads` threads; milliseconds per request.
Latency searches(int port, std::vector<Session>& sessions, int count, int threads) {
  static const char* kQueries[] = {"needle", "blue", "jazz piano", "gui", "night&minsize=1000000&maxsize=2000000"};
  std::vector<double> ms(static_cast<size_t>(count));
  std::atomic<int> next{0};
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        for (int i = next++; i < count; i = next++) {
          const Session& s = sessions[static_cast<size_t>(i % kUsers)];
          int code = -1;
          const auto began = Clock::now();
          send(port, s, std::string("action=search&string=") + kQueries[i % 5], code);
          ms[static_cast<size_t>(i)] = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
        }
      });
    }
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

void fill(const std::string& path, int files) {
  Database db;
  if (!db.open(path)) return;
  PasswordVault vault;
  std::string error;
  if (!vault.openKeyFile(path + ".key", error)) return;
  AccountStore(db, vault).createUser("owner", kPassword, "");  // user 1, who shares every file
  CatalogueStore store(db);
  const int64_t category = store.createCategory(0, "Bench", true);
  NewGroup g;
  g.name = "Everything";
  g.parentId = category;
  g.memb = 4;
  g.perm = 2;
  int64_t group = 0;
  store.createGroup(g, 0, &group);
  static const char* kWords[] = {"blue",  "train", "moon",  "river", "night", "song",   "live",   "remix",
                                 "alpha", "delta", "omega", "jazz",  "rock",  "piano",  "guitar", "demo",
                                 "track", "intro", "final", "vol",   "best",  "summer", "winter", "city"};
  static const char* kTypes[] = {"mp3", "ogg", "avi", "jpg", "txt", "pdf", "flac", "cpp"};
  std::mt19937 rng(7);
  db.exec("BEGIN");
  Statement st(db,
               "INSERT INTO files(client_id, user_id, dir_id, group_id, name, size, filetype, added) "
               "VALUES (?, 1, ?, ?, ?, ?, ?, ?)");
  for (int i = 0; i < files; ++i) {
    std::string name;
    for (int w = 0; w < 3; ++w) name += std::string(kWords[rng() % 24]) + (w < 2 ? " " : "");
    const char* type = kTypes[rng() % 8];
    name += " " + std::to_string(i) + "." + type;
    if (i == files / 2) name = "Unmistakable Needle.mp3";
    st.reset();
    st.bind(1, kFillClients + i % 500).bind(2, group).bind(3, group).bind(4, name);
    st.bind(5, static_cast<int64_t>(rng() % 10'000'000)).bind(6, type).bind(7, 1'600'000'000 + i);
    st.run();
  }
  db.exec("COMMIT");
  db.exec("INSERT INTO files_fts(files_fts) VALUES ('optimize')");
}

}  // namespace

int main(int argc, char** argv) {
  std::string dbPath;
  int files = 1'000'000;
  bool serial = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--db" && i + 1 < argc) dbPath = argv[++i];
    else if (a == "--files" && i + 1 < argc) files = std::stoi(argv[++i]);
    else if (a == "--serial-reads") serial = true;
    else {
      std::fprintf(stderr, "usage: bench_server_mixed [--db FILE] [--files N] [--serial-reads]\n");
      return 2;
    }
  }
  const bool keep = !dbPath.empty();
  if (!keep) {
    dbPath = (std::filesystem::temp_directory_path() / ("vantrel-mixed-" + std::to_string(::getpid()) + ".db")).string();
  }
  if (!std::filesystem::exists(dbPath)) {
    const auto began = Clock::now();
    fill(dbPath, files);
    std::printf("filled %d files in %.0f s\n", files, std::chrono::duration<double>(Clock::now() - began).count());
  }

  ServerOptions options;
  options.dbPath = dbPath;
  options.port = 0;
  options.udpPort = 0;
  options.logPath = "/dev/null";
  for (int i = 0; i < kUsers; ++i) options.users.emplace_back("load" + std::to_string(i), kPassword);
  options.users.emplace_back("writer", kPassword);
  CentralServer server;
  std::string error;
  if (!server.start(options, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  server.database().setParallelReads(!serial);
  const int port = server.httpPort();
  const int udpPort = server.udpPort();
  std::printf("reads %s\n", serial ? "through the writer, one at a time" : "on their own connections");

  std::vector<Session> sessions(kUsers);
  const double logins = rate(1000, 4, [&](int i, std::mt19937_64& rng, int) {
    Session s;
    login(port, "load" + std::to_string(i % kUsers), s, rng);
    if (i >= 1000 - kUsers) sessions[static_cast<size_t>(i % kUsers)] = std::move(s);
  });
  std::printf("logins               %8.0f /s\n", logins);
  const auto pings = [&] {
    return rate(20000, 4, [&](int i, std::mt19937_64&, int fd) {
      ping(udpPort, fd, sessions[static_cast<size_t>(i % kUsers)]);
    });
  };
  std::printf("UDP pings, quiet     %8.0f /s\n", pings());
  Latency quiet = searches(port, sessions, 1000, 4);
  std::printf("search, quiet        median %7.2f ms   p99 %7.2f ms\n", quiet.median, quiet.p99);

  // A client that keeps sharing 100 files and taking them back.
  Session writer;
  std::mt19937_64 rng(3);
  login(port, "writer", writer, rng);
  int code = -1;
  const std::string group = std::to_string(2);  // "Everything", right after its category
  send(port, writer, "action=joingroup" + group + "&groupid=" + group, code);
  std::atomic<bool> writing{true};
  std::atomic<long> written{0};
  std::jthread writes([&] {
    while (writing) {
      std::string form = "action=add_file&dirid=" + group;
      for (int f = 0; f < 100; ++f) {
        form += "&cfileid=" + std::to_string(f) + "&filename=written blue " + std::to_string(f) +
                ".mp3&filesize=1000&keywords=&filetype=mp3";
      }
      int c = -1;
      const std::string added = send(port, writer, form, c);
      std::string remove = "action=remove_file";
      for (size_t at = added.find("fileid="); at != std::string::npos; at = added.find("fileid=", at + 7)) {
        remove += "&fileid=" + std::to_string(std::atol(added.c_str() + at + 7));
      }
      send(port, writer, remove, c);
      written += 200;
    }
  });
  const auto began = Clock::now();
  std::printf("UDP pings, writing   %8.0f /s\n", pings());
  const Latency busy = searches(port, sessions, 1000, 4);
  std::printf("search, writing      median %7.2f ms   p99 %7.2f ms\n", busy.median, busy.p99);
  writing = false;
  writes.join();
  std::printf("writes meanwhile     %8.0f files added or removed /s\n",
              static_cast<double>(written) / std::chrono::duration<double>(Clock::now() - began).count());
  server.stop();
  if (!keep) {
    for (const char* suffix : {"", "-wal", "-shm", ".key"}) std::filesystem::remove(dbPath + suffix);
  }
  return 0;
}
