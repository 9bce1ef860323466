// SPDX-License-Identifier: MIT
#pragma once
// What the whole-program tests share: a bounded wait, and vantrel-server run
// as a child process on loopback ports the system picks, stopped by its PID.
// VANTREL_SERVER_BIN names the program.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_io.h"
#include "platform/unique_fd.h"

namespace vantrel::e2e {

inline bool waitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

class ServerProcess {
 public:
  // Starts the server on a new database with `extra` options; false when it
  // did not say where it listens within 5 seconds.
  bool start(const std::string& db, const std::vector<std::string>& extra = {}) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    std::vector<std::string> args = {VANTREL_SERVER_BIN, "--db", db, "--listen", "127.0.0.1:0", "--udp-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    UniqueFd read(out[0]);
    // "vantrel-server listening on http://127.0.0.1:PORT/ and UDP port N"
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      if (!waitReadable(read.get(), std::chrono::milliseconds(100))) continue;
      char c[256];
      const ssize_t n = ::read(read.get(), c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<size_t>(n));
    }
    const size_t colon = line.find("127.0.0.1:");
    const size_t udp = line.find("UDP port ");
    if (colon == std::string::npos || udp == std::string::npos) return false;
    httpPort = static_cast<uint16_t>(std::stoi(line.substr(colon + 10)));
    udpPort = static_cast<uint16_t>(std::stoi(line.substr(udp + 9)));
    return true;
  }
  // SIGTERM, then the exit status (-1 when it did not end in time).
  int stop() {
    if (m_pid <= 0) return -1;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    const bool ended = waitFor([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; });
    if (!ended) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~ServerProcess() { stop(); }

  uint16_t httpPort = 0;
  uint16_t udpPort = 0;

 private:
  pid_t m_pid = -1;
};

}  // namespace vantrel::e2e
