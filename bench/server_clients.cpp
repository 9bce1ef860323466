// SPDX-License-Identifier: MIT
// Many clients against one or more running vantrel-server processes on
// loopback, as a community of N clients uses them: logins, UDP pings at the
// clients' 50-second interval (compressed by --factor), searches and listings
// while the pings run, then files registered with add_file. Every request
// uses the client's own request and encryption code. Counts and times are
// bounded; prints rates and latency percentiles.
//
//   bench_server_clients prepare --db DB --key FILE --clients N --files M
//       fills an empty database: N users "cI" (password "loadpass"), each a
//       member of one open group of 1,000 directories, and M shared files
//       named from a vocabulary of 5,000 words (one file in ten holds "track").
//   bench_server_clients reset --db DB --key FILE
//       forgets the sessions, login salts and registered files ("new ...")
//       of earlier runs, so that a database filled once serves several runs
//       alike, and on PostgreSQL
//       loads the tables and indexes into its buffers: a server that has run
//       a while holds them, a cluster just started reads each page from disk.
//   bench_server_clients run --server HTTP:UDP [--server HTTP:UDP] --clients N
//       [--factor 1 | --ping-rate R] [--seconds 60] [--search-rate 20] [--add-files 100000] [--threads 8]
//       [--group G]
//       With two servers a client logs in through one, pings the other and
//       searches through either. Searches cycle through their kinds (a whole
//       word, a prefix, a common word, a file kind, a size range, online only,
//       in the group G) and listings; each kind's latencies are printed.
//   bench_server_clients run ... --ping-steps FROM:STEP:TO [--step-seconds 10] [--p99-bound 100]
//       instead: after the logins, pings alone at FROM per second, then STEP
//       more at each step of --step-seconds, up to TO; stops at the first step
//       with a ping lost or refused, or a p99 above the bound (ms), and prints
//       the highest rate served without either.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/base64.h"
#include "crypto/session_key.h"
#include "net/client_request.h"
#include "net/reply_fields.h"
#include "platform/unique_fd.h"
#include "server/central_server.h"
#include "server/storage/database.h"
#include "server/store/account_store.h"
#include "server/store/catalogue_store.h"
#include "server/store/server_setup.h"

namespace {

using namespace vantrel;
using namespace vantrel::server;
using Clock = std::chrono::steady_clock;

constexpr int kDirectories = 1000;
constexpr int kWords = 5000;
constexpr const char* kPassword = "loadpass";

// A pronounceable word for each number below kWords: the same on every run.
std::string word(int n) {
  static const char* kSyllables[] = {"ka", "lo", "mi", "ne", "su", "ta", "ri", "po", "de", "gu",
                                     "ba", "ze", "fo", "hi", "ju", "ve", "wa", "xo", "ye", "qu"};
  std::string w;
  for (int i = 0; i < 3; ++i) {
    w += kSyllables[n % 20];
    n /= 20;
  }
  return w + std::to_string(n);
}

std::string fileName(uint64_t i) {
  std::mt19937_64 rng(i);
  std::string name = word(static_cast<int>(rng() % kWords)) + " " + word(static_cast<int>(rng() % kWords));
  if (i % 10 == 0) name += " track";
  static const char* kTypes[] = {".mp3", ".avi", ".jpg", ".txt", ".pdf", ".zip"};
  return name + " " + std::to_string(i) + kTypes[i % 6];
}

struct Percentiles {
  std::mutex mutex;
  std::vector<double> ms;  // guarded by mutex
  void add(double value) {
    std::scoped_lock lock(mutex);
    ms.push_back(value);
  }
  double at(double p) {
    std::scoped_lock lock(mutex);
    if (ms.empty()) return 0;
    std::sort(ms.begin(), ms.end());
    return ms[std::min(ms.size() - 1, static_cast<size_t>(p * static_cast<double>(ms.size())))];
  }
  std::string text() {
    std::scoped_lock lock(mutex);
    if (ms.empty()) return "no samples";
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double p) { return ms[std::min(ms.size() - 1, static_cast<size_t>(p * ms.size()))]; };
    char out[128];
    std::snprintf(out, sizeof out, "median %.2f ms, p99 %.2f ms, max %.2f ms (%zu)", at(0.5), at(0.99), ms.back(),
                  ms.size());
    return out;
  }
};

