// SPDX-License-Identifier: MIT
// vantreld and vantrel-client as a user runs them, against the real reference
// server on loopback ports the system picks: logins that fail in each way the
// user must be told about, a second instance, the settings root and uninstall,
// sharing, an offered update declined and taken, "Exit" while someone
// downloads, and a clean stop that writes the totals.

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/client_app.h"
#include "app/client_core.h"
#include "app/models/login_model.h"
#include "app/personal_share.h"
#include "app/session_ui_adapter.h"
#include "catalogue/shared_file_list.h"
#include "core/base64.h"
#include "crypto/session_key.h"
#include "launcher/update/update_signature.h"
#include "net/socket_io.h"
#include "net/tcp_server.h"
#include "platform/registry_hive.h"
#include "platform/testing/env_override.h"
#include "platform/unique_fd.h"
#include "crypto/session_key.h"
#include "protocol/session_ui.h"
#include "protocol/shared_file_requests.h"
#include "protocol/testing/protocol_fixture.h"
#include "settings/settings_store.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/temp_folder.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using e2e::Program;
using e2e::waitFor;

// A TCP connection to `port` on loopback from the address `from`. To the
// client 127.0.0.2 is another computer: neither 127.0.0.1 nor its own address.
// A receive buffer size other than 0 is set before connecting.
UniqueFd connectFrom(int port, const char* from = "127.0.0.1", int receiveBuffer = 0) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<uint16_t>(port));
  remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (receiveBuffer > 0) ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  setSocketTimeouts(fd.get(), 10s);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd.get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    return UniqueFd();
  }
  return fd;
}

