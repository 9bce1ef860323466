// SPDX-License-Identifier: MIT
// vantrel-server as a new user meets it: the real program on loopback ports
// the system picks, a sign-up on its web site, then the client's own login,
// session, request and ping code against it.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <filesystem>
#include <glob.h>

#include "core/base64.h"
#include "tests/e2e/e2e_support.h"
#include "net/client_request.h"
#include "net/reply_fields.h"
#include "net/socket_io.h"
#include "platform/unique_fd.h"
#include "protocol/server_channel.h"
#include "protocol/server_login.h"
#include "protocol/testing/protocol_fixture.h"
#include "protocol/udp_pinger.h"
#include "server/storage/test_schema.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using e2e::ServerProcess;
using e2e::waitFor;


// A TCP listener on loopback standing in for a client's file server.
class FakeFileServer {
 public:
  FakeFileServer() {
    m_fd = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(m_fd.get(), 8);
    socklen_t len = sizeof sa;
    ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  // The first line of the next connection, answering it with `reply`.
  std::string nextLine(const std::string& reply = "") {
    if (!waitReadable(m_fd.get(), 5s)) return {};
    UniqueFd c(::accept(m_fd.get(), nullptr, nullptr));
    std::string line;
    readLine(c.get(), line, 1000, 5);
    if (!reply.empty()) sendText(c.get(), reply);
    return std::string(withoutLineEnd(line));
  }
  uint16_t port = 0;

 private:
  UniqueFd m_fd;
};

class ServerE2eTest : public ::testing::Test, public protocol_testing::ProtocolFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(schema.ok());
    ASSERT_TRUE(server.start(database(), {"--key", keyFile(), "--demo-catalogue"}));
    useServer(server.httpPort);
  }

  // SQLite in the test's folder, or a PostgreSQL schema of the test's own.
  std::string database() const { return schema.target((dir.path() / "server.db").string()); }
  std::string keyFile() const { return (dir.path() / "server.db.key").string(); }

  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(server.httpPort) + path; }

  // The sign-up form as a browser posts it.
  std::string signUp(const std::string& name, const std::string& password) {
    ClientRequest request;
    int code = -1;
    const std::string reply = request.PostForm(
        nullptr, url("/signup.jsp"), "username=" + name + "&password=" + password + "&password2=" + password, code);
    return code == 0 ? reply : std::string();
  }

  // An encrypted request through the client's envelope.
  std::string ask(const std::string& form) {
    ServerChannel channel(ctx);
    std::string reply;
    EXPECT_EQ(channel.post(form, reply), 0);
    return reply;
  }

  // A UDP ping as the client's pinger builds it; the decrypted reply.
  std::string udpPing(const std::string& text) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(server.udpPort);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string d = UdpPinger::datagram(key.EncryptText(text), 8324, state.ClientId());
    ::sendto(fd.get(), d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (!waitReadable(fd.get(), 5s)) return "(no reply)";
    char buffer[300];
    const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    const std::string raw(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    return raw == "error=1&" ? raw : key.DecryptText(raw);
  }

  vantrel::server::testing::TestSchema schema;
  ServerProcess server;
};

TEST_F(ServerE2eTest, ANewUserSignsUpAndLogsInWithTheClientsOwnCode) {
  EXPECT_NE(signUp("dora", "explorer7").find("Continue"), std::string::npos);
  // Discovery through the web site, then the login proper.
  ::setenv("VANTREL_WEB_HOST", ("127.0.0.1:" + std::to_string(server.httpPort)).c_str(), 1);
  settings.SetSettingNumber("autofind", 1);
  settings.SetSettingText("serveraddress", "");
  EXPECT_EQ(Login(ctx, "dora", "not-her-password", nullptr), 505);
  EXPECT_FALSE(state.Connected());
  EXPECT_EQ(Login(ctx, "dora", "explorer7", nullptr), 0);
  ::unsetenv("VANTREL_WEB_HOST");
  EXPECT_EQ(settings.GetSettingText("serveraddress"), "127.0.0.1");
  EXPECT_TRUE(state.Connected());
  EXPECT_GT(state.ClientId(), 0);
  EXPECT_GT(state.UserId(), 0);
  EXPECT_EQ(state.ServerChecksum(), 0);
  EXPECT_EQ(udpPing("secid=&load=1&chkmsg=1"), "chk=0&chkmsg=0&");
  EXPECT_EQ(LogoutRequest(ctx), 0);
  EXPECT_EQ(udpPing("secid=&load=1"), "error=1&");
}

