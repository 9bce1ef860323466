// SPDX-License-Identifier: MIT
// Slow senders against a running HTTP server on loopback: N connections each
// send a request head one byte a second and never finish it; a connection the
// server cuts is opened again at once. Meanwhile, from 127.0.0.1, one real
// request after another runs for a fixed time; each counts as answered when
// its reply holds the expected text within the time-out, else as failed.
// Run by slow_senders.sh, which starts the servers.
//
//   bench_slow_senders --port P --senders N --seconds S [--per-address K]
//                      [--path /x] [--post BODY] [--expect TEXT] [--timeout 10]
//
// The senders bind 127.0.0.2, 127.0.0.3, ... as their source, K senders on
// each address (1 by default: one address each).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int port = 0;
  int senders = 100;
  int perAddress = 1;
  int seconds = 40;
  int timeout = 10;
  std::string path = "/";
  std::string post;  // empty: GET
  std::string expect;
};

int connectFrom(uint32_t source, int port, bool blocking) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) return -1;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(source);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct SenderCounts {
  std::atomic<long> connects{0};
  std::atomic<long> cuts{0};
  std::atomic<long> bytes{0};
  std::atomic<int> open{0};
};

// All senders on one thread: every second one more byte on each connection;
// a connection that ends is opened again on the next turn (at most 10 a second).
void runSenders(const Options& o, const std::atomic<bool>& stop, SenderCounts& counts) {
  static constexpr std::string_view kHead = "GET /";
  struct Slot {
    int fd = -1;
    size_t sent = 0;
    uint32_t source = 0;
  };
  std::vector<Slot> slots(static_cast<size_t>(o.senders));
  for (size_t i = 0; i < slots.size(); ++i) {
    slots[i].source = (127u << 24) + 2u + static_cast<uint32_t>(i) / static_cast<uint32_t>(o.perAddress);
  }
  auto nextByte = Clock::now();
  std::vector<pollfd> polled;
  while (!stop.load()) {
    for (Slot& s : slots) {
      if (s.fd >= 0) continue;
      s.fd = connectFrom(s.source, o.port, false);
      s.sent = 0;
      if (s.fd >= 0) counts.connects++;
    }
    const bool tick = Clock::now() >= nextByte;
    if (tick) nextByte += std::chrono::seconds(1);
    int open = 0;
    for (Slot& s : slots) {
      if (s.fd < 0) continue;
      ++open;
      if (!tick) continue;
      const char c = s.sent < kHead.size() ? kHead[s.sent] : 'a';
      if (::send(s.fd, &c, 1, MSG_NOSIGNAL) == 1) {
        ++s.sent;
        counts.bytes++;
      }
    }
    counts.open = open;
    polled.clear();
    for (const Slot& s : slots) {
      if (s.fd >= 0) polled.push_back({s.fd, POLLIN, 0});
    }
    ::poll(polled.data(), polled.size(), 100);
    for (const pollfd& p : polled) {
      if (p.revents == 0) continue;
      char buf[4096];
      const ssize_t n = ::recv(p.fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) continue;
      // Cut (or refused with a reply that has now ended): open again.
      for (Slot& s : slots) {
        if (s.fd == p.fd) {
          ::close(s.fd);
          s.fd = -1;
          counts.cuts++;
        }
      }
    }
  }
  for (Slot& s : slots) {
    if (s.fd >= 0) ::close(s.fd);
  }
}

// One real request; true when the reply holds the expected text in time.
bool realRequest(const Options& o, double* seconds) {
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::seconds(o.timeout);
  const int fd = connectFrom(INADDR_LOOPBACK, o.port, false);
  if (fd < 0) return false;
  std::string request = (o.post.empty() ? "GET " : "POST ") + o.path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                        std::to_string(o.port) + "\r\nConnection: close\r\n";
  if (!o.post.empty()) {
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(o.post.size()) + "\r\n\r\n" + o.post;
  } else {
    request += "\r\n";
  }
  size_t sent = 0;
  std::string reply;
  bool ok = false;
  while (Clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, static_cast<short>(POLLIN | (sent < request.size() ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, static_cast<int>(std::max<long>(1, left))) <= 0) continue;
    if ((p.revents & POLLOUT) != 0 && sent < request.size()) {
      const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) break;
      if (n > 0) sent += static_cast<size_t>(n);
    }
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char buf[8192];
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EAGAIN) continue;
      if (n <= 0) break;  // the reply has ended (or the connection was reset)
      reply.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  ok = reply.rfind("HTTP/1.", 0) == 0 && (o.expect.empty() || reply.find(o.expect) != std::string::npos);
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return ok;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--port") o.port = std::atoi(value);
    else if (name == "--senders") o.senders = std::atoi(value);
    else if (name == "--per-address") o.perAddress = std::max(1, std::atoi(value));
    else if (name == "--seconds") o.seconds = std::atoi(value);
    else if (name == "--timeout") o.timeout = std::atoi(value);
    else if (name == "--path") o.path = value;
    else if (name == "--post") o.post = value;
    else if (name == "--expect") o.expect = value;
    else return false;
  }
  return o.port > 0 && o.senders >= 0 && o.seconds > 0 && o.senders / o.perAddress < 250;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (argc % 2 != 1 || !parse(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: bench_slow_senders --port P --senders N --seconds S [--per-address K] [--path /x]\n"
                 "                          [--post BODY] [--expect TEXT] [--timeout 10]\n");
    return 2;
  }
  std::atomic<bool> stop{false};
  SenderCounts counts;
  std::thread senders([&] { runSenders(o, stop, counts); });
  // Let the senders take their places first.
  std::this_thread::sleep_for(std::chrono::seconds(o.senders > 0 ? 3 : 0));

  int answered = 0;
  int failed = 0;
  std::vector<double> times;
  const auto end = Clock::now() + std::chrono::seconds(o.seconds);
  while (Clock::now() < end) {
    double took = 0;
    if (realRequest(o, &took)) {
      ++answered;
      times.push_back(took);
    } else {
      ++failed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  const int openAtEnd = counts.open.load();
  stop = true;
  senders.join();
  std::sort(times.begin(), times.end());
  const auto at = [&](double q) { return times.empty() ? 0.0 : times[static_cast<size_t>(q * (times.size() - 1))]; };
  std::printf("senders %d (%d per address), %d s: real requests answered %d, failed %d; answer time median %.3f s, "
              "max %.3f s; sender connections opened %ld, cut %ld, open at the end %d\n",
              o.senders, o.perAddress, o.seconds, answered, failed, at(0.5), at(1.0), counts.connects.load(),
              counts.cuts.load(), openAtEnd);
  return 0;
}