std::string loadAverage() {
  char text[128] = {};
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(text, sizeof text, f) == nullptr) text[0] = 0;
    std::fclose(f);
  }
  // The three averages, without the process counts after them.
  std::string averages = text;
  size_t end = 0;
  for (int i = 0; i < 3 && end != std::string::npos; ++i) end = averages.find(' ', end + (i > 0 ? 1 : 0));
  return averages.substr(0, end) + "\n";
}

double since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

int prepare(const std::string& db, const std::string& keyFile, int clients, int64_t files) {
  Database database;
  if (!database.open(db)) return std::fprintf(stderr, "cannot open %s: %s\n", db.c_str(), database.error().c_str()), 1;
  PasswordVault vault;
  AccountStore accounts(database, vault);
  CatalogueStore catalogue(database);
  std::string error;
  if (!openServerKey(accounts, vault, db, keyFile, error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  if (!catalogue.isEmpty() || accounts.userCount() > 0) return std::fprintf(stderr, "the database is not empty\n"), 1;
  const auto began = Clock::now();
  const int64_t category = catalogue.createCategory(0, "Load", true);
  NewGroup g;
  g.name = "Load Lounge";
  g.parentId = category;
  g.memb = 4;
  g.perm = 2;
  int64_t group = 0;
  catalogue.createGroup(g, 0, &group);
  std::vector<int64_t> dirs;
  for (int d = 0; d < kDirectories; ++d) dirs.push_back(catalogue.addDirectory(group, "dir " + std::to_string(d)));
  const std::string sealed = vault.seal(kPassword);
  std::vector<int64_t> users;
  for (int from = 0; from < clients; from += 10000) {
    Transaction tx(database);
    Statement user(database, "INSERT INTO users(name, password, email, created) VALUES (?, ?, '', 0) RETURNING id");
    Statement client(database, "INSERT INTO clients(id, user_id) VALUES (?, ?)");
    Statement member(database, "INSERT INTO members(group_id, user_id, status) VALUES (?, ?, 2)");
    for (int i = from; i < std::min(clients, from + 10000); ++i) {
      user.reset();
      const int64_t id = user.bind(1, "c" + std::to_string(i)).bindBlob(2, sealed).runReturningId();
      client.reset();
      member.reset();
      if (id == 0 || !client.bind(1, 1001 + i).bind(2, id).run() || !member.bind(1, group).bind(2, id).run()) {
        return std::fprintf(stderr, "cannot add user %d: %s\n", i, database.writer().error().c_str()), 1;
      }
      users.push_back(id);
    }
    if (!tx.commit()) return std::fprintf(stderr, "cannot commit the users\n"), 1;
  }
  std::printf("%d users in %.1f s\n", clients, since(began) / 1000);
  std::fflush(stdout);
  const auto filesBegan = Clock::now();
  for (int64_t from = 0; from < files; from += 20000) {
    Transaction tx(database);
    Statement st(database,
                 "INSERT INTO files(client_id, user_id, dir_id, group_id, name, size, filetype, keywords, added) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?, '', ?)");
    for (int64_t i = from; i < std::min(files, from + 20000); ++i) {
      const size_t owner = static_cast<size_t>(i % clients);
      const std::string name = fileName(static_cast<uint64_t>(i));
      st.reset();
      st.bind(1, 1001 + static_cast<int64_t>(owner)).bind(2, users[owner]).bind(3, dirs[static_cast<size_t>(i % kDirectories)]);
      st.bind(4, group).bind(5, name).bind(6, 1000 + i).bind(7, name.substr(name.rfind('.') + 1)).bind(8, 1'700'000'000 + i);
      if (!st.run()) return std::fprintf(stderr, "cannot add a file: %s\n", database.writer().error().c_str()), 1;
    }
    if (!tx.commit()) return std::fprintf(stderr, "cannot commit the files\n"), 1;
  }
  // Statistics for the planner, and the visibility map that lets counts skip
  // the table where the index answers.
  if (database.dialect() == Dialect::kPostgres) database.exec("VACUUM ANALYZE");
  std::printf("%lld files in %.1f s\n", static_cast<long long>(files), since(filesBegan) / 1000);
  std::printf("group %lld, directories %lld..%lld\n", static_cast<long long>(group), static_cast<long long>(dirs.front()),
              static_cast<long long>(dirs.back()));
  return 0;
}

int reset(const std::string& db) {
  Database database;
  if (!database.open(db)) return std::fprintf(stderr, "cannot open %s: %s\n", db.c_str(), database.error().c_str()), 1;
  if (!database.exec("DELETE FROM session_additions; DELETE FROM sessions; DELETE FROM login_salts; "
                     "DELETE FROM files WHERE name LIKE 'new %';") ||
      (database.dialect() == Dialect::kPostgres && !database.exec("VACUUM ANALYZE files"))) {
    return std::fprintf(stderr, "cannot reset: %s\n", database.writer().error().c_str()), 1;
  }
  if (database.dialect() == Dialect::kPostgres &&
      !database.exec("CREATE EXTENSION IF NOT EXISTS pg_prewarm; SELECT pg_prewarm(c.oid::regclass) FROM pg_class c "
                     "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = current_schema() AND "
                     "c.relkind IN ('r', 'i')")) {
    return std::fprintf(stderr, "cannot load the tables: %s\n", database.writer().error().c_str()), 1;
  }
  return 0;
}

struct Server {
  int http = 0;
  int udp = 0;
};

struct Client {
  std::unique_ptr<SessionKey> key = std::make_unique<SessionKey>();
  int64_t clientId = 0;
};

struct RunOptions {
  std::vector<Server> servers;
  int clients = 1000;
  double factor = 1;
  double seconds = 60;
  double searchRate = 20;
  int addFiles = 100000;
  int threads = 8;
  int64_t firstDirectory = 0;
  int64_t group = 0;
  double stepFrom = 0;  // ping steps: 0 = none
  double stepBy = 0;
  double stepTo = 0;
  double stepSeconds = 10;
  double p99Bound = 100;
};

struct PingOutcome {
  int64_t sent = 0;
  int64_t answered = 0;
  int64_t refused = 0;
  double p99 = 0;
};

std::string url(const Server& s, const std::string& rest) {
  return "http:\\\\127.0.0.1:" + std::to_string(s.http) + "\\clientrequest" + rest;
}

bool login(const Server& s, int index, Client& c, std::mt19937_64& rng) {
  std::array<uint8_t, 8> salt{};
  for (auto& b : salt) b = static_cast<uint8_t>(rng());
  c.key = std::make_unique<SessionKey>();
  c.key->DeriveWithSalt(kPassword, salt);
  const std::string name = "c" + std::to_string(index);
  const std::string body = "action=login&port=8323&ip=&ver=201&platform=win32_new&s=" +
                           base64Encode(c.key->SessionSalt()) + "&username=" + name +
                           "&clientid=0&verify=" + base64Encode(c.key->EncryptText(name));
  ClientRequest request;
  int code = -1;
  const std::string reply = request.PostForm(nullptr, url(s, ""), body, code);
  if (code != 0 || ReplyNumber(reply, "result=") != 0) return false;
  c.clientId = ReplyNumber(reply, "clientid=");
  return c.clientId > 0;
}

std::string encrypted(const Server& s, const Client& c, const std::string& form, int& code) {
  ClientRequest r;
  return r.PostEncrypted(nullptr, url(s, "?clientid=" + std::to_string(c.clientId)), form, code,
                         [&](std::string_view text) { return c.key->EncryptText(text); });
}

// Runs op(i) for i below count on the threads; prints the rate and latencies.
template <typename Op>
double phase(const char* what, int count, int threads, Op op) {
  std::atomic<int> next{0};
  std::atomic<int> failed{0};
  Percentiles latency;
  const auto began = Clock::now();
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        std::mt19937_64 rng(static_cast<uint64_t>(t) * 7919 + 17);
        for (int i = next++; i < count; i = next++) {
          const auto at = Clock::now();
          if (!op(i, rng)) ++failed;
          latency.add(since(at));
        }
      });
    }
  }
  const double seconds = since(began) / 1000;
  std::printf("%-12s %7d in %7.1f s: %8.0f /s, %d failed; %s\n", what, count, seconds, count / seconds, failed.load(),
              latency.text().c_str());
  std::fflush(stdout);
  return count / seconds;
}

