// SPDX-License-Identifier: MIT
// What an operator runs: the admin commands against the database of a
// running server, the log, and the firewall-test pool under load.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_io.h"
#include "platform/unique_fd.h"
#include "server/admin/admin_command.h"
#include "server/central_server.h"
#include "server/clients/server_log.h"
#include "server/clients/test_fixture.h"
#include "server/store/admin_store.h"
#include "server/store/server_setup.h"
#include "tests/support/temp_folder.h"

namespace vantrel::server {
namespace {

using vantrel::testing::TempFolder;
using namespace std::chrono_literals;

// The client's login form, from the fixture.
struct Forms : testing::ServerFixture {
  using ServerFixture::loginBody;
};

// The database of one test (see test_schema.h) with its server key in `dir`.
struct Store {
  explicit Store(const TempFolder& dir) : db(schema.target(dir.file("s.db"))), key(dir.file("s.db.key")) {}
  testing::TestSchema schema;
  std::string db;
  std::string key;
};

// One admin command as the operator types it, with `input` on standard input.
struct AdminRun {
  int status = -1;
  std::string out;
  std::string err;
};

AdminRun admin(const Store& store, std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), {"--db", store.db, "--key", store.key});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::string in = input;
  std::FILE* inFile = ::fmemopen(in.empty() ? nullptr : in.data(), in.empty() ? 1 : in.size(), "r");
  char* outText = nullptr;
  size_t outSize = 0;
  char* errText = nullptr;
  size_t errSize = 0;
  std::FILE* out = ::open_memstream(&outText, &outSize);
  std::FILE* err = ::open_memstream(&errText, &errSize);
  AdminRun run;
  run.status = runAdmin(static_cast<int>(argv.size()), argv.data(), inFile, out, err);
  std::fclose(inFile);
  std::fclose(out);
  std::fclose(err);
  run.out.assign(outText, outSize);
  run.err.assign(errText, errSize);
  std::free(outText);
  std::free(errText);
  return run;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ServerOptions loopback(const TempFolder& dir, const Store& store) {
  ServerOptions options;
  options.dbPath = store.db;
  options.keyPath = store.key;
  options.port = 0;
  options.udpPort = 0;
  options.logPath = dir.file("server.log");
  return options;
}

// The login reply the running server gives, through its protocol handler.
int loginResult(CentralServer& server, const std::string& user, const std::string& password, uint8_t salt) {
  SessionKey key;
  const std::string body = Forms::loginBody(user, password, key, salt);
  return static_cast<int>(
      ReplyNumber(server.protocol().login(FormFields(body, FormFields::Decoding::kRaw), "127.0.0.9"), "result="));
}

TEST(ServerLogTest, LinesCarryAnIsoTimeAndALevelAndNoControlCharacters) {
  const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'765'386'300'042));
  struct Case {
    LogLevel level;
    std::string message;
    std::string line;
  };
  const Case cases[] = {
      {LogLevel::kInfo, "started", "2025-12-10T17:05:00.042Z info started\n"},
      {LogLevel::kWarning, "failed login", "2025-12-10T17:05:00.042Z warning failed login\n"},
      {LogLevel::kError, "a\nforged line\r\x1b", "2025-12-10T17:05:00.042Z error a?forged line??\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(ServerLog::line(when, c.level, c.message), c.line);
}

// Every command runs while the server has the database open; what the
// commands change is what the running server does next.
TEST(AdminCommandTest, ManagesUsersAndCategoriesOfARunningServer) {
  TempFolder dir;
  const Store db(dir);
  CentralServer server;
  std::string error;
  ASSERT_TRUE(server.start(loopback(dir, db), error)) << error;

  // A new database comes with categories that hold groups.
  const AdminRun tree = admin(db, {"categories"});
  EXPECT_EQ(tree.status, 0);
  EXPECT_NE(tree.out.find("yes    0      General"), std::string::npos) << tree.out;

  // Passwords come from standard input or a file, never the command line.
  EXPECT_EQ(admin(db, {"user-add", "carol"}, "first-pw\n").status, 0);
  EXPECT_EQ(loginResult(server, "carol", "first-pw", 1), 0);
  EXPECT_EQ(admin(db, {"user-add", "carol"}, "other-pw\n").status, 1);  // taken
  EXPECT_EQ(admin(db, {"user-add", "dave"}, "").status, 1);             // no password
  EXPECT_EQ(admin(db, {"user-add", "dave"}, "abc\n").status, 1);        // too short
  std::ofstream(dir.file("pw")) << "second-pw\r\n";
  EXPECT_EQ(admin(db, {"user-password", "carol", "--password-file", dir.file("pw")}).status, 0);
  EXPECT_EQ(loginResult(server, "carol", "first-pw", 2), 5);
  EXPECT_EQ(loginResult(server, "carol", "second-pw", 3), 0);

  EXPECT_EQ(admin(db, {"user-disable", "carol"}).status, 0);
  EXPECT_EQ(loginResult(server, "carol", "second-pw", 4), 5);
  EXPECT_NE(admin(db, {"users"}).out.find("disabled"), std::string::npos);
  EXPECT_EQ(admin(db, {"user-enable", "carol"}).status, 0);
  EXPECT_EQ(loginResult(server, "carol", "second-pw", 5), 0);
  const AdminRun users = admin(db, {"users"});
  EXPECT_NE(users.out.find("carol"), std::string::npos);
  EXPECT_EQ(users.out.find("never"), std::string::npos) << users.out;  // the last login shows

  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"category-add", "0", "Books"}, 0},          // becomes 7
      {{"category-add", "7", "Poetry", "--no-groups"}, 0},  // 8
      {{"category-add", "99", "Nowhere"}, 1},
      {{"category-move", "7", "8"}, 1},             // under its own child
      {{"category-move", "8", "2"}, 0},
      {{"category-rename", "8", "Verse"}, 0},
      {{"category-remove", "2"}, 1},                // holds Verse
      {{"category-groups", "8", "yes"}, 0},
      {{"category-remove", "7"}, 0},
      {{"category-add", "x", "Bad"}, 2},
      {{"no-such-command"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    EXPECT_EQ(admin(db, c.args).status, c.status);
  }
  EXPECT_NE(admin(db, {"categories"}).out.find("yes    0      Music / Verse"), std::string::npos);

  // The log names the failed logins with user and address, never a password.
  server.stop();
  const std::string log = readFile(dir.file("server.log"));
  EXPECT_NE(log.find(" warning failed login: user carol from 127.0.0.9: wrong password\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" warning failed login: user carol from 127.0.0.9: account disabled\n"), std::string::npos);
  EXPECT_NE(log.find(" info login: user carol as client "), std::string::npos);
  for (const char* secret : {"first-pw", "second-pw"}) EXPECT_EQ(log.find(secret), std::string::npos);
}

// Deleting a user hands each group they own to an administrator, else a
// member, and removes a group that has neither; their files go with them.
TEST(AdminCommandTest, DeletingAUserHandsTheirGroupsOnOrRemovesThem) {
  TempFolder dir;
  const Store db(dir);
  for (const char* name : {"owner", "admin", "member"}) ASSERT_EQ(admin(db, {"user-add", name}, "secret\n").status, 0);
  Database database;
  ASSERT_TRUE(database.open(db.db));
  CatalogueStore catalogue(database);
  PasswordVault vault;
  AccountStore accounts(database, vault);
  const int64_t owner = accounts.findUser("owner")->id;
  const int64_t adminUser = accounts.findUser("admin")->id;
  const int64_t member = accounts.findUser("member")->id;
  const auto group = [&](const char* name) {
    NewGroup g;
    g.name = name;
    g.parentId = 1;
    g.memb = 4;
    int64_t id = 0;
    EXPECT_EQ(catalogue.createGroup(g, owner, &id), 0);
    return id;
  };
  const int64_t withAdmin = group("With Admin");
  const int64_t withMember = group("With Member");
  const int64_t alone = group("Owner Alone");
  ASSERT_TRUE(catalogue.setMemberStatus(withAdmin, member, 2));
  ASSERT_TRUE(catalogue.setMemberStatus(withAdmin, adminUser, 3));
  ASSERT_TRUE(catalogue.setMemberStatus(withMember, member, 2));
  std::vector<int64_t> ids;
  ASSERT_EQ(catalogue.addFiles(1001, owner, alone, {{"a.txt", 1, "", ""}}, &ids), 0);
  ASSERT_EQ(catalogue.addFiles(1001, owner, withAdmin, {{"b.txt", 1, "", ""}}, &ids), 0);
  ASSERT_EQ(catalogue.addFiles(1002, member, withAdmin, {{"c.txt", 1, "", ""}}, &ids), 0);

  EXPECT_EQ(admin(db, {"user-delete", "owner"}).status, 0);
  EXPECT_EQ(admin(db, {"user-delete", "owner"}).status, 1);
  EXPECT_FALSE(accounts.findUser("owner"));
  EXPECT_EQ(catalogue.node(withAdmin)->ownerId, adminUser);
  EXPECT_EQ(catalogue.memberStatus(withAdmin, adminUser), 1);
  EXPECT_EQ(catalogue.node(withMember)->ownerId, member);
  EXPECT_FALSE(catalogue.node(alone));
  EXPECT_EQ(catalogue.filesIn(withAdmin).size(), 1u);  // only the member's file stays
  const AdminRun counts = admin(db, {"counts"});
  EXPECT_EQ(counts.out, "users 2\nonline clients 0\nfiles 1\ngroups 2\ncategories 6\n");
}

// A community moves its SQLite database (the demo catalogue, accounts, a
// session and a few hundred generated files) into an empty one: everything
// arrives with its IDs, the old server key opens the passwords, search answers
// as before, and IDs handed out afterwards never repeat one from before.
TEST(AdminCommandTest, CopyFromMovesEverythingIntoAnEmptyDatabase) {
  TempFolder dir;
  const std::string source = dir.file("old.db");
  std::vector<std::string> found;
  int64_t removedId = 0;
  {
    Database db;
    ASSERT_TRUE(db.open(source)) << db.error();
    PasswordVault vault;
    AccountStore accounts(db, vault);
    CatalogueStore catalogue(db);
    std::string error;
    ASSERT_TRUE(openServerKey(accounts, vault, source, "", error)) << error;
    ASSERT_TRUE(fillDemoCatalogue(catalogue));
    ASSERT_EQ(accounts.createUser("alice", "secret1", "a@example.org"), AccountStore::Result::kOk);
    ASSERT_EQ(accounts.createUser("Bob.B", "hunter22", ""), AccountStore::Result::kOk);
    const int64_t alice = accounts.findUser("alice")->id;
    const int64_t client = *accounts.clientIdFor(alice);
    ASSERT_TRUE(accounts.saveSession({client, alice, "12345678", "127.0.0.5", "", 4711, 7110, 100, 100}));
    const int64_t lounge = 7;  // "Open Music Lounge" of the demo catalogue
    ASSERT_EQ(catalogue.node(lounge)->name, "Open Music Lounge");
    ASSERT_EQ(catalogue.joinGroup(lounge, alice, "", ""), 0);
    std::vector<NewFile> files;
    for (int i = 0; i < 300; ++i) {
      files.push_back({"track " + std::to_string(i) + (i % 3 == 0 ? " blue" : " red") + (i % 2 ? ".mp3" : ".txt"),
                       1000 + i, "", ""});
    }
    std::vector<int64_t> ids;
    ASSERT_EQ(catalogue.addFiles(client, alice, lounge, files, &ids), 0);
    removedId = ids.back();
    ASSERT_EQ(catalogue.removeClientFiles(client, {removedId}), 1);
    SearchQuery q;
    q.text = "blu";
    q.fileKind = 1;
    for (const auto& f : catalogue.search(q).files) found.push_back(f.name);
    ASSERT_EQ(found.size(), 50u);
  }

  Store target(dir);
  target.key = source + ".key";
  const AdminRun copied = admin(target, {"copy-from", source});
  ASSERT_EQ(copied.status, 0) << copied.err;
  EXPECT_NE(copied.out.find("copied 2 users, 17 categories, groups and directories, 299 files"), std::string::npos)
      << copied.out;
  const AdminRun again = admin(target, {"copy-from", source});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("not empty"), std::string::npos);

  Database db;
  ASSERT_TRUE(db.open(target.db)) << db.error();
  PasswordVault vault;
  std::string error;
  ASSERT_TRUE(vault.openKeyFile(target.key, error)) << error;
  AccountStore accounts(db, vault);
  CatalogueStore catalogue(db);
  EXPECT_TRUE(accounts.checkPassword("alice", "secret1").has_value());
  EXPECT_TRUE(accounts.checkPassword("bob.b", "hunter22").has_value());
  const auto session = accounts.loadSession(*accounts.clientIdFor(accounts.findUser("alice")->id));
  ASSERT_TRUE(session.has_value());
  EXPECT_EQ(session->salt, "12345678");
  EXPECT_EQ(session->port, 4711);
  SearchQuery q;
  q.text = "blu";
  q.fileKind = 1;
  std::vector<std::string> names;
  for (const auto& f : catalogue.search(q).files) names.push_back(f.name);
  EXPECT_EQ(names, found);
  EXPECT_EQ(catalogue.groupSettings(9)->hasPassword, true);  // "Home Movies" keeps its password
  EXPECT_EQ(catalogue.joinGroup(9, accounts.findUser("alice")->id, "demo", ""), 0);
  std::vector<int64_t> ids;
  ASSERT_EQ(catalogue.addFiles(session->clientId, session->userId, 7, {{"new.txt", 1, "", ""}}, &ids), 0);
  EXPECT_EQ(ids.at(0), removedId + 1);
  EXPECT_GT(catalogue.createCategory(0, "Later", true), 17);
}

// Firewall tests aimed at a port that never answers hold the pool, not the
// request workers: logins answer at once while 50 tests wait, and a second
// test from an address that has one running is refused at once.
TEST(FirewallTestPoolTest, FiftyHangingTestsLeaveLoginsFast) {
  // A port whose accept queue is full: connecting to it hangs until time-out.
  UniqueFd sink(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  socklen_t len = sizeof sa;
  ASSERT_EQ(::bind(sink.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(sink.get(), 0), 0);
  ASSERT_EQ(::getsockname(sink.get(), reinterpret_cast<sockaddr*>(&sa), &len), 0);
  const int sinkPort = ntohs(sa.sin_port);
  std::vector<UniqueFd> fillers;
  for (int i = 0; i < 4; ++i) {
    UniqueFd f(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in to = sa;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(f.get(), reinterpret_cast<sockaddr*>(&to), sizeof to);
    fillers.push_back(std::move(f));
  }

  TempFolder dir;
  const Store store(dir);
  ServerOptions options = loopback(dir, store);
  options.users = {{"alice", "secret1"}};
  options.probeTimeoutMs = 1500;
  CentralServer server;
  std::string error;
  ASSERT_TRUE(server.start(options, error)) << error;
  const int port = server.httpPort();

  // A request from 127.0.0.N, answered within `limit` or "".
  const auto exchange = [port](int from, const std::string& request, std::chrono::milliseconds limit) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK + static_cast<uint32_t>(from - 1));
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    setSocketTimeouts(fd.get(), limit);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd.get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 ||
        ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
      return std::string();
    }
    std::string reply;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd.get(), buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
    return reply;
  };
  const std::string test =
      "GET /clientrequest?action=test&ip=1.2.3.4&udpport=9&port=" + std::to_string(sinkPort) + " HTTP/1.0\r\n\r\n";

  std::atomic<int> sent{0};
  std::vector<std::jthread> testers;
  for (int i = 0; i < 50; ++i) {
    testers.emplace_back([&, i] {
      ++sent;
      exchange(10 + i, test, 20s);
    });
  }
  while (sent < 50) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(100ms);  // let the requests reach the pool

  const auto began = std::chrono::steady_clock::now();
  const std::string busy = exchange(10, test, 1s);
  EXPECT_NE(busy.find("503"), std::string::npos) << busy;
  for (int i = 0; i < 5; ++i) {
    SessionKey key;
    const std::string body = Forms::loginBody("alice", "secret1", key, static_cast<uint8_t>(i + 1));
    const std::string reply = exchange(2, "POST /clientrequest HTTP/1.0\r\nContent-Length: " +
                                              std::to_string(body.size()) + "\r\n\r\n" + body, 1s);
    EXPECT_NE(reply.find("result=0&"), std::string::npos) << reply;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - began, 1s * 6);
  server.stop();  // queued tests are dropped; the testers see their connections close
}

}  // namespace
}  // namespace vantrel::server