TEST_F(ServerE2eTest, SharedFilesAreListedSearchedAndRemovedWithTheChecksumFollowing) {
  ASSERT_FALSE(signUp("dora", "explorer7").empty());
  settings.SetSettingNumber("port", 8400);
  ASSERT_EQ(LoginRequest(ctx, "dora", "explorer7", nullptr), 0);
  EXPECT_EQ(ReplyNumber(ask("action=joingroup7&groupid=7"), "result="), 0);  // "Open Music Lounge", admit all
  const std::string made = ask("action=createdir&dirname=Live&parent=7");
  const int live = ReplyNumber(made, "dirid=");
  ASSERT_GT(live, 0);
  const std::string added = ask("action=add_file&dirid=" + std::to_string(live) +
                                "&cfileid=0&filename=Blue Train.mp3&filesize=5000&keywords=&filetype=mp3"
                                "&cfileid=1&filename=Moanin.ogg&filesize=300&keywords=&filetype=ogg");
  ASSERT_EQ(ReplyNumber(added, "result="), 0) << added;
  const int first = ReplyNumber(added, "fileid=");
  const int second = ReplyNumber(added.substr(added.find('&') + 1), "fileid=");
  ASSERT_GT(second, first);

  std::string ping;
  ASSERT_EQ(PingRequest(ctx, ping), 0);  // the HTTP ping: raw cipher
  EXPECT_EQ(key.DecryptText(ping), "chk=" + std::to_string((first + second) % 1000000) + "&chkmsg=0&");

  const std::string ids = ask("action=get_fileids");
  EXPECT_EQ(ReplyNumber(ids, "numfiles="), 2);

  const std::string listing = ask("action=getlisting&dirid=" + std::to_string(live));
  EXPECT_EQ(ReplyNumber(listing, "result="), 0);
  EXPECT_NE(listing.find("&&type=4&name=Blue%20Train.mp3&id=" + std::to_string(first) + "&"), std::string::npos)
      << listing;
  EXPECT_NE(listing.find("url=http://127.0.0.1:8400/getfile/?fileid%3D"), std::string::npos) << listing;

  const std::string found = ask("action=search&string=blue&returncount=1");
  EXPECT_EQ(ReplyNumber(found, "count="), 1);
  EXPECT_NE(found.find("name=Blue%20Train.mp3"), std::string::npos);

  EXPECT_EQ(ReplyNumber(ask("action=remove_file&fileid=" + std::to_string(first)), "result="), 0);
  EXPECT_EQ(udpPing("secid=&load=1"), "chk=" + std::to_string(second % 1000000) + "&chkmsg=0&");
  EXPECT_EQ(ReplyNumber(ask("action=search&string=blue&returncount=1"), "count="), 0);

  // The session and the files outlive a restart of the server.
  EXPECT_EQ(server.stop(), 0);
  ASSERT_TRUE(server.start(database(), {"--key", keyFile()}));
  useServer(server.httpPort);
  EXPECT_EQ(ReplyNumber(ask("action=get_fileids"), "numfiles="), 1);
}

