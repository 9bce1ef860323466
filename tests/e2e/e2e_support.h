// SPDX-License-Identifier: MIT
#pragma once
// What the whole-program tests share: a bounded wait, programs run as child
// processes and ended by their PID, and vantrel-server among them on loopback
// ports the system picks. VANTREL_SERVER_BIN names the server program.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/support/wait_for.h"

namespace vantrel::e2e {

using vantrel::testing::waitFor;

// A program started with its own environment, its output (standard output and
// error together) read through a pipe, ended by PID.
class Program {
 public:
  Program(std::vector<std::string> args, std::vector<std::string> env) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(out[1], STDERR_FILENO);
      for (auto& e : env) ::putenv(e.data());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    m_out = UniqueFd(out[0]);
    ::fcntl(m_out.get(), F_SETFL, O_NONBLOCK);
  }
  ~Program() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Everything printed so far.
  const std::string& output() {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(m_out.get(), buf, sizeof buf)) > 0) m_text.append(buf, static_cast<size_t>(n));
    return m_text;
  }
  bool printed(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return waitFor([&] { return output().find(text) != std::string::npos; }, limit);
  }
  // The exit status once it ended (-1 when it did not end in time, -2 when it
  // did not exit by itself).
  int wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    int status = 0;
    if (!waitFor([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; }, limit)) return -1;
    m_pid = -1;
    output();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  }
  void signal(int sig) { ::kill(m_pid, sig); }

 private:
  pid_t m_pid = -1;
  UniqueFd m_out;
  std::string m_text;
};

// vantrel-server on a database of its own.
class ServerProcess {
 public:
  // Starts the server with `extra` options; false when it did not say where it
  // listens within 20 seconds.
  bool start(const std::string& db, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {VANTREL_SERVER_BIN, "--db", db, "--listen", "127.0.0.1:0", "--udp-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    m_program = std::make_unique<Program>(args, std::vector<std::string>{});
    // "vantrel-server listening on http://127.0.0.1:PORT/ and UDP port N"
    const auto lineDone = [&] {
      const std::string& out = m_program->output();
      const size_t udp = out.find("UDP port ");
      return udp != std::string::npos && out.find('\n', udp) != std::string::npos;
    };
    // A new PostgreSQL database gets its tables first, which under the
    // sanitizers on a busy machine takes several seconds.
    if (!waitFor(lineDone, std::chrono::seconds(20))) return false;
    const std::string& line = m_program->output();
    const size_t colon = line.find("127.0.0.1:");
    if (colon == std::string::npos) return false;
    httpPort = static_cast<uint16_t>(std::stoi(line.substr(colon + 10)));
    udpPort = static_cast<uint16_t>(std::stoi(line.substr(line.find("UDP port ") + 9)));
    return true;
  }
  // SIGTERM, then the exit status (-1 when it did not end in time by itself).
  int stop() {
    if (!m_program) return -1;
    m_program->signal(SIGTERM);
    const int status = m_program->wait(std::chrono::seconds(5));
    m_program.reset();
    return status < 0 ? -1 : status;
  }
  ~ServerProcess() { stop(); }
  // What the server printed so far (its log, without --log).
  std::string output() { return m_program ? m_program->output() : std::string(); }
  bool printed(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return m_program && m_program->printed(text, limit);
  }

  uint16_t httpPort = 0;
  uint16_t udpPort = 0;

 private:
  std::unique_ptr<Program> m_program;
};

}  // namespace vantrel::e2e
