// SPDX-License-Identifier: MIT
// The command lines of vantreld, vantrel-server and vantrel-pack as a person
// types them: --help goes to standard output and ends with 0; a wrong command
// line is named in one line on standard error that points at --help, and ends
// with the program's usage code. Nothing here reaches a network or settings.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

struct Outcome {
  int code = -1;
  std::string out, err;
};

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Runs the program to its end (at most 10 s) and collects both streams.
Outcome run(std::vector<std::string> args, const std::vector<std::string>& env) {
  Outcome o;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return o;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    // "NAME=value" sets a variable, a bare "NAME" removes it.
    for (const std::string& e : env) {
      if (e.find('=') == std::string::npos) {
        ::unsetenv(e.c_str());
      } else {
        ::putenv(const_cast<char*>(e.c_str()));
      }
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < end) {
    if (::poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? o.out : o.err).append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  int status = 0;
  if (open > 0) ::kill(pid, SIGKILL);  // ran past its time: this test's own child
  ::waitpid(pid, &status, 0);
  o.code = open > 0 ? -1 : (WIFEXITED(status) ? WEXITSTATUS(status) : -2);
  return o;
}

TEST(CommandLines, HelpAndMistakesAnswerInOneLine) {
  enum Stream { Out, Err };
  struct Case {
    std::vector<std::string> argv;
    int code;
    Stream stream;
    std::string firstLine;
  };
  const std::string d = VANTRELD_BIN, s = VANTREL_SERVER_BIN, p = VANTREL_PACK_BIN;
  const std::vector<Case> cases = {
      {{d, "--help"}, 0, Out, "usage: vantreld [--home DIR] [--user NAME] [--password-file FILE] [--server HOST:PORT]"},
      {{d, "-h"}, 0, Out, "usage: vantreld [--home DIR] [--user NAME] [--password-file FILE] [--server HOST:PORT]"},
      {{d, "--bogus"}, 64, Err, "vantreld: unknown option --bogus; see vantreld --help"},
      {{d, "share"}, 64, Err, "vantreld: unknown option share; see vantreld --help"},
      {{d, "--user", "alice", "--home"}, 64, Err, "vantreld: --home needs a value; see vantreld --help"},
      {{d, "--port", "70000"}, 64, Err,
       "vantreld: --port wants a port number (0: one the system picks); see vantreld --help"},
      {{d, "--server", "127.0.0.1"}, 64, Err, "vantreld: --server wants HOST:PORT; see vantreld --help"},
      {{s, "--help"}, 0, Out,
       "usage: vantrel-server --db FILE|postgresql://... [--key FILE] --listen ADDR:PORT [--udp-port N]"},
      {{s}, 2, Err, "vantrel-server: --db FILE is required; see vantrel-server --help"},
      {{s, "--db", "x.db"}, 2, Err, "vantrel-server: --listen ADDR:PORT is required; see vantrel-server --help"},
      {{s, "--db", "x.db", "--listen", "127.0.0.1:0", "--frob"}, 2, Err,
       "vantrel-server: unknown option --frob; see vantrel-server --help"},
      {{s, "--listen"}, 2, Err, "vantrel-server: --listen needs a value; see vantrel-server --help"},
      {{s, "--db", "x.db", "--listen", "nowhere"}, 2, Err,
       "vantrel-server: --listen wants ADDR:PORT; see vantrel-server --help"},
      {{p, "--help"}, 0, Out, "usage: vantrel-pack COMMAND ARGUMENTS"},
      {{p}, 2, Err, "vantrel-pack: no command given; see vantrel-pack --help"},
      {{p, "frob"}, 2, Err, "vantrel-pack: unknown command frob; see vantrel-pack --help"},
      {{p, "list"}, 2, Err, "vantrel-pack: wrong arguments for list; see vantrel-pack --help"},
      {{p, "pack", "in", "out", "--version", "x"}, 2, Err, "vantrel-pack: --version wants a number; see vantrel-pack --help"},
  };
  vantrel::testing::TempFolder dir;
  // Settings and data, should anything be written, land in the scratch folder.
  const std::vector<std::string> env = {"VANTREL_CONFIG_DIR=" + (dir.path() / "config").string(),
                                        "XDG_RUNTIME_DIR=" + dir.path().string(),
                                        "HOME=" + dir.path().string()};
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& a : c.argv) name += (name.empty() ? a.substr(a.rfind('/') + 1) : a) + " ";
    SCOPED_TRACE(name);
    const Outcome o = run(c.argv, env);
    EXPECT_EQ(o.code, c.code) << o.out << o.err;
    const std::string& said = c.stream == Out ? o.out : o.err;
    const std::string& quiet = c.stream == Out ? o.err : o.out;
    EXPECT_EQ(firstLine(said), c.firstLine);
    EXPECT_EQ(quiet, "");
    // A mistake is one line; help is the whole text.
    if (c.stream == Err) {
      EXPECT_EQ(said, c.firstLine + "\n");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "config"));
}

