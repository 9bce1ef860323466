// SPDX-License-Identifier: MIT
// Load against a running vantrel-server, the way many clients would use it:
// logins, UDP pings and encrypted requests, each with the client's own
// request and encryption code, spread over a few threads. Prints the rate of
// each kind. Run by server_load.sh, which starts the server with the users.
//
//   bench_server_load --port P --udp-port U --users N --password PW
//                     [--logins 1000] [--pings 10000] [--requests 10000] [--threads 4]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
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
#include "net/socket_io.h"
#include "platform/unique_fd.h"

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;

struct Options {
  int port = 0;
  int udpPort = 0;
  int users = 100;
  std::string password;
  int logins = 1000;
  int pings = 10000;
  int requests = 10000;
  int threads = 4;
};

struct Session {
  std::unique_ptr<SessionKey> key = std::make_unique<SessionKey>();
  int clientId = 0;
};

std::string userName(int i) { return "load" + std::to_string(i); }

// One login of the user as the client makes it, with a fresh random salt.
bool login(const Options& o, int user, Session& s, std::mt19937_64& rng) {
  std::array<uint8_t, 8> salt{};
  for (auto& b : salt) b = static_cast<uint8_t>(rng());
  s.key = std::make_unique<SessionKey>();
  s.key->DeriveWithSalt(o.password, salt);
  const std::string body = "action=login&port=8323&ip=&ver=201&platform=win32_new&s=" +
                           base64Encode(s.key->SessionSalt()) + "&username=" + userName(user) +
                           "&clientid=0&verify=" + base64Encode(s.key->EncryptText(userName(user)));
  ClientRequest request;
  int code = -1;
  const std::string reply =
      request.PostForm(nullptr, "http:\\\\127.0.0.1:" + std::to_string(o.port) + "\\clientrequest", body, code);
  if (code != 0 || ReplyNumber(reply, "result=") != 0) return false;
  s.clientId = ReplyNumber(reply, "clientid=");
  return s.clientId > 0;
}

bool ping(const Options& o, int fd, const Session& s) {
  const std::string cipher = s.key->EncryptText("secid=&load=1");
  std::string d(1, static_cast<char>(cipher.size() % 256));
  d += cipher;
  for (const uint32_t v : {8324u, static_cast<uint32_t>(s.clientId)}) {
    for (int i = 0; i < 4; ++i) d += static_cast<char>((v >> (8 * i)) & 0xff);
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(o.udpPort));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) return false;
  if (!waitReadable(fd, std::chrono::milliseconds(2000))) return false;
  char reply[300];
  const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
  return n > 0 && s.key->DecryptText(std::string(reply, static_cast<size_t>(n))).rfind("chk=", 0) == 0;
}

bool request(const Options& o, const Session& s, int k) {
  static const char* kForms[] = {"action=get_fileids", "action=getlisting&categoryid=0", "action=getallgroups&checksum=0",
                                 "action=search&string=blue"};
  ClientRequest r;
  int code = -1;
  const std::string reply = r.PostEncrypted(
      nullptr, "http:\\\\127.0.0.1:" + std::to_string(o.port) + "\\clientrequest?clientid=" + std::to_string(s.clientId),
      kForms[k % 4], code, [&](std::string_view text) { return s.key->EncryptText(text); });
  return code == 0 && ReplyNumber(reply, "result=") == 0;
}

// Runs `count` operations over the threads; returns the rate per second.
template <typename Op>
double measure(const char* what, const Options& o, int count, Op op) {
  std::atomic<int> next{0};
  std::atomic<int> failed{0};
  const auto start = Clock::now();
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < o.threads; ++t) {
      workers.emplace_back([&, t] {
        std::mt19937_64 rng(static_cast<uint64_t>(t) * 7919 + static_cast<uint64_t>(::time(nullptr)));
        UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        for (int i = next++; i < count; i = next++) {
          if (!op(i, rng, udp.get())) ++failed;
        }
      });
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double rate = count / seconds;
  std::printf("%-20s %6d in %7.3f s  %9.0f /s  (%d failed)\n", what, count, seconds, rate, failed.load());
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const std::string v = argv[i + 1];
    if (a == "--port") o.port = std::stoi(v);
    else if (a == "--udp-port") o.udpPort = std::stoi(v);
    else if (a == "--users") o.users = std::stoi(v);
    else if (a == "--password") o.password = v;
    else if (a == "--logins") o.logins = std::stoi(v);
    else if (a == "--pings") o.pings = std::stoi(v);
    else if (a == "--requests") o.requests = std::stoi(v);
    else if (a == "--threads") o.threads = std::stoi(v);
  }
  if (o.port <= 0 || o.udpPort <= 0 || o.password.empty() || o.users <= 0) {
    std::fprintf(stderr, "usage: bench_server_load --port P --udp-port U --users N --password PW\n");
    return 2;
  }
  std::vector<Session> sessions(static_cast<size_t>(o.users));
  std::vector<std::mutex> locks(static_cast<size_t>(o.users));
  // Logins: each user in turn, several times; the last session of each is kept.
  measure("logins", o, o.logins, [&](int i, std::mt19937_64& rng, int) {
    const size_t u = static_cast<size_t>(i % o.users);
    std::scoped_lock lock(locks[u]);
    return login(o, static_cast<int>(u), sessions[u], rng);
  });
  measure("UDP pings", o, o.pings, [&](int i, std::mt19937_64&, int fd) {
    const size_t u = static_cast<size_t>(i % o.users);
    std::scoped_lock lock(locks[u]);
    return ping(o, fd, sessions[u]);
  });
  measure("encrypted requests", o, o.requests, [&](int i, std::mt19937_64&, int) {
    const size_t u = static_cast<size_t>(i % o.users);
    std::scoped_lock lock(locks[u]);
    return request(o, sessions[u], i / o.users);
  });
  return 0;
}