TEST_F(ServerE2eTest, TheServerOrdersRemovalsAndProbesTheFirewallOnTheClientsPorts) {
  ASSERT_FALSE(signUp("dora", "explorer7").empty());
  FakeFileServer fileServer;
  settings.SetSettingNumber("port", fileServer.port);
  ASSERT_EQ(LoginRequest(ctx, "dora", "explorer7", nullptr), 0);
  const int group = ReplyNumber(ask("action=creategroup&groupname=Dora Maps&parentid=1&perm=2&memb=4"), "groupid=");
  ASSERT_GT(group, 0);
  const std::string added = ask("action=add_file&dirid=" + std::to_string(group) +
                                "&cfileid=0&filename=map.png&filesize=10&keywords=&filetype=png");
  const int file = ReplyNumber(added, "fileid=");
  ASSERT_GT(file, 0);
  const std::string sub = ask("action=createdir&dirname=Old&parent=" + std::to_string(group));
  const int old = ReplyNumber(sub, "dirid=");
  const int inOld = ReplyNumber(ask("action=add_file&dirid=" + std::to_string(old) +
                                    "&cfileid=0&filename=old.png&filesize=1&keywords=&filetype=png"),
                                "fileid=");
  ASSERT_GT(inOld, 0);

  // Removing a directory tells the owner's file server which files went.
  std::thread remover([&] { ask("action=removedir&dirid=" + std::to_string(old)); });
  EXPECT_EQ(fileServer.nextLine("result=0&fileID=" + std::to_string(inOld)),
            "GET /remove_file/?fileid=" + std::to_string(inOld) + " HTTP/1.0");
  remover.join();

  // The firewall test as the client sends it: a plain GET read as a page.
  UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(udp.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(udp.get(), reinterpret_cast<sockaddr*>(&sa), &len);
  int testCode = -1;
  std::thread tester([&] {
    ClientRequest request;
    testCode = request.GetText(url("\\clientrequest?action=test&ip=127.0.0.1&udpport=" +
                                   std::to_string(ntohs(sa.sin_port)) + "&port=" + std::to_string(fileServer.port)));
  });
  EXPECT_EQ(fileServer.nextLine(), "I am your FATHER!");
  tester.join();
  EXPECT_EQ(testCode, 0);
  ASSERT_TRUE(waitReadable(udp.get(), 5s));
  char datagram[64];
  EXPECT_GT(::recv(udp.get(), datagram, sizeof datagram, 0), 0);
}

TEST_F(ServerE2eTest, BadRequestsGetAnErrorAndChangeNothing) {
  ASSERT_FALSE(signUp("dora", "explorer7").empty());
  ASSERT_EQ(LoginRequest(ctx, "dora", "explorer7", nullptr), 0);
  ASSERT_EQ(ReplyNumber(ask("action=joingroup7&groupid=7"), "result="), 0);
  const std::string add = "action=add_file&dirid=7&cfileid=0&filename=x.txt&filesize=1&keywords=&filetype=txt";
  // The same request in plain text.
  ClientRequest plain;
  int code = -1;
  EXPECT_EQ(plain.PostForm(nullptr, ctx.target.requestUrl(state.ClientId()), add, code), "result=1&");
  // Encrypted with another key.
  SessionKey other;
  other.DeriveSessionKey("guess");
  ClientRequest wrongKey;
  const std::string reply = wrongKey.PostEncrypted(nullptr, ctx.target.requestUrl(state.ClientId()), add, code,
                                                   [&](std::string_view text) { return other.EncryptText(text); });
  EXPECT_EQ(reply, "result=1&");
  // Bytes that are no HTTP at all.
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(server.httpPort);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  sendText(fd.get(), std::string("\x16\x03\x01\x00\x05hello\r\n\r\n", 14));
  std::string status;
  readLine(fd.get(), status, 200, 5);
  EXPECT_EQ(status.rfind("HTTP/1.0 400", 0), 0u) << status;

  EXPECT_EQ(ReplyNumber(ask("action=get_fileids"), "numfiles="), 0);
}

class ServerAccountsE2eTest : public ::testing::Test, public protocol_testing::ProtocolFixture {};

TEST_F(ServerAccountsE2eTest, AccountsComeFromAFileAndItsPasswordsStayOutOfTheProcessList) {
  const std::string db = (dir.path() / "server.db").string();
  const std::string users = (dir.path() / "users").string();
  {
    std::ofstream out(users);
    out << "no colon here\n";
  }
  e2e::Program refused({VANTREL_SERVER_BIN, "--db", db, "--listen", "127.0.0.1:0", "--add-user-file", users}, {});
  EXPECT_EQ(refused.wait(), 2);
  EXPECT_NE(refused.output().find("line 1: NAME:PASSWORD expected"), std::string::npos) << refused.output();
  {
    std::ofstream out(users);
    out << "dora:explorer7\r\nmilo:with:colons\n";
  }
  ServerProcess server;
  ASSERT_TRUE(server.start(db, {"--add-user-file", users}));
  useServer(server.httpPort);
  EXPECT_EQ(LoginRequest(ctx, "milo", "with:colons", nullptr), 0);
  EXPECT_EQ(LoginRequest(ctx, "dora", "explorer7", nullptr), 0);
  EXPECT_EQ(server.output().find("warning"), std::string::npos) << server.output();
  // The password form is gone from the usage.
  e2e::Program help({VANTREL_SERVER_BIN, "--help"}, {});
  EXPECT_EQ(help.wait(), 0);
  EXPECT_NE(help.output().find("--add-user-file FILE"), std::string::npos);
  EXPECT_EQ(help.output().find("NAME:PASSWORD]"), std::string::npos);
}

// A PostgreSQL server of the test's own, made with initdb in a temporary
// folder and run as an unprivileged user (the server refuses root), on a port
// of 127.0.0.1 nobody listens on. Stopped by pg_ctl, then by its PID, and the
// folder removed, whatever the test's outcome.
class PostgresCluster {
 public:
  PostgresCluster() {
    glob_t found{};
    if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
      m_bin = std::filesystem::path(found.gl_pathv[found.gl_pathc - 1]).parent_path().string();
    }
    ::globfree(&found);
    if (m_bin.empty()) return;
    char dir[] = "/tmp/vantrel-pgrestart-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return;
    m_dir = dir;
    if (::getuid() == 0 && ::chown(dir, 65534, 65534) != 0) return;
    m_ready = run({m_bin + "/initdb", "-D", m_dir + "/data", "-U", "vantrel", "-A", "trust", "-E", "UTF8",
                   "--no-locale", "--no-sync"});
  }
  ~PostgresCluster() {
    stop();
    std::error_code ec;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
  }
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  // Empty when there is no PostgreSQL server to run here.
  const std::string& bin() const { return m_bin; }
  bool ready() const { return m_ready; }

  // Starts the server, on the same port as before when it ran already.
  bool start() {
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (m_port == 0 || attempt > 0) m_port = freePort();
      if (run({m_bin + "/pg_ctl", "-D", m_dir + "/data", "-l", m_dir + "/server.log", "-w", "-t", "30", "start", "-o",
               "-c listen_addresses=127.0.0.1 -c port=" + std::to_string(m_port) + " -c unix_socket_directories=" +
                   m_dir + " -c fsync=off"})) {
        m_running = true;
        return true;
      }
      if (m_started) return false;  // a restart keeps its port
    }
    return false;
  }
  bool startAgain() {
    m_started = true;
    return start();
  }
  // A fast shutdown: open connections are ended, as in a restart. A server
  // that does not stop so is killed by its PID.
  bool stop() {
    if (!m_running) return true;
    m_running = false;
    const pid_t pid = postmasterPid();
    if (run({m_bin + "/pg_ctl", "-D", m_dir + "/data", "-m", "fast", "-w", "-t", "30", "stop"})) return true;
    if (pid > 0) ::kill(pid, SIGKILL);
    return false;
  }
  // pg_ctl restart with the fast shutdown, on the same port and settings:
  // every open connection ends, and the server is back when it returns.
  bool restart() {
    if (run({m_bin + "/pg_ctl", "-D", m_dir + "/data", "-l", m_dir + "/server.log", "-m", "fast", "-w", "-t", "30",
             "restart"})) {
      return true;
    }
    stop();
    return false;
  }
  std::string conninfo() const { return "host=127.0.0.1 port=" + std::to_string(m_port) + " user=vantrel dbname=postgres"; }

 private:
  static uint16_t freePort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
  }

  pid_t postmasterPid() const {
    std::ifstream in(m_dir + "/data/postmaster.pid");
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
  }

  // Runs a PostgreSQL tool as the cluster's owner; true when it succeeded.
  bool run(std::vector<std::string> args) {
    if (::getuid() == 0) {
      args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
    }
    e2e::Program tool(args, {});
    const int status = tool.wait(std::chrono::seconds(60));
    if (status != 0) std::fprintf(stderr, "%s", tool.output().c_str());
    return status == 0;
  }

  std::string m_bin;
  std::string m_dir;
  uint16_t m_port = 0;
  bool m_ready = false;
  bool m_running = false;
  bool m_started = false;
};