// Sends the request and reads the reply until the peer closes ("" when the
// connection failed); every wait is bounded by the socket's time-outs.
std::string exchange(int port, const std::string& request, const char* from = "127.0.0.1") {
  UniqueFd fd = connectFrom(port, from);
  if (!fd || ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    return {};
  }
  std::string reply;
  char buf[4096];
  ssize_t n;
  while ((n = ::recv(fd.get(), buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
  return reply;
}

// The status line of a page the client's file server renders for this computer.
std::string ownPageStatus(int fileServerPort) {
  const std::string reply =
      exchange(fileServerPort, "GET /template/client-info_template.html?token=1$127.0.0.1 HTTP/1.0\r\n\r\n");
  return reply.substr(0, reply.find("\r\n"));
}

class AppE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> args{VANTREL_SERVER_BIN, "--db", (dir.path() / "server.db").string(), "--listen",
                                  "127.0.0.1:0", "--udp-port", "0", "--add-user", "alice:secret"};
    if (demoCatalogue) args.push_back("--demo-catalogue");
    args.insert(args.end(), serverArgs.begin(), serverArgs.end());
    server = std::make_unique<Program>(args, std::vector<std::string>{});
    ASSERT_TRUE(server->printed("UDP port"));
    const std::string& line = server->output();
    port = std::stoi(line.substr(line.find("127.0.0.1:") + 10));
    writeFile("good", "secret\n");
    writeFile("bad", "wrong\n");
  }
  void writeFile(const std::string& name, const std::string& text) {
    std::ofstream(dir.path() / name) << text;
  }
  std::vector<std::string> env(const std::string& config = "config") const {
    return {"VANTREL_CONFIG_DIR=" + (dir.path() / config).string(), "XDG_RUNTIME_DIR=" + dir.path().string(),
            "XDG_CONFIG_HOME=" + (dir.path() / "xdg").string()};
  }
  std::unique_ptr<Program> vantreld(const std::string& home, const std::string& passwordFile,
                                    std::vector<std::string> extra = {}, int serverPort = 0,
                                    const std::string& config = "config") {
    std::vector<std::string> args = {VANTRELD_BIN, "--home", (dir.path() / home).string(), "--user", "alice",
                                     "--password-file", (dir.path() / passwordFile).string(), "--server",
                                     "127.0.0.1:" + std::to_string(serverPort != 0 ? serverPort : port), "--port",
                                     "0", "--udp-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    fs::create_directories(dir.path() / home);
    if (pagesInHome) {
      fs::copy_file(VANTREL_FILEDATA, dir.path() / home / "filedata.dat", fs::copy_options::overwrite_existing);
    }
    return std::make_unique<Program>(args, env(config));
  }

  // The settings of the fixture's terminal clients, for a test to change before they start.
  void changeSettings(const std::function<void(SettingsStore&)>& change) {
    RegistryHive hive((dir.path() / "config").string());
    SettingsStore settings(hive, "Vantrel");
    settings.EnsureDefaults();
    change(settings);
  }

  // The client as a front end builds it, in this process, logged in to the
  // fixture's server as alice, with a recording UserInterface. Its limits are
  // read when the application is built, so `change` comes first.
  // SIGPIPE keeps its default here, unlike in the front ends' main(): the file
  // server must not depend on the host program ignoring it.
  struct InProcessClient {
    vantrel::testing::EnvOverride env;
    app_testing::RecordingUi ui;
    std::unique_ptr<ClientApp> app;
  };
  void startInProcess(InProcessClient& client, const std::function<void(SettingsStore&)>& change = {},
                      bool programDirWritable = true) {
    client.env.set("VANTREL_CONFIG_DIR", (dir.path() / "config").string());
    client.env.set("XDG_RUNTIME_DIR", dir.path().string());
    client.env.set("XDG_CONFIG_HOME", (dir.path() / "xdg").string());
    changeSettings([&](SettingsStore& settings) {
      settings.SetSettingText("serveraddress", "127.0.0.1");
      settings.SetSettingNumber("serverport", port);
      settings.SetSettingNumber("autofind", 0);
      settings.SetSettingNumber("port", 0);
      settings.SetSettingNumber("udpport", 0);
      if (change) change(settings);
    });
    AppOptions options;
    options.home = (dir.path() / "inproc").string();
    options.programDir = (dir.path() / "program").string() + "/";
    options.singleInstance = false;
    options.programDirWritable = programDirWritable;
    fs::create_directories(dir.path() / "inproc");
    fs::create_directories(dir.path() / "program");
    fs::copy_file(VANTREL_FILEDATA, dir.path() / "inproc" / "filedata.dat", fs::copy_options::overwrite_existing);
    client.ui.pressLogin = true;
    client.ui.user = "alice";
    client.ui.password = "secret";
    client.app = std::make_unique<ClientApp>(client.ui, options);
    ASSERT_TRUE(client.app->InitialiseWithoutLauncher());
    ASSERT_TRUE(client.app->LoginPhase());
    ASSERT_TRUE(client.app->state().Connected()) << client.app->lastLoginCode();
    ASSERT_TRUE(client.app->core().sharing());
  }

  vantrel::testing::TempFolder dir;
  std::vector<std::string> serverArgs;  // added to the server's command line by SetUp
  bool demoCatalogue = true;             // false: the server starts on a new database as it comes
  bool pagesInHome = true;               // vantreld() puts filedata.dat into the home
  std::unique_ptr<Program> server;
  int port = 0;
};

TEST_F(AppE2eTest, WrongPasswordEndsWithItsCodeAndTitle) {
  auto client = vantreld("home", "bad");
  EXPECT_EQ(client->wait(), 2);
  EXPECT_NE(client->output().find("[Invalid login] Bad username or password, Could not log into server."),
            std::string::npos);
  EXPECT_NE(client->output().find("login failed: 505 "), std::string::npos) << client->output();
}

// Logs `user` in under an existing client ID from another machine: a socket
// bound to 127.0.0.2, so the server sees that address. Returns the reply.
std::string loginFromOtherMachine(int port, const std::string& user, const std::string& password,
                                  const std::string& clientId) {
  // A salt of its own: the clock-made one could repeat the last login's within a
  // second, which the server refuses as a replay.
  const std::array<uint8_t, SessionKey::kPartSize> salt = {'o', 't', 'h', 'e', 'r', 'p', 'c', '2'};
  SessionKey key;
  if (key.DeriveWithSalt(password, salt) != 0) return {};
  const std::string body = "action=login&port=8323&ip=127.0.0.2&ver=201&platform=win32_new&s=" +
                           base64Encode(key.SessionSalt()) + "&clientid=" + clientId +
                           "&verify=" + base64Encode(key.EncryptText(user));
  const std::string request = "POST /clientrequest HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                              "Content-type: application/x-www-form-urlencoded\r\nContent-length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
  return exchange(port, request, "127.0.0.2");
}

// A start-up step that fails says so in its own words, never as a login code
// that happens to share its number.
TEST_F(AppE2eTest, UnreadablePageArchiveStopsWithItsOwnMessage) {
  fs::create_directories(dir.path() / "broken");
  writeFile("broken/filedata.dat", "not an archive");
  Program client({VANTRELD_BIN, "--home", (dir.path() / "broken").string(), "--user", "alice", "--password-file",
                  (dir.path() / "good").string(), "--server", "127.0.0.1:" + std::to_string(port), "--port", "0",
                  "--udp-port", "0"},
                 env());
  EXPECT_EQ(client.wait(), 1) << client.output();
  // The message names the file that could not be read.
  EXPECT_NE(client.output().find("vantreld: Could not load packed filedata.dat\n\n" +
                                 (dir.path() / "broken" / "filedata.dat").string() +
                                 " could not be read as a page archive.\n"),
            std::string::npos)
      << client.output();
  EXPECT_EQ(client.output().find("login failed"), std::string::npos) << client.output();
}

// -v shows the detail lines a supporter asks for: connections, logins, pings.
TEST_F(AppE2eTest, VerboseShowsConnectionsAndLoginDetail) {
  auto verbose = vantreld("home", "good", {"-v"});
  ASSERT_TRUE(verbose->printed("your pages: ")) << verbose->output();
  const size_t at = verbose->output().find("http://127.0.0.1:") + 17;
  EXPECT_EQ(ownPageStatus(std::stoi(verbose->output().substr(at))), "HTTP/1.0 200 OK");
  EXPECT_TRUE(verbose->printed("Got Connection")) << verbose->output();
  verbose->signal(SIGTERM);
  EXPECT_EQ(verbose->wait(), 0);
}

TEST_F(AppE2eTest, LoginWhileSharingFromAnotherAddressWarnsAndKeepsTheFiles) {
  {
    auto first = vantreld("home", "good");
    ASSERT_TRUE(first->printed("logged in as alice")) << first->output();
    first->signal(SIGTERM);
    ASSERT_EQ(first->wait(), 0) << first->output();
  }
  std::string clientId;
  {
    RegistryHive hive((dir.path() / "config").string());
    SettingsStore settings(hive, "Vantrel");
    // The ID the server gave this user's first login on this machine.
    clientId = settings.GetUserText("alice", "clientid");
  }
  ASSERT_FALSE(clientId.empty());

  // The same user now shares from another machine.
  const std::string reply = loginFromOtherMachine(port, "alice", "secret", clientId);
  ASSERT_NE(reply.find("result=0&"), std::string::npos) << reply;

  // The client's login salt comes from the clock in whole seconds, and the
  // server refuses a salt it has seen as a replay: let the clock move on.
  std::this_thread::sleep_for(1100ms);

  // Logging in here again is warned about; the terminal answers "Go Back" and
  // the client ends without taking the files over.
  auto second = vantreld("home", "good");
  EXPECT_NE(second->wait(), 0) << second->output();
  EXPECT_NE(second->output().find("[Warning!] "), std::string::npos) << second->output();
  EXPECT_NE(second->output().find("Go Back, Keep the files!"), std::string::npos) << second->output();
  EXPECT_EQ(second->output().find("logged in as alice"), std::string::npos) << second->output();
}

TEST_F(AppE2eTest, TakingTheFilesOverFromAnotherAddressStartsAsAfterAnyLogin) {
  {
    auto first = vantreld("home", "good");
    ASSERT_TRUE(first->printed("logged in as alice")) << first->output();
    first->signal(SIGTERM);
    ASSERT_EQ(first->wait(), 0) << first->output();
  }
  std::string clientId;
  {
    RegistryHive hive((dir.path() / "config").string());
    clientId = SettingsStore(hive, "Vantrel").GetUserText("alice", "clientid");
  }
  ASSERT_FALSE(clientId.empty());
  ASSERT_NE(loginFromOtherMachine(port, "alice", "secret", clientId).find("result=0&"), std::string::npos);
  std::this_thread::sleep_for(1100ms);  // a new login salt (see above)

  // "Contine", then Yes: the client runs as alice, connected, with her list.
  InProcessClient client;
  client.ui.sharingChoice = AlreadySharingChoice::Continue;
  client.ui.yesNo = MessageAnswer::Yes;
  startInProcess(client);
  if (::testing::Test::HasFatalFailure()) return;
  ClientApp& app = *client.app;
  EXPECT_EQ(client.ui.sharingWarnings, 1);
  EXPECT_EQ(app.state().UserName(), "alice");
  EXPECT_EQ(app.settings().currentUser(), "alice");
  ASSERT_NE(app.core().sharedFiles(), nullptr);
  EXPECT_TRUE(fs::exists(SharedFileList::archivePathFor(app.home(), "alice")));
  const fs::path file = dir.path() / "shared" / "taken-over.txt";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "mine now\n";
  EXPECT_EQ(SharePersonal(app.protocol(), *app.core().sharedFiles(), {file.string()}), 0);
}

TEST_F(AppE2eTest, AFileIdThePeerAsksForButTheListLacksAsksAboutFilesTheServerDropped) {
  InProcessClient client;
  startInProcess(client);
  if (::testing::Test::HasFatalFailure()) return;
  ClientApp& app = *client.app;
  const fs::path file = dir.path() / "shared" / "dropped.txt";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "dropped by the server\n";
  ASSERT_EQ(SharePersonal(app.protocol(), *app.core().sharedFiles(), {file.string()}), 0);
  const std::vector<CVantreldFile> shared = app.core().sharedFiles()->snapshot();
  ASSERT_EQ(shared.size(), 1u);
  // The server forgets the file (a group administrator removed it); the client still lists it.
  const int32_t id = shared[0].fileId;
  ASSERT_EQ(RemoveFiles(app.protocol(), std::span<const int32_t>(&id, 1), nullptr), 0);

  // Another user asks for a file ID this client does not list.
  const std::string reply = exchange(app.core().fileServerPort(),
                                     "GET /getfile/?fileid=987654&username=bob&@token=" +
                                         base64Encode(app.protocol().key.EncryptText("127.0.0.2$1")) +
                                         " HTTP/1.0\r\n\r\n",
                                     "127.0.0.2");
  EXPECT_FALSE(reply.empty());
  // The comparison asks the person about the file the server dropped.
  EXPECT_TRUE(waitFor([&] {
    std::scoped_lock lock(client.ui.mutex);
    return client.ui.syncRows == std::vector<std::size_t>{1};
  }));
}

TEST_F(AppE2eTest, ServerDownEndsWith211) {
  // A port that nothing listens on: bind one, note it, close it.
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
  const int closedPort = ntohs(sa.sin_port);
  fd = UniqueFd();
  auto client = vantreld("home", "good", {}, closedPort);
  EXPECT_EQ(client->wait(), 2);
  EXPECT_NE(client->output().find("[Error] Cannot connect to server"), std::string::npos);
  EXPECT_NE(client->output().find("login failed: 211 "), std::string::npos) << client->output();
}

TEST_F(AppE2eTest, SharesServesAndStopsCleanlyWritingTheTotals) {
  fs::create_directories(dir.path() / "shared" / "sub");
  writeFile("shared/a.txt", "alpha");
  writeFile("shared/sub/b.txt", "beta");
  auto client = vantreld("home", "good", {"--share", (dir.path() / "shared").string(), "--reg", "Test"});
  ASSERT_TRUE(client->printed("sharing 2 files in the group alice-files")) << client->output();
  ASSERT_TRUE(client->printed("your pages: "));

  // A second start for the same settings ends at once; the first runs on.
  auto second = vantreld("home2", "good", {"--reg", "Test"});
  EXPECT_EQ(second->wait(), 0);
  EXPECT_NE(second->output().find("another client runs"), std::string::npos) << second->output();
  // Settings of its own (another $VANTREL_CONFIG_DIR) make another client,
  // which runs beside the first even under the same root name.
  auto beside = vantreld("home3", "good", {"--reg", "Test"}, 0, "config3");
  EXPECT_TRUE(beside->printed("logged in as alice")) << beside->output();
  EXPECT_EQ(beside->output().find("another client runs"), std::string::npos) << beside->output();
  beside->signal(SIGTERM);
  EXPECT_EQ(beside->wait(), 0) << beside->output();

  client->signal(SIGTERM);
  EXPECT_EQ(client->wait(), 0) << client->output();
  const std::string logText = vantrel::testing::readWholeFile((dir.path() / "home" / "log.txt").string());
  EXPECT_NE(logText.find("Client shut down"), std::string::npos) << logText;
  EXPECT_TRUE(fs::exists(dir.path() / "home" / "alice.dat"));
  // The server runs no contest: nothing was counted, so no contest file.
  EXPECT_FALSE(fs::exists(dir.path() / "home" / "aliceextra.dat"));

  // Everything went under the "/reg" root: the user, the totals, the login.
  RegistryHive hive((dir.path() / "config").string());
  SettingsStore settings(hive, "Test");
  EXPECT_TRUE(settings.UserKeyExists("alice"));
  EXPECT_EQ(settings.GetSettingText("user"), "alice");
  EXPECT_EQ(settings.GetSettingNumber("tbts"), 0);
  EXPECT_FALSE(hive.keyExists("Software\\Vantrel\\VtClient"));
}

// A new database as an operator starts it, without the demo catalogue: the
// client's first sharing run creates the personal group in one of the default
// categories and sends a folder of 20,000 files in one request.
class AppNewDatabaseE2eTest : public AppE2eTest {
 protected:
  AppNewDatabaseE2eTest() { demoCatalogue = false; }
};

TEST_F(AppNewDatabaseE2eTest, AFolderOfTwentyThousandFilesIsSharedAtOnce) {
  constexpr int kFiles = 20000;
  fs::create_directories(dir.path() / "big");
  for (int i = 0; i < kFiles; ++i) {
    std::ofstream(dir.path() / "big" / ("file" + std::to_string(i) + ".txt")) << i;
  }
  auto client = vantreld("home", "good", {"--share", (dir.path() / "big").string()});
  ASSERT_TRUE(client->printed("sharing " + std::to_string(kFiles) + " files in the group alice-files",
                              std::chrono::seconds(60)))
      << client->output().substr(0, 2000);
  EXPECT_EQ(client->output().find("sharing failed"), std::string::npos);
  client->signal(SIGTERM);
  EXPECT_EQ(client->wait(), 0);
}

// A folder that a stopped run left shared in part is completed by the next
// start with the same --share: what is missing is shared into the folders it
// belongs to, and nothing twice. (Files that appeared since are the same case.)
TEST_F(AppE2eTest, ShareCompletesAFolderSharedInPart) {
  fs::create_directories(dir.path() / "shared" / "sub");
  writeFile("shared/a.txt", "alpha");
  writeFile("shared/sub/b.txt", "beta");
  const std::vector<std::string> share = {"--share", (dir.path() / "shared").string()};
  {
    auto first = vantreld("home", "good", share);
    ASSERT_TRUE(first->printed("sharing 2 files")) << first->output();
    first->signal(SIGTERM);
    ASSERT_EQ(first->wait(), 0);
  }
  writeFile("shared/c.txt", "gamma");
  writeFile("shared/sub/d.txt", "delta");
  fs::create_directories(dir.path() / "shared" / "sub" / "new");
  writeFile("shared/sub/new/e.txt", "epsilon");
  // The server refuses a login salt it has seen, and the salt comes from the
  // clock in whole seconds: let the clock move on.
  std::this_thread::sleep_for(1100ms);
  {
    auto again = vantreld("home", "good", share);
    ASSERT_TRUE(again->printed("sharing 5 files")) << again->output();
    again->signal(SIGTERM);
    ASSERT_EQ(again->wait(), 0);
  }
  SharedFileList list((dir.path() / "home" / "alice.dat").string());
  ASSERT_TRUE(list.Load());
  std::map<std::string, std::string> placed;  // local path -> server folder path
  list.forEach([&](const CVantreldFile& f) { placed[f.localPath] = f.groupDirPath; });
  const std::string top = (dir.path() / "shared").string();
  const std::map<std::string, std::string> want = {
      {top + "/a.txt", "shared"},           {top + "/c.txt", "shared"},
      {top + "/sub/b.txt", "shared : sub"}, {top + "/sub/d.txt", "shared : sub"},
      {top + "/sub/new/e.txt", "shared : sub:new"},  // as a run started in "shared : sub" names it
  };
  EXPECT_EQ(placed, want);
  EXPECT_EQ(list.size(), 5u);  // one record per file: nothing registered twice
  // The same start once more has nothing left to do.
  std::this_thread::sleep_for(1100ms);
  auto third = vantreld("home", "good", share);
  ASSERT_TRUE(third->printed("sharing 5 files")) << third->output();
  third->signal(SIGTERM);
  EXPECT_EQ(third->wait(), 0);
}

TEST_F(AppE2eTest, ControlCharactersInNamesDoNotStopAFolderShare) {
  InProcessClient client;
  startInProcess(client);
  ClientApp& app = *client.app;
  SharedFileList& list = *app.core().sharedFiles();
  const fs::path folder = dir.path() / "shared" / "tabs & co";
  fs::create_directories(folder);
  std::ofstream(folder / "with\ttab.txt") << "tab\n";
  std::ofstream(folder / "\t\x01") << "nothing the server can name\n";
  std::ofstream(folder / "plain.txt") << "plain\n";
  EXPECT_EQ(SharePersonal(app.protocol(), list, {folder.string()}), 0);
  std::vector<std::string> names;
  for (const CVantreldFile& f : list.snapshot()) names.push_back(f.fileName);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"plain.txt", "with\ttab.txt"}));
  EXPECT_EQ(GetFileIds(app.protocol()).value_or(FileIdSet{}).size(), 2u);
}