// The kinds of search the searcher cycles through, and listings.
struct SearchKind {
  const char* name;
  const char* extra;  // added to the request; "%G" is the group
};
constexpr SearchKind kSearchKinds[] = {
    {"word", ""},          {"prefix", ""},          {"common word", ""}, {"listing", ""},
    {"word, kind", "&filekind=1"}, {"word, size", "&minsize=200000&maxsize=600000"}, {"word, online", "&onlineonly=1"},
    {"word, group", "&groupid=%G"},
};
constexpr size_t kKinds = sizeof kSearchKinds / sizeof kSearchKinds[0];

// Every client pings once per interval for `seconds`, through the server
// after the one it logged in through (the same one when there is one);
// searches and listings run beside them when `searches` is set.
PingOutcome pingsWithSearches(const RunOptions& o, std::vector<Client>& clients, double interval, double runSeconds,
                              bool searches) {
  constexpr int kSockets = 256;
  const size_t servers = o.servers.size();
  std::vector<UniqueFd> sockets;
  std::vector<std::deque<Clock::time_point>> pending(kSockets);
  std::vector<std::mutex> pendingLocks(kSockets);
  for (int i = 0; i < kSockets; ++i) {
    sockets.emplace_back(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    int size = 1 << 20;
    ::setsockopt(sockets.back().get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  std::vector<sockaddr_in> targets(servers);
  for (size_t k = 0; k < servers; ++k) {
    targets[k].sin_family = AF_INET;
    targets[k].sin_port = htons(static_cast<uint16_t>(o.servers[k].udp));
    targets[k].sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  std::atomic<int64_t> sent{0};
  std::atomic<int64_t> answered{0};
  std::atomic<int64_t> refused{0};
  std::atomic<bool> sending{true};
  Percentiles pingLatency;
  Percentiles searchLatency;
  Percentiles listingLatency;
  std::vector<Percentiles> kindLatency(kKinds);
  std::atomic<int> searchFailures{0};

  std::jthread receiver([&](std::stop_token stop) {
    std::vector<pollfd> fds(kSockets);
    for (int i = 0; i < kSockets; ++i) fds[static_cast<size_t>(i)] = {sockets[static_cast<size_t>(i)].get(), POLLIN, 0};
    char buffer[512];
    while (!stop.stop_requested()) {
      if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
      for (int i = 0; i < kSockets; ++i) {
        if ((fds[static_cast<size_t>(i)].revents & POLLIN) == 0) continue;
        while (true) {
          const ssize_t n = ::recv(fds[static_cast<size_t>(i)].fd, buffer, sizeof buffer, MSG_DONTWAIT);
          if (n <= 0) break;
          if (std::string_view(buffer, static_cast<size_t>(n)) == "error=1&") ++refused;
          ++answered;
          std::scoped_lock lock(pendingLocks[static_cast<size_t>(i)]);
          if (!pending[static_cast<size_t>(i)].empty()) {
            pingLatency.add(since(pending[static_cast<size_t>(i)].front()));
            pending[static_cast<size_t>(i)].pop_front();
          }
        }
      }
    }
  });

  std::jthread searcher([&](std::stop_token stop) {
    if (!searches) return;
    std::mt19937_64 rng(99);
    const auto period = std::chrono::duration<double>(1.0 / o.searchRate);
    auto next = Clock::now();
    for (int k = 0; !stop.stop_requested() && sending; ++k) {
      std::this_thread::sleep_until(next);
      next += std::chrono::duration_cast<Clock::duration>(period);
      const Client& c = clients[rng() % clients.size()];
      const Server& s = o.servers[static_cast<size_t>(k) % o.servers.size()];
      const size_t kind = static_cast<size_t>(k) % kKinds;
      int code = -1;
      const auto at = Clock::now();
      if (kind == 3) {
        const int64_t dir = o.firstDirectory + static_cast<int64_t>(rng() % kDirectories);
        const std::string reply = encrypted(s, c, "action=getlisting&dirid=" + std::to_string(dir), code);
        listingLatency.add(since(at));
        kindLatency[kind].add(since(at));
        if (code != 0 || ReplyNumber(reply, "result=") != 0) ++searchFailures;
        continue;
      }
      std::string text = word(static_cast<int>(rng() % kWords));
      if (kind == 2) text = "track";
      if (kind == 1) text = text.substr(0, 4);
      std::string extra = kSearchKinds[kind].extra;
      if (const size_t g = extra.find("%G"); g != std::string::npos) extra.replace(g, 2, std::to_string(o.group));
      const std::string reply = encrypted(s, c, "action=search&string=" + text + "&returncount=1" + extra, code);
      searchLatency.add(since(at));
      kindLatency[kind].add(since(at));
      if (code != 0 || ReplyNumber(reply, "result=") != 0) ++searchFailures;
    }
  });

  const auto began = Clock::now();
  const auto total = static_cast<int64_t>(runSeconds / interval * static_cast<double>(clients.size()));
  std::string datagram;
  for (int64_t i = 0; i < total; ++i) {
    // Ping i is due at i * interval / N: every client once per interval.
    const auto due = began + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                 static_cast<double>(i) * interval / static_cast<double>(clients.size())));
    if (due > Clock::now()) std::this_thread::sleep_until(due);
    const size_t index = static_cast<size_t>(i) % clients.size();
    const Client& c = clients[index];
    const size_t target = (index + 1) % servers;
    const std::string cipher = c.key->EncryptText("secid=&load=1");
    datagram.assign(1, static_cast<char>(cipher.size() % 256));
    datagram += cipher;
    for (const uint32_t v : {8324u, static_cast<uint32_t>(c.clientId)}) {
      for (int b = 0; b < 4; ++b) datagram += static_cast<char>((v >> (8 * b)) & 0xff);
    }
    // Each socket talks to one server, so its replies come back in order.
    const size_t s = (static_cast<size_t>(i) % (kSockets / servers)) * servers + target;
    {
      std::scoped_lock lock(pendingLocks[s]);
      pending[s].push_back(Clock::now());
    }
    ::sendto(sockets[s].get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&targets[target]),
             sizeof targets[target]);
    ++sent;
  }
  const double seconds = since(began) / 1000;
  sending = false;
  searcher.join();
  // Replies still on their way get two seconds.
  const auto drain = Clock::now() + std::chrono::seconds(2);
  while (answered < sent && Clock::now() < drain) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  receiver.request_stop();
  receiver.join();
  std::printf("pings        %7lld in %7.1f s: %8.0f /s sent, %lld answered (%lld \"log in again\"), %lld lost; %s\n",
              static_cast<long long>(sent.load()), seconds, static_cast<double>(sent) / seconds,
              static_cast<long long>(answered.load()), static_cast<long long>(refused.load()),
              static_cast<long long>(sent - answered), pingLatency.text().c_str());
  if (searches) {
    std::printf("searches     during the pings: %s, %d failed\n", searchLatency.text().c_str(), searchFailures.load());
    std::printf("listings     during the pings: %s\n", listingLatency.text().c_str());
    for (size_t k = 0; k < kKinds; ++k) {
      std::printf("  %-14s %s\n", kSearchKinds[k].name, kindLatency[k].text().c_str());
    }
  }
  std::fflush(stdout);
  return {sent.load(), answered.load(), refused.load(), pingLatency.at(0.99)};
}

// Pings alone at rising rates; the highest served without loss.
int pingSteps(const RunOptions& o, std::vector<Client>& clients) {
  double best = 0;
  for (double rate = o.stepFrom; rate <= o.stepTo; rate += o.stepBy) {
    std::printf("== offered %.0f pings/s for %.0f s; load average %s", rate, o.stepSeconds, loadAverage().c_str());
    std::fflush(stdout);
    const PingOutcome r = pingsWithSearches(o, clients, static_cast<double>(clients.size()) / rate, o.stepSeconds, false);
    if (r.sent == 0 || r.answered < r.sent || r.refused > 0 || r.p99 > o.p99Bound) {
      std::printf("step failed: %lld lost, %lld refused, p99 %.1f ms (bound %.0f ms)\n",
                  static_cast<long long>(r.sent - r.answered), static_cast<long long>(r.refused), r.p99, o.p99Bound);
      break;
    }
    best = rate;
  }
  std::printf("highest rate without loss: %.0f pings/s (offered up to %.0f)\n", best, o.stepTo);
  return 0;
}

int run(const RunOptions& o) {
  std::vector<Client> clients(static_cast<size_t>(o.clients));
  phase("logins", o.clients, o.threads, [&](int i, std::mt19937_64& rng) {
    return login(o.servers[static_cast<size_t>(i) % o.servers.size()], i, clients[static_cast<size_t>(i)], rng);
  });
  if (o.stepFrom > 0) return pingSteps(o, clients);
  pingsWithSearches(o, clients, 50.0 / o.factor, o.seconds, true);
  // add_file: 100 files a request, each client its own directory's files.
  constexpr int kPerRequest = 100;
  const int requests = (o.addFiles + kPerRequest - 1) / kPerRequest;
  const double rate = phase("add_file", requests, o.threads, [&](int r, std::mt19937_64&) {
    const Client& c = clients[static_cast<size_t>(r) % clients.size()];
    const int64_t dir = o.firstDirectory + r % kDirectories;
    std::string form = "action=add_file&dirid=" + std::to_string(dir);
    for (int k = 0; k < kPerRequest; ++k) {
      form += "&cfileid=0&filename=new " + std::to_string(r) + " " + std::to_string(k) +
              ".txt&filesize=1&keywords=&filetype=txt";
    }
    int code = -1;
    const std::string reply = encrypted(o.servers[static_cast<size_t>(r) % o.servers.size()], c, form, code);
    return code == 0 && ReplyNumber(reply, "result=") == 0;
  });
  std::printf("add_file     %d files a request: %.0f files/s\n", kPerRequest, rate * kPerRequest);
  return 0;
}

bool parseServer(const std::string& text, Server& s) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  s.http = std::atoi(text.substr(0, colon).c_str());
  s.udp = std::atoi(text.substr(colon + 1).c_str());
  return s.http > 0 && s.udp > 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  std::string db;
  std::string key;
  int64_t files = 1'000'000;
  double pingRate = 0;
  RunOptions o;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const std::string v = argv[i + 1];
    if (a == "--db") db = v;
    else if (a == "--key") key = v;
    else if (a == "--clients") o.clients = std::atoi(v.c_str());
    else if (a == "--files") files = std::atoll(v.c_str());
    else if (a == "--factor") o.factor = std::atof(v.c_str());
    else if (a == "--ping-rate") pingRate = std::atof(v.c_str());
    else if (a == "--seconds") o.seconds = std::atof(v.c_str());
    else if (a == "--search-rate") o.searchRate = std::atof(v.c_str());
    else if (a == "--add-files") o.addFiles = std::atoi(v.c_str());
    else if (a == "--threads") o.threads = std::atoi(v.c_str());
    else if (a == "--first-directory") o.firstDirectory = std::atoll(v.c_str());
    else if (a == "--group") o.group = std::atoll(v.c_str());
    else if (a == "--step-seconds") o.stepSeconds = std::atof(v.c_str());
    else if (a == "--p99-bound") o.p99Bound = std::atof(v.c_str());
    else if (a == "--ping-steps") {
      if (std::sscanf(v.c_str(), "%lf:%lf:%lf", &o.stepFrom, &o.stepBy, &o.stepTo) != 3) {
        return std::fprintf(stderr, "--ping-steps wants FROM:STEP:TO\n"), 2;
      }
    }
    else if (a == "--server") {
      Server s;
      if (!parseServer(v, s)) return std::fprintf(stderr, "--server wants HTTP-PORT:UDP-PORT\n"), 2;
      o.servers.push_back(s);
    }
  }
  // A rate of pings per second for all clients together: the interval follows.
  if (pingRate > 0 && o.clients > 0) o.factor = pingRate * 50 / o.clients;
  if (mode == "reset" && !db.empty()) return reset(db);
  if (mode == "prepare" && !db.empty() && !key.empty() && o.clients > 0) return prepare(db, key, o.clients, files);
  if (mode == "run" && !o.servers.empty() && o.clients > 0 && o.factor > 0 && o.seconds > 0 && o.searchRate > 0 &&
      o.threads > 0 && o.seconds < 3600 && o.clients <= 1'000'000 &&
      (o.stepFrom == 0 || (o.stepFrom > 0 && o.stepBy > 0 && o.stepTo >= o.stepFrom && o.stepTo <= 1e6 &&
                           (o.stepTo - o.stepFrom) / o.stepBy <= 100 && o.stepSeconds > 0 && o.stepSeconds <= 600))) {
    return run(o);
  }
  std::fprintf(stderr,
               "usage: bench_server_clients prepare --db DB --key FILE --clients N [--files M]\n"
               "       bench_server_clients run --server HTTP:UDP [--server HTTP:UDP] --clients N\n"
               "                            --first-directory ID [--factor F] [--seconds S] [--search-rate R]\n"
               "                            [--add-files A] [--threads T] [--group G]\n"
               "                            [--ping-steps FROM:STEP:TO [--step-seconds S] [--p99-bound MS]]\n");
  return 2;
}