class PostgresRestartTest : public ::testing::Test, public protocol_testing::ProtocolFixture {};

// A file with a name as people write them, in the client's request form.
constexpr char kNoirFile[] =
    "action=add_file&dirid=7&cfileid=0&filename=Caf%C3%A9%20Noir%20%232%20%26%20Co.mp3&filesize=700&keywords=&"
    "filetype=mp3";

// A page as a browser gets it: status line, headers and body; empty when
// the server did not answer within 10 seconds.
std::string httpGet(uint16_t port, const std::string& path) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return {};
  sendText(fd.get(), "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  std::string page;
  char buffer[4096];
  while (waitReadable(fd.get(), 10s)) {
    const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    page.append(buffer, static_cast<size_t>(n));
  }
  return page;
}

TEST_F(PostgresRestartTest, AServerOnARestartedDatabaseAnswersRightAgainAndNeverWronglyMeanwhile) {
  if (std::getenv("VANTREL_TEST_POSTGRES") != nullptr) GTEST_SKIP() << "runs its own PostgreSQL server";
  PostgresCluster cluster;
  if (cluster.bin().empty()) GTEST_SKIP() << "no PostgreSQL server installed";
  ASSERT_TRUE(cluster.ready());
  ASSERT_TRUE(cluster.start());
  const std::string keyFile = (dir.path() / "server.key").string();
  ServerProcess server;
  // The account comes from a file, so its password is in no process list.
  const std::string users = (dir.path() / "users").string();
  {
    std::ofstream out(users);
    out << "dora:explorer7\n\n";
  }
  ASSERT_TRUE(server.start(cluster.conninfo(), {"--key", keyFile, "--demo-catalogue", "--add-user-file", users}));
  EXPECT_EQ(server.output().find("warning"), std::string::npos) << server.output();
  useServer(server.httpPort);
  settings.SetSettingNumber("port", 8400);
  const auto ask = [&](const std::string& form) {
    ServerChannel channel(ctx);
    std::string reply;
    EXPECT_EQ(channel.post(form, reply), 0);
    return reply;
  };
  ASSERT_EQ(LoginRequest(ctx, "dora", "explorer7", nullptr), 0);
  ASSERT_EQ(ReplyNumber(ask("action=joingroup7&groupid=7"), "result="), 0);
  const std::string added =
      ask("action=add_file&dirid=7&cfileid=0&filename=Blue Train.mp3&filesize=5000&keywords=&filetype=mp3");
  ASSERT_EQ(ReplyNumber(added, "result="), 0) << added;
  ASSERT_EQ(ReplyNumber(ask("action=search&string=blue&returncount=1"), "count="), 1);

  // While the database is away: a server error, never "no files" or "wrong password".
  ASSERT_TRUE(cluster.stop());
  const std::string searched = ask("action=search&string=blue&returncount=1");
  EXPECT_EQ(ReplyNumber(searched, "result="), 3) << searched;
  EXPECT_EQ(searched.find("count="), std::string::npos) << searched;
  const std::string refused = ask(kNoirFile);
  EXPECT_EQ(ReplyNumber(refused, "result="), 3) << refused;
  const std::string page = httpGet(server.httpPort, "/search.jsp?q=blue");
  EXPECT_EQ(page.rfind("HTTP/1.0 503", 0), 0u) << page;
  EXPECT_NE(page.find("Retry-After: 5\r\n"), std::string::npos) << page;
  EXPECT_NE(page.find("<title>Service unavailable - Vantrel</title>"), std::string::npos) << page;
  EXPECT_EQ(LoginRequest(ctx, "dora", "explorer7", nullptr), 503);
  EXPECT_TRUE(server.printed("database connection lost"));
  EXPECT_EQ(server.output().find("no such user"), std::string::npos) << server.output();

  // Back again: the same server answers as before, without a restart of its own.
  // It tries the database again after pauses of at most 2 seconds.
  ASSERT_TRUE(cluster.startAgain());
  EXPECT_TRUE(waitFor([&] { return LoginRequest(ctx, "dora", "explorer7", nullptr) == 0; }, 10s));
  const std::string found = ask("action=search&string=blue&returncount=1");
  EXPECT_EQ(ReplyNumber(found, "count="), 1) << found;
  EXPECT_NE(found.find("name=Blue%20Train.mp3"), std::string::npos) << found;
  // The file refused meanwhile is added once when sent again.
  EXPECT_EQ(ReplyNumber(ask(kNoirFile), "result="), 0);
  EXPECT_EQ(ReplyNumber(ask("action=search&string=noir&returncount=1"), "count="), 1);
  EXPECT_NE(httpGet(server.httpPort, "/search.jsp?q=blue").find("1 file(s) found."), std::string::npos);
  EXPECT_EQ(LoginRequest(ctx, "dora", "wrong-password", nullptr), 505);
  EXPECT_TRUE(server.printed("database connection restored"));
  EXPECT_EQ(server.stop(), 0);
}