// A small tmpfs mounted for one test, unmounted whatever its outcome (lazily,
// as the client under test may still hold its log open).
class SmallDisk {
 public:
  explicit SmallDisk(const fs::path& at) : m_at(at) {
    fs::create_directories(at);
    if (::mount("vantrel-test", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0755") == 0) {
      m_mounted = true;
    } else {
      m_why = std::strerror(errno);
    }
  }
  ~SmallDisk() {
    if (m_mounted) ::umount2(m_at.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return m_mounted; }
  const std::string& why() const { return m_why; }
  // Writes a file until the disk is full; false when it never filled.
  bool fill() {
    UniqueFd fd(::open((m_at / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    const std::string block(4096, 'x');
    for (int i = 0; i < 1024; ++i) {
      if (::write(fd.get(), block.data(), block.size()) < 0) return errno == ENOSPC;
    }
    return false;
  }
  void empty() { fs::remove(m_at / "filler"); }

 private:
  fs::path m_at;
  bool m_mounted = false;
  std::string m_why;
};

TEST_F(AppE2eTest, AFullDiskRefusesTheChangeAndKeepsWhatWasShared) {
  // The client's home, where its list of shared files lives, on a disk of 1 MB.
  SmallDisk disk(dir.path() / "inproc");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.why();
  InProcessClient client;
  startInProcess(client);
  ClientApp& app = *client.app;
  SharedFileList& list = *app.core().sharedFiles();
  const fs::path shared = dir.path() / "shared";
  fs::create_directories(shared / "later folder");
  std::ofstream(shared / "kept & sound.txt") << "kept\n";
  std::ofstream(shared / "new #1.txt") << "new\n";
  std::ofstream(shared / "later folder" / "inside.txt") << "inside\n";
  ASSERT_EQ(SharePersonal(app.protocol(), list, {(shared / "kept & sound.txt").string()}), 0);
  ASSERT_EQ(list.size(), 1u);
  const CVantreldFile kept = list.snapshot()[0];
  const std::string group = app.settings().GetUserText("alice", "personalgroup");
  const int fileServer = app.core().fileServerPort();
  const auto serverIds = [&] { return GetFileIds(app.protocol()).value_or(FileIdSet{}); };
  const auto post = [&](const std::string& command, const std::string& body) {
    // In parentheses: std::exchange is no candidate.
    return (exchange)(fileServer, "POST /" + command + "/?token=1$127.0.0.1 HTTP/1.0\r\nContent-length: " +
                                    std::to_string(body.size()) + "\r\n\r\n" + body);
  };

  ASSERT_TRUE(disk.fill());
  // Stopping: the page says it failed and why, and the file stays shared on
  // both sides.
  const std::string stopped = post("removeFiles", "stopsharing=" + std::to_string(kept.fileId));
  EXPECT_EQ(stopped.find("no longer shared"), std::string::npos) << stopped;
  EXPECT_NE(stopped.find("No space left on device"), std::string::npos) << stopped;
  EXPECT_TRUE(list.Contains(kept.fileId));
  EXPECT_EQ(serverIds().count(kept.fileId), 1u);

  // Sharing a file, and a folder, from the page: refused, and the server holds
  // nothing that the list lacks.
  const std::string sharedFile = post("addFiles", "dirid=" + group + "&groupid=" + group + "&groupname=alice&share=" +
                                                      (shared / "new #1.txt").string());
  EXPECT_NE(sharedFile.find("No space left on device"), std::string::npos) << sharedFile;
  const std::string sharedFolder = post("addFiles", "dirid=" + group + "&groupid=" + group +
                                                        "&groupname=alice&share=" + (shared / "later folder").string());
  EXPECT_NE(sharedFolder.find("No space left on device"), std::string::npos) << sharedFolder;
  // The window's own share run answers the same.
  EXPECT_EQ(SharePersonal(app.protocol(), list, {(shared / "new #1.txt").string()}), 800);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(serverIds(), (FileIdSet{kept.fileId}));

  // With room again, what is on disk is what both sides hold.
  disk.empty();
  SharedFileList reloaded(list.archivePath());
  ASSERT_TRUE(reloaded.Load());
  ASSERT_EQ(reloaded.size(), 1u);
  EXPECT_TRUE(reloaded.Contains(kept.fileId));
  const std::string retried = post("removeFiles", "stopsharing=" + std::to_string(kept.fileId));
  EXPECT_NE(retried.find("no longer shared"), std::string::npos) << retried;
  EXPECT_TRUE(serverIds().empty());
}

#ifdef VANTREL_CLIENT_BIN
TEST_F(AppE2eTest, UninstallRemovesEverySettingAndShowsNothing) {
  auto client = vantreld("home", "good");
  ASSERT_TRUE(client->printed("logged in as alice"));
  client->signal(SIGTERM);
  ASSERT_EQ(client->wait(), 0);
  {
    RegistryHive hive((dir.path() / "config").string());
    ASSERT_TRUE(hive.keyExists("Software\\Vantrel\\VtClient\\users\\alice"));
  }
  Program uninstall({VANTREL_CLIENT_BIN, "/start", "/uninstall"}, env());
  EXPECT_EQ(uninstall.wait(), 0);
  EXPECT_EQ(uninstall.output(), "");
  RegistryHive hive((dir.path() / "config").string());
  EXPECT_FALSE(hive.keyExists("Software\\Vantrel\\VtClient"));

}

// Only the launcher starts the client: anything without "/start" is told so
// and ends with a failure status. A request for help is answered with the
// usage and 0, and starts nothing.
TEST_F(AppE2eTest, ClientWithoutStartTellsToRunTheLauncherAndFails) {
  {
    Program help({VANTREL_CLIENT_BIN, "--help"}, env());
    EXPECT_EQ(help.wait(), 0);
    EXPECT_EQ(help.output().rfind("usage: vantrel-client /start", 0), 0u) << help.output();
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"/bogus"}, {"/installed"}, {"/reg", "'Test'"}}) {
    std::vector<std::string> argv{VANTREL_CLIENT_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    SCOPED_TRACE(::testing::PrintToString(argv));
    std::vector<std::string> environment = env();
    environment.push_back("VANTREL_HOME=" + (dir.path() / "home").string());
    Program client(argv, environment);
    EXPECT_EQ(client.wait(), ClientApp::kExitNotStarted);
    EXPECT_NE(client.output().find("[Error] Please run vantrel to start the file manager"), std::string::npos)
        << client.output();
  }
  EXPECT_FALSE(fs::exists(dir.path() / "home" / "log.txt"));
}

// The terminal client has no login window: with nothing stored to log in
// with it says how to store a login and ends instead of waiting for a signal.
TEST_F(AppE2eTest, TerminalClientWithoutStoredLoginSaysWhatToDoAndEnds) {
  std::vector<std::string> environment = env();
  environment.push_back("VANTREL_HOME=" + (dir.path() / "home").string());
  Program client({VANTREL_CLIENT_BIN, "/start"}, environment);
  EXPECT_EQ(client.wait(), ClientApp::kExitNoStoredLogin) << client.output();
  EXPECT_NE(client.output().find(ClientApp::kNoStoredLogin), std::string::npos) << client.output();
}
#endif

// Run from the build folder with a home that has no pages, vantreld finds
// the packed pages the build put beside it, and serves them.
TEST_F(AppE2eTest, VantreldFromTheBuildFolderFindsThePagesBesideItself) {
  pagesInHome = false;
  auto client = vantreld("bare", "good");
  ASSERT_TRUE(client->printed("logged in as alice")) << client->output();
  EXPECT_FALSE(fs::exists(dir.path() / "bare" / "filedata.dat"));
  const std::string out = client->output();
  const size_t at = out.find("file server on http://127.0.0.1:");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(ownPageStatus(std::stoi(out.substr(at + 32))), "HTTP/1.0 200 OK");
}

TEST_F(AppE2eTest, SignalEndsALoginThatWaitsForTheServer) {
  UniqueFd silent(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(silent.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(silent.get(), 4), 0);
  socklen_t len = sizeof sa;
  ::getsockname(silent.get(), reinterpret_cast<sockaddr*>(&sa), &len);
  auto client = vantreld("home", "good", {}, ntohs(sa.sin_port));
  ASSERT_TRUE(waitReadable(silent.get(), 5s));
  UniqueFd peer(::accept(silent.get(), nullptr, nullptr));
  ASSERT_TRUE(client->printed("Logging into server"));
  client->signal(SIGTERM);
  EXPECT_EQ(client->wait(5s), 0) << client->output();
  EXPECT_NE(client->output().find("stopped during the login"), std::string::npos);
}

TEST_F(AppE2eTest, BadOptionsEndBeforeAnythingIsWritten) {
  const std::vector<std::vector<std::string>> cases = {
      {"--server", "127.0.0.1"}, {"--server", "127.0.0.1:0"}, {"--port", "70000"}, {"--udp-port", "x"},
      {"--reg", "a\\b"},       {"--bogus"},                 {"--home"},
  };
  for (const auto& extra : cases) {
    SCOPED_TRACE(extra.front());
    std::vector<std::string> args = {VANTRELD_BIN};
    args.insert(args.end(), extra.begin(), extra.end());
    Program client(args, env());
    EXPECT_EQ(client.wait(), 64) << client.output();
  }
  EXPECT_FALSE(fs::exists(dir.path() / "config"));
  Program help({VANTRELD_BIN, "--help"}, env());
  EXPECT_EQ(help.wait(), 0);
  EXPECT_NE(help.output().find("--share PATH"), std::string::npos);
}

// "Exit" over the real server while another computer downloads from the
// client: the per-user limit keeps the download running, the question comes,
// "No" leaves everything running, "Yes" shuts down.
TEST_F(AppE2eTest, ExitWithAnActiveUploadAsksFirst) {
  InProcessClient client;
  startInProcess(client, [](SettingsStore& settings) { settings.SetSettingNumber("maxusrband", 20000); });
  if (::testing::Test::HasFatalFailure()) return;
  ClientApp& app = *client.app;
  // Sparse: 8 MiB take minutes at 20,000 bytes a second, and no disk.
  const fs::path big = dir.path() / "shared" / "big.bin";
  fs::create_directories(big.parent_path());
  std::ofstream(big).close();
  fs::resize_file(big, 8 << 20);
  ASSERT_EQ(SharePersonal(app.protocol(), *app.core().sharedFiles(), {big.string()}), 0);
  const std::vector<CVantreldFile> shared = app.core().sharedFiles()->snapshot();
  ASSERT_EQ(shared.size(), 1u);
  const int fileServer = app.core().fileServerPort();

  // A downloader on another computer that reads nothing.
  UniqueFd downloader = connectFrom(fileServer, "127.0.0.2", 4096);
  ASSERT_TRUE(downloader);
  // Another computer comes with the token the central server sealed for it.
  const std::string token =
      base64Encode(app.protocol().key.EncryptText("127.0.0.2$" + std::to_string(shared[0].groupId)));
  const std::string get = "GET /getfile/?fileid=" + std::to_string(shared[0].fileId) + "&username=bob&@token=" +
                          token + " HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(downloader.get(), get.data(), get.size(), MSG_NOSIGNAL), static_cast<ssize_t>(get.size()));
  ASSERT_TRUE(waitFor([&] { return app.state().ActiveUploads() == 1; }));

  const std::string question = std::string("Warning|") + ClientApp::kExitQuestion;
  auto questions = [&] {
    const auto list = client.ui.messageList();
    return std::count(list.begin(), list.end(), question);
  };
  client.ui.yesNo = MessageAnswer::No;
  EXPECT_FALSE(app.Exit());
  EXPECT_EQ(questions(), 1);
  // Still logged in, still serving: the download goes on and new requests are answered.
  EXPECT_TRUE(app.state().Connected());
  EXPECT_TRUE(app.core().sharing());
  EXPECT_EQ(app.state().ActiveUploads(), 1);
  EXPECT_EQ(ownPageStatus(fileServer), "HTTP/1.0 200 OK");
  char head[64] = {};
  EXPECT_GT(::recv(downloader.get(), head, sizeof head - 1, 0), 0);
  EXPECT_EQ(std::string(head).rfind("HTTP/1.0 200", 0), 0u) << head;

  client.ui.yesNo = MessageAnswer::Yes;
  EXPECT_TRUE(app.Exit());
  EXPECT_EQ(questions(), 2);
  EXPECT_FALSE(app.core().sharing());
  EXPECT_EQ(app.state().ActiveUploads(), 0);
  EXPECT_EQ(ownPageStatus(fileServer), "");  // nothing listens any more
  // The download was cut off: its connection ends before the 8 MiB arrived.
  char buf[65536];
  ssize_t n = 0;
  size_t received = 0;
  while ((n = ::recv(downloader.get(), buf, sizeof buf, 0)) > 0) received += static_cast<size_t>(n);
  const int error = errno;
  EXPECT_TRUE(n == 0 || (error != EAGAIN && error != EWOULDBLOCK)) << "still open after the receive time-out";
  EXPECT_LT(received, size_t{8} << 20);
  const std::string logText = vantrel::testing::readWholeFile((dir.path() / "inproc" / "log.txt").string());
  EXPECT_NE(logText.find("Client shut down"), std::string::npos) << logText;
}

// A known user whose list file is gone starts with an empty list, is warned,
// and the files shared before stay in the server's catalogue.
TEST_F(AppE2eTest, MissingListLeavesTheServersRecordsAlone) {
  fs::create_directories(dir.path() / "shared");
  writeFile("shared/a.txt", "alpha");
  writeFile("shared/b.txt", "beta");
  {
    InProcessClient first;
    startInProcess(first);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_EQ(SharePersonal(first.app->protocol(), *first.app->core().sharedFiles(),
                            {(dir.path() / "shared").string()}),
              0);
    ASSERT_EQ(first.app->core().sharedFiles()->size(), 2u);
    ASSERT_TRUE(first.app->Exit());
  }
  ASSERT_TRUE(fs::remove(dir.path() / "inproc" / "alice.dat"));
  // The server refuses a login salt it has seen, and the salt comes from the
  // clock in whole seconds.
  std::this_thread::sleep_for(1100ms);

  InProcessClient second;
  startInProcess(second);
  if (::testing::Test::HasFatalFailure()) return;
  ClientApp& app = *second.app;
  EXPECT_EQ(app.core().sharedFiles()->size(), 0u);
  const auto messages = second.ui.messageList();
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) {
                            return m.rfind("Warning|File Exception: Opening Shared File Archive : ", 0) == 0;
                          }),
            1)
      << ::testing::PrintToString(messages);
  // A ping that finds the checksums differ compares again: still nothing goes.
  if (app.protocol().compareWithServer) app.protocol().compareWithServer();
  const std::optional<FileIdSet> onServer = GetFileIds(app.protocol());
  ASSERT_TRUE(onServer.has_value());
  EXPECT_EQ(onServer->size(), 2u);
  EXPECT_TRUE(fs::exists(dir.path() / "inproc" / "alice.dat"));
  EXPECT_TRUE(app.Exit());
}

// A server that announces version 202 and offers the files of an update folder.
class AppUpdateE2eTest : public AppE2eTest {
 protected:
  void SetUp() override {
    fs::create_directories(dir.path() / "update");
    writeFile("update/vantrel-next.bin", "the next version\n");
    writeFile("update/filedata-next.dat", std::string(50000, 't'));
    serverArgs = {"--client-version", "202", "--update-dir", (dir.path() / "update").string(), "--update-comment",
                  "Faster searches"};
    AppE2eTest::SetUp();
  }
  std::string serverAsked() const { return "asked for the update from version 201 to 202; 2 files offered"; }
};

TEST_F(AppUpdateE2eTest, OfferedUpdateDeclinedKeepsSharing) {
  fs::create_directories(dir.path() / "shared");
  writeFile("shared/a.txt", "alpha");
  auto client = vantreld("home", "good", {"--share", (dir.path() / "shared").string()});
  ASSERT_TRUE(client->printed("sharing 1 files in the group alice-files")) << client->output();
  const std::string out = client->output();
  EXPECT_NE(out.find(std::string("[New Version!] ") + SessionUi::kUpdateText + "\nFaster searches"), std::string::npos)
      << out;
  // The terminal keeps things as they are ("Update Later") and says so in the log.
  EXPECT_NE(out.find("[New Version!] answered: No"), std::string::npos) << out;
  EXPECT_TRUE(server->printed(serverAsked())) << server->output();

  const size_t at = out.find("file server on http://127.0.0.1:");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(ownPageStatus(std::stoi(out.substr(at + 32))), "HTTP/1.0 200 OK");

  client->signal(SIGTERM);
  EXPECT_EQ(client->wait(), 0) << client->output();
  for (const fs::path& where : {fs::path(VANTRELD_BIN).parent_path(), dir.path() / "home"}) {
    SCOPED_TRACE(where.string());
    EXPECT_FALSE(fs::exists(where / "vantrel-next.bin"));
    EXPECT_FALSE(fs::exists(where / "filedata-next.dat"));
  }
  const std::string logText = vantrel::testing::readWholeFile((dir.path() / "home" / "log.txt").string());
  EXPECT_NE(logText.find("[New Version!] answered: No"), std::string::npos) << logText;
  RegistryHive hive((dir.path() / "config").string());
  SettingsStore settings(hive, "Vantrel");
  EXPECT_EQ(settings.GetSettingNumber("ClientUpdate"), -1);
}

TEST_F(AppUpdateE2eTest, CheckingSwitchedOffAsksTheServerNothing) {
  changeSettings([](SettingsStore& settings) { settings.SetSettingNumber("checkforupdates", 0); });
  auto client = vantreld("home", "good");
  ASSERT_TRUE(client->printed("logged in as alice")) << client->output();
  // The server logs the request before it answers, and the login waited for the answer.
  EXPECT_EQ(client->output().find("[New Version!]"), std::string::npos) << client->output();
  EXPECT_EQ(server->output().find("asked for the update"), std::string::npos) << server->output();
}

// "Update Now": every file arrives byte for byte in the program's update
// folder and "ClientUpdate" is left for the launcher; without a launcher the
// client says so and runs on, sharing, as after a declined update.
TEST_F(AppUpdateE2eTest, AcceptedUpdateDownloadsEveryFileAndRunsOnWithoutALauncher) {
  InProcessClient client;
  client.ui.yesNo = MessageAnswer::Yes;
  startInProcess(client);
  if (::testing::Test::HasFatalFailure()) return;
  EXPECT_TRUE(server->printed(serverAsked())) << server->output();
  for (const char* name : {"vantrel-next.bin", "filedata-next.dat"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(vantrel::testing::readWholeFile((dir.path() / "program" / "update" / name).string()),
              vantrel::testing::readWholeFile((dir.path() / "update" / name).string()));
    // Nothing of the program itself changes before the launcher checks the files.
    EXPECT_FALSE(fs::exists(dir.path() / "program" / name));
  }
  EXPECT_EQ(client.app->settings().GetSettingNumber("ClientUpdate"), 1);
  const auto messages = client.ui.messageList();
  auto shown = [&](const std::string& start, const std::string& part) {
    return std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
      return m.rfind(start, 0) == 0 && m.find(part) != std::string::npos;
    });
  };
  EXPECT_TRUE(shown(std::string(SessionUi::kUpdateTitle) + "|", "\nFaster searches")) << ::testing::PrintToString(messages);
  EXPECT_TRUE(shown("Error|Could not run vantrel, could not finish update.", "")) << ::testing::PrintToString(messages);
  const auto statuses = [&] {
    std::scoped_lock lock(client.ui.mutex);
    return client.ui.statuses;
  }();
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "filedata-next.dat - file 1 of 2"), statuses.end());
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "vantrel-next.bin - file 2 of 2"), statuses.end());
  EXPECT_EQ(ownPageStatus(client.app->core().fileServerPort()), "HTTP/1.0 200 OK");
}