// Every option of vantreld is explained, and the pack tool names its commands.
TEST(CommandLines, HelpExplainsEveryOption) {
  const Outcome d = run({VANTRELD_BIN, "--help"}, {});
  for (const char* option : {"--home DIR ", "--user NAME ", "--password-file FILE ", "--server HOST:PORT ",
                             "--port N ", "--udp-port N ", "--reg NAME ", "--share PATH ", "-v, --verbose "}) {
    EXPECT_NE(d.out.find(std::string("  ") + option), std::string::npos) << option;
  }
  EXPECT_NE(d.out.find("this client's own UDP port"), std::string::npos);
  const Outcome p = run({VANTREL_PACK_BIN, "--help"}, {});
  for (const char* command : {"  pack DIR OUT", "  unpack IN DIR", "  list IN", "  check IN|DIR", "  render IN|DIR NAME"}) {
    EXPECT_NE(p.out.find(command), std::string::npos) << command;
  }
}

#ifdef VANTREL_CLIENT_BIN
// The windowed client answers --help and mistakes on the terminal, without a
// display and without opening a window (Qt would abort without one).
TEST(CommandLines, WindowedClientAnswersOnTheTerminalWithoutADisplay) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int code;
    bool usage;       // the usage text on standard output
    std::string err;  // standard error, whole
  };
  const std::string noDisplay =
      "vantrel-client: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
      "Start it on the desktop, or run the client without a window: vantreld --help\n";
  const Case cases[] = {
      {"help", {"--help"}, 0, true, ""},
      {"short help beside the launcher's switch", {"/start", "-h"}, 0, true, ""},
      {"unknown option", {"/start", "--bogus"}, 2, true, "vantrel-client: unknown option --bogus\n"},
      {"option without its value", {"/start", "--server"}, 2, true, "vantrel-client: --server needs a value\n"},
      {"a start without a display", {"/start"}, 1, false, noDisplay},
  };
  vantrel::testing::TempFolder dir;
  const std::vector<std::string> env = {"VANTREL_CONFIG_DIR=" + (dir.path() / "config").string(),
                                        "XDG_RUNTIME_DIR=" + dir.path().string(),
                                        "HOME=" + dir.path().string(),
                                        "DISPLAY",
                                        "WAYLAND_DISPLAY",
                                        "QT_QPA_PLATFORM"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv{VANTREL_CLIENT_BIN};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const Outcome o = run(argv, env);
    EXPECT_EQ(o.code, c.code) << o.out << o.err;
    EXPECT_EQ(o.err, c.err);
    if (c.usage) {
      EXPECT_EQ(firstLine(o.out), "usage: vantrel-client /start [/installed] [/uninstall] [/reg 'NAME'] [options]");
      for (const char* option : {"  /reg 'NAME' ", "  --user NAME ", "  --password-file FILE ", "  --server HOST:PORT ",
                                 "  --port N ", "  --udp-port N ", "  --home DIR ", "  --share PATH ", "  -h, --help "}) {
        EXPECT_NE(o.out.find(option), std::string::npos) << option;
      }
    } else {
      EXPECT_EQ(o.out, "");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "config"));
}
#endif

}  // namespace
}  // namespace vantrel