// One client of the load below: its own settings, session key and files.
struct LoadClient : protocol_testing::ProtocolFixture {
  std::string name;
  std::set<int64_t> acknowledged;  // file IDs the server answered with
  int uncertainAdds = 0;           // add_file requests answered with a server error
  std::atomic<int> served{0};
  int failed = 0;  // answered with a server error
  std::atomic<int> servedSinceRestart{0};
  std::vector<std::string> wrong;  // answers that were neither right nor a server error
};

std::vector<int64_t> fileIdsOf(std::string_view reply) {
  std::vector<int64_t> ids;
  for (size_t at = reply.find("fileid="); at != std::string_view::npos; at = reply.find("fileid=", at + 1)) {
    if (at > 0 && reply[at - 1] != '&') continue;
    ids.push_back(std::strtoll(std::string(reply.substr(at + 7, 20)).c_str(), nullptr, 10));
  }
  return ids;
}

// PostgreSQL restarted (pg_ctl restart -m fast) while clients add files,
// search and log in and a browser searches the web site: every answer is
// either right or a server error, the server takes up its work again by
// itself, and no file is lost, doubled, or half of a batch.
TEST(PostgresRestartUnderLoad, EveryAnswerIsRightOrAServerErrorAndNothingIsLostOrHalfMade) {
  if (std::getenv("VANTREL_TEST_POSTGRES") != nullptr) GTEST_SKIP() << "runs its own PostgreSQL server";
  PostgresCluster cluster;
  if (cluster.bin().empty()) GTEST_SKIP() << "no PostgreSQL server installed";
  ASSERT_TRUE(cluster.ready());
  ASSERT_TRUE(cluster.start());
  core_testing::ScratchDir scratch;
  const std::vector<std::string> names = {"ann", "ben", "cyd"};
  {
    std::ofstream out(scratch.path() / "users");
    for (const auto& n : names) out << n << ":password-" << n << "\n";
  }
  ServerProcess server;
  ASSERT_TRUE(server.start(cluster.conninfo(), {"--key", (scratch.path() / "server.key").string(), "--demo-catalogue",
                                                "--add-user-file", (scratch.path() / "users").string()}));

  std::vector<std::unique_ptr<LoadClient>> clients;
  for (const auto& n : names) {
    auto c = std::make_unique<LoadClient>();
    c->name = n;
    c->useServer(server.httpPort);
    ASSERT_EQ(LoginRequest(c->ctx, n, "password-" + n, nullptr), 0);
    std::string reply;
    ASSERT_EQ(ServerChannel(c->ctx).post("action=joingroup7&groupid=7", reply), 0);
    ASSERT_EQ(ReplyNumber(reply, "result="), 0) << reply;
    clients.push_back(std::move(c));
  }
  // What the browser below looks for.
  {
    std::string reply;
    ASSERT_EQ(ServerChannel(clients[0]->ctx).post(kNoirFile, reply), 0);
    ASSERT_EQ(fileIdsOf(reply).size(), 1u) << reply;
  }

  std::atomic<bool> stop{false};
  std::atomic<bool> restarted{false};
  const auto deadline = std::chrono::steady_clock::now() + 90s;
  const auto running = [&] { return !stop && std::chrono::steady_clock::now() < deadline; };
  const auto work = [&](LoadClient& c) {
    const auto outcome = [&](bool right, bool serverError, const std::string& what) {
      if (right) {
        ++c.served;
        if (restarted) ++c.servedSinceRestart;
      } else if (serverError) {
        ++c.failed;
      } else {
        c.wrong.push_back(what);
      }
    };
    for (int round = 0; running(); ++round) {
      // Two files in one request: both are stored or neither.
      const std::string prefix = "&cfileid=0&filename=load" + c.name + "%20" + std::to_string(round);
      std::string reply;
      const int code = ServerChannel(c.ctx).post(
          "action=add_file&dirid=7" + prefix + "%20a.mp3&filesize=100&keywords=&filetype=mp3" + prefix +
              "%20b.mp3&filesize=200&keywords=&filetype=mp3",
          reply);
      const auto ids = fileIdsOf(reply);
      const bool added = code == 0 && ReplyNumber(reply, "result=") == 0 && ids.size() == 2;
      const bool addFailed = code == 0 && ReplyNumber(reply, "result=") == 3;
      if (added) c.acknowledged.insert(ids.begin(), ids.end());
      if (addFailed) ++c.uncertainAdds;
      outcome(added, addFailed, "add_file: " + std::to_string(code) + " " + reply);

      const size_t known = c.acknowledged.size();
      const int searched = ServerChannel(c.ctx).post("action=search&string=load" + c.name + "&returncount=1", reply);
      const int count = ReplyNumber(reply, "count=");
      outcome(searched == 0 && count >= static_cast<int>(known),
              searched == 0 && ReplyNumber(reply, "result=") == 3 && count < 0,
              "search: " + std::to_string(searched) + " " + reply + " with " + std::to_string(known) + " added");

      if (round % 4 == 3) {
        // The client's key changes with every login it sends, so after one
        // that failed it logs in again before anything else, as it does.
        for (int login = -1; login != 0 && running();) {
          login = LoginRequest(c.ctx, c.name, "password-" + c.name, nullptr);
          outcome(login == 0, login == 503, "login: " + std::to_string(login));
          if (login == 503) std::this_thread::sleep_for(50ms);
        }
      }
    }
  };
  std::vector<std::string> pagesWrong;
  int pagesServed = 0;
  int pagesFailed = 0;
  {
    std::vector<std::jthread> workers;
    for (auto& c : clients) workers.emplace_back([&work, &c] { work(*c); });
    workers.emplace_back([&] {
      while (running()) {
        const std::string page = httpGet(server.httpPort, "/search.jsp?q=noir");
        if (page.rfind("HTTP/1.0 200", 0) == 0 && page.find(">1 file(s) found.") != std::string::npos) {
          ++pagesServed;
        } else if (page.rfind("HTTP/1.0 503", 0) == 0 && page.find("Service unavailable") != std::string::npos) {
          ++pagesFailed;
        } else {
          pagesWrong.push_back(page.substr(0, 300));
        }
        std::this_thread::sleep_for(20ms);
      }
    });
    // Reading what the server prints keeps its pipe from filling up.
    const auto allServed = [&](int atLeast) {
      return [&, atLeast] {
        server.output();
        for (const auto& c : clients) {
          if ((restarted ? c->servedSinceRestart : c->served) < atLeast) return false;
        }
        return true;
      };
    };
    EXPECT_TRUE(waitFor(allServed(6), 30s));
    EXPECT_TRUE(cluster.restart());
    restarted = true;
    EXPECT_TRUE(waitFor(allServed(6), 40s)) << server.output();
    stop = true;
  }

  int failed = pagesFailed;
  for (auto& c : clients) {
    SCOPED_TRACE(c->name);
    EXPECT_TRUE(c->wrong.empty()) << c->wrong.front();
    failed += c->failed;
    // What the server has: every file it acknowledged, and of the requests
    // that failed at most both files of each, never one without the other.
    std::string reply;
    ASSERT_EQ(ServerChannel(c->ctx).post("action=get_fileids", reply), 0);
    const auto stored = fileIdsOf(reply);
    std::set<int64_t> held(stored.begin(), stored.end());
    EXPECT_EQ(held.size(), stored.size()) << reply;
    // Not the file that the browser searches for, ann's first.
    if (c->name == "ann") held.erase(*std::min_element(stored.begin(), stored.end()));
    for (const int64_t id : c->acknowledged) EXPECT_TRUE(held.contains(id)) << "file " << id << " lost";
    const size_t extra = held.size() - std::min(held.size(), c->acknowledged.size());
    EXPECT_EQ(extra % 2, 0u) << "half of a batch was stored";
    EXPECT_LE(extra, 2u * static_cast<size_t>(c->uncertainAdds));
    ASSERT_EQ(ServerChannel(c->ctx).post("action=search&string=load" + c->name + "&returncount=1", reply), 0);
    EXPECT_EQ(ReplyNumber(reply, "count="), static_cast<int>(held.size())) << reply;
  }
  EXPECT_TRUE(pagesWrong.empty()) << pagesWrong.front();
  EXPECT_GT(pagesServed, 0);
  EXPECT_TRUE(server.printed("database connection restored")) << server.output();
  std::printf("requests answered with a server error around the restart: %d\n", failed);
  EXPECT_EQ(server.stop(), 0);
}

}  // namespace
}  // namespace vantrel