// A program the user cannot change (a system-wide install) is updated by the
// package manager: the window says so, nothing is asked or downloaded.
TEST_F(AppUpdateE2eTest, SystemWideInstallLeavesTheUpdateToThePackageManager) {
  InProcessClient client;
  client.ui.yesNo = MessageAnswer::Yes;
  startInProcess(client, {}, /*programDirWritable=*/false);
  if (::testing::Test::HasFatalFailure()) return;
  const auto messages = client.ui.messageList();
  EXPECT_NE(std::find(messages.begin(), messages.end(), std::string(SessionUi::kUpdateTitle) + "|" + core::kPackagedUpdateText),
            messages.end())
      << ::testing::PrintToString(messages);
  EXPECT_EQ(server->output().find("asked for the update"), std::string::npos) << server->output();
  EXPECT_FALSE(fs::exists(dir.path() / "program" / "update"));
  EXPECT_EQ(client.app->settings().GetSettingNumber("ClientUpdate"), -1);
}

#if defined(VANTREL_LAUNCHER_BIN) && defined(VANTREL_UPDATE_PRIVATE_KEY)
// The whole hand-over: the server serves a folder signed with the build's own
// key, the client downloads it, and the launcher installed beside the client
// puts the files in place and starts the client with "/start".
TEST_F(AppUpdateE2eTest, LauncherInstallsTheSignedDownloadAndStartsTheClient) {
  std::size_t count = 0;
  std::string error;
  ASSERT_TRUE(signUpdateFolder(dir.path() / "update", VANTREL_UPDATE_PRIVATE_KEY, count, error)) << error;
  InProcessClient client;
  client.ui.yesNo = MessageAnswer::Yes;
  startInProcess(client);
  if (::testing::Test::HasFatalFailure()) return;
  EXPECT_TRUE(server->printed("3 files offered")) << server->output();
  EXPECT_EQ(client.app->settings().GetSettingNumber("ClientUpdate"), 1);
  EXPECT_TRUE(client.app->Exit());
  client.app.reset();

  const fs::path program = dir.path() / "program";
  fs::copy_file(VANTREL_LAUNCHER_BIN, program / "vantrel");
  // A stand-in client that says how it was started.
  writeFile("program/vantrel-client", "#!/bin/sh\necho \"client started with $*\"\n");
  fs::permissions(program / "vantrel-client", fs::perms::owner_all);
  Program launcher({(program / "vantrel").string()}, env());
  EXPECT_EQ(launcher.wait(), 0) << launcher.output();
  EXPECT_NE(launcher.output().find("installed the update (2 files)"), std::string::npos) << launcher.output();
  EXPECT_NE(launcher.output().find("client started with /start"), std::string::npos) << launcher.output();
  for (const char* name : {"vantrel-next.bin", "filedata-next.dat"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(vantrel::testing::readWholeFile((program / name).string()),
              vantrel::testing::readWholeFile((dir.path() / "update" / name).string()));
  }
  EXPECT_FALSE(fs::exists(program / "update"));
  RegistryHive hive((dir.path() / "config").string());
  SettingsStore settings(hive, "Vantrel");
  EXPECT_EQ(settings.GetSettingNumber("ClientUpdate"), 0);
}
#endif

// The login window's Cancel while the server does not answer: the worker ends
// with the cancelled transport, no message, and the client is not connected.
TEST(AppLoginCancelTest, CancelEndsAWaitingLoginSilently) {
  protocol_testing::ProtocolFixture fx;
  UniqueFd silent(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(silent.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(silent.get(), 4), 0);
  socklen_t len = sizeof sa;
  ::getsockname(silent.get(), reinterpret_cast<sockaddr*>(&sa), &len);
  fx.useServer(ntohs(sa.sin_port));
  fx.settings.SetSettingNumber("autofind", 0);

  class Ui : public SilentUserInterface {
   public:
    MessageAnswer showMessage(const MessageBox& box) override {
      ++messages;
      return SilentUserInterface::showMessage(box);
    }
    std::atomic<int> messages{0};
  } ui;
  SessionUiAdapter sessionUi(ui);
  const std::string home = fx.dir.path().string() + "/";
  fs::copy_file(VANTREL_FILEDATA, fx.dir.path() / "filedata.dat");
  AppContext app{fx.ctx, ui, sessionUi, home, home, home};
  ClientCore core(app);
  LoginModel dialog(core, fx.ctx, ui);
  dialog.pressLogin("alice", "secret");
  // Wait until the request is out and the worker waits for the reply.
  ASSERT_TRUE(waitReadable(silent.get(), 5s));
  UniqueFd peer(::accept(silent.get(), nullptr, nullptr));
  dialog.pressCancel();
  EXPECT_FALSE(dialog.busy());
  EXPECT_TRUE(dialog.closeRequested());
  EXPECT_TRUE(dialog.lastCode() == 205 || dialog.lastCode() == 206) << dialog.lastCode();
  EXPECT_EQ(ui.messages, 0);
  EXPECT_FALSE(fx.state.Connected());
  EXPECT_EQ(fx.ctx.loginAbort, 0);
}

}  // namespace
}  // namespace vantrel
