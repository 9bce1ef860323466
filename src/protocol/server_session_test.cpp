// SPDX-License-Identifier: MIT
#include "protocol/server_session.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "core/deployment.h"
#include "net/scripted_http_server.h"
#include "platform/testing/env_override.h"
#include "net/socket_io.h"
#include "net/test_sockets.h"
#include "protocol/testing/protocol_fixture.h"
#include "protocol/http_pinger.h"
#include "protocol/udp_pinger.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;
using testing::waitFor;
using namespace std::chrono_literals;

// A UDP socket on 127.0.0.1 standing in for the server's ping port.
struct UdpPeer {
  UniqueFd fd{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
  uint16_t port = 0;
  UdpPeer() {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &length);
    port = ntohs(at.sin_port);
  }
  std::string receive() {
    if (!waitReadable(fd.get(), 5s)) return {};
    char buffer[512];
    const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }
  void sendTo(uint16_t to, std::string_view bytes) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(to);
    ::sendto(fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&at), sizeof at);
  }
};

uint32_t le32(std::string_view bytes) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[static_cast<std::size_t>(i)]);
  return v;
}

class SessionTest : public ::testing::Test, public ProtocolFixture {
 protected:
  SessionTest() {
    loggedIn(4711);
    settings.SetSettingText("serveraddress", "127.0.0.1");
    settings.SetSettingNumber("udpport", 0);
    settings.SetSettingNumber("contype", 9);  // load class 4
  }
};

TEST_F(SessionTest, UdpPingDatagramsAskForMessagesOnTheFirstAndEveryFourth) {
  UdpPeer server;
  int saves = 0;
  ctx.saveContest = [&] { ++saves; };
  state.SetContest(true);
  contest.AwardTransfer(600, 1, "10.9.9.9");  // 2 points
  PingHandler handler(ctx);
  UdpPinger pinger(ctx, handler, 5ms);
  pinger.setServerUdpPort(server.port);
  pinger.setInterval(1);
  ASSERT_TRUE(pinger.start());
  for (int i = 1; i <= 5; ++i) {
    SCOPED_TRACE(i);
    const std::string d = server.receive();
    ASSERT_GE(d.size(), 9u);
    const std::size_t n = static_cast<uint8_t>(d[0]);
    ASSERT_EQ(d.size(), n + 9);
    const std::string want = (i == 1 || i == 5) ? "secid=&load=4&pt=2&chkmsg=1" : "secid=&load=4&pt=2";
    EXPECT_EQ(key.DecryptText(d.substr(1, n)), want);
    EXPECT_EQ(le32(std::string_view(d).substr(n + 1, 4)), pinger.localPort());
    EXPECT_EQ(le32(std::string_view(d).substr(n + 5, 4)), 4711u);
  }
  pinger.stop();
  EXPECT_EQ(saves, 2);
}

TEST_F(SessionTest, PingRepliesUpdateTheChecksumAndMessages) {
  UdpPeer server;
  int compares = 0;
  ctx.localChecksum = [] { return 3; };
  ctx.compareWithServer = [&] { ++compares; };
  PingHandler handler(ctx);
  UdpPinger pinger(ctx, handler, 5ms);
  pinger.setServerUdpPort(server.port);
  const int64_t before = pinger.lastReplyMs();
  ASSERT_TRUE(pinger.start());
  ASSERT_FALSE(server.receive().empty());
  std::this_thread::sleep_for(2ms);
  server.sendTo(pinger.localPort(), key.EncryptText("ping=20000&chk=5&chkmsg=1&"));
  ASSERT_TRUE(waitFor([&] { return pinger.lastReplyMs() > before; }));
  EXPECT_EQ(state.ServerChecksum(), 5);
  EXPECT_TRUE(state.MessagesWaiting());
  EXPECT_EQ(compares, 1);

  // The same checksum as the local list starts no comparison; -1 changes nothing.
  EXPECT_EQ(handler.HandlePingReply(key.EncryptText("chk=3&")), 1);
  EXPECT_EQ(handler.HandlePingReply(key.EncryptText("chk=-1&")), 1);
  EXPECT_EQ(state.ServerChecksum(), 3);
  EXPECT_EQ(compares, 1);
}

TEST_F(SessionTest, ServerMoveSendsLaterRequestsToTheNewHostOnPort7001) {
  PingHandler handler(ctx);
  EXPECT_EQ(handler.HandlePingReply(key.EncryptText("srvAddress=127.0.0.3&")), 1);
  EXPECT_EQ(target.host(), "127.0.0.3");
  EXPECT_EQ(target.port(), 7001);
  EXPECT_EQ(target.requestUrl(4711), "http:\\\\127.0.0.3:7001\\clientrequest?clientid=4711");
}

TEST_F(SessionTest, LostSessionLogsInAgainOnce) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&clientid=4711&checksum=1&"));
  useServer(server.port());
  PingHandler handler(ctx);
  EXPECT_EQ(handler.HandlePingReply("error=1&"), 0);  // still connected: no re-login
  EXPECT_EQ(server.requestCount(), 0u);
  state.SetConnected(false);
  EXPECT_EQ(handler.HandlePingReply("ERROR=1&"), 1);
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_TRUE(state.Connected());
  EXPECT_NE(formBody(server.lastRequest()).find("action=login&"), std::string::npos);
}

TEST_F(SessionTest, SecondReloginGivesUpWhileTheFirstRuns) {
  std::atomic<bool> release{false};
  ScriptedHttpServer server([&](int fd, const std::string&) {
    waitFor([&] { return release.load(); });
    sendText(fd, "HTTP/1.0 200 OK\r\n\r\nresult=5&");
  });
  useServer(server.port());
  state.SetConnected(false);
  PingHandler handler(ctx);
  handler.setReloginWaitStep(1ms);
  std::jthread first([&] { handler.Relogin(); });
  ASSERT_TRUE(waitFor([&] { return handler.reloginRunning(); }));
  EXPECT_EQ(handler.Relogin(), PingHandler::kReloginBusy);
  release = true;
}

// Records the lost-connection window and closes it when the prompt says so.
class FakeSessionUi : public SessionUi {
 public:
  void showLostConnection(LostConnectionPrompt& prompt) override {
    if (session != nullptr) ageAtShow = session->pinger()->secondsSinceReply();
    connectedAtShow = connected != nullptr && connected->Connected();
    reconnectMessage = prompt.tryReconnect().text;
    shown = true;
    waitFor([&] { return closeRequested.load() || prompt.onTimer(); }, 10s);
    closedByTimer = !closeRequested;
  }
  void closeLostConnection() override { closeRequested = true; }
  int showUpdate(const std::string&, UpdatePrompt&) override { return 2; }
  MessageAnswer showMessage(const MessageBox&) override { return MessageAnswer::Ok; }

  std::atomic<bool> shown{false}, closeRequested{false}, closedByTimer{false}, connectedAtShow{false};
  std::atomic<int64_t> ageAtShow{-1};
  std::string reconnectMessage;
  ServerSession* session = nullptr;  // to read the silence at showing
  ClientState* connected = nullptr;
};

TEST_F(SessionTest, WatchdogMarksDisconnectedThenShowsTheReconnectWindow) {
  UdpPeer silent;
  FakeSessionUi ui;
  ServerSession session(ctx, ui, 10ms);
  ui.session = &session;
  ui.connected = &state;
  session.setServerUdpPort(silent.port);
  target.SetServer("127.0.0.1", 1);  // re-logins fail at once: nothing listens
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(session.start());
  ASSERT_TRUE(waitFor([&] { return !state.Connected(); }));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 750ms);  // more than 1.5 intervals
  ASSERT_TRUE(waitFor([&] { return ui.shown.load(); }));
  // With the status bar's "Disconnected", not four intervals after the last reply.
  EXPECT_LE(ui.ageAtShow.load(), 4 * Pinger::kNormalInterval);
  EXPECT_FALSE(ui.connectedAtShow);
  EXPECT_EQ(session.pinger()->interval(), Pinger::kReconnectInterval);
  // 211: nothing listens; the message names where it tried.
  EXPECT_EQ(ui.reconnectMessage,
            "Could not connect to server\n\nThe server is 127.0.0.1 port 1; its address is in Settings, Server.");

  // A reply closes the window; the next check finds the client connected again.
  session.pinger()->markReply();
  ASSERT_TRUE(waitFor([&] { return !session.windowShown(); }));
  EXPECT_TRUE(ui.closedByTimer);
  session.watchdogCheck();
  EXPECT_TRUE(state.Connected());
  EXPECT_EQ(session.pinger()->interval(), Pinger::kNormalInterval);
  session.stop();
}

TEST_F(SessionTest, ReconnectedClosesTheWindowWhichOnlyComesBackWithDisconnected) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&clientid=4711&checksum=1&"));
  useServer(server.port());
  UdpPeer silent;  // pings stay unanswered: the connection is lost again and again
  struct Ui : FakeSessionUi {
    void showLostConnection(LostConnectionPrompt& prompt) override {
      connectedAtShows.push_back(connected->Connected());
      answers.push_back(prompt.tryReconnect().text);
      closedAtOnce.push_back(prompt.onTimer());
      ++shows;
    }
    std::vector<bool> connectedAtShows, closedAtOnce;  // written by the watchdog only
    std::vector<std::string> answers;
    std::atomic<int> shows{0};
  } ui;
  ui.connected = &state;
  ServerSession session(ctx, ui, 5ms);
  session.setServerUdpPort(silent.port);
  ASSERT_TRUE(session.start());
  ASSERT_TRUE(waitFor([&] { return ui.shows.load() >= 2; }, 10s));
  session.stop();
  for (std::size_t i = 0; i < ui.answers.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(ui.connectedAtShows[i]);  // never while the status says "Connected"
    EXPECT_EQ(ui.answers[i], "Reconnected!");
    EXPECT_TRUE(ui.closedAtOnce[i]);
  }
}

// The firewall check listens on the ping port for a while: the session lets
// it go and takes the same port again.
TEST_F(SessionTest, UdpPortCanBeLentAndTakenBack) {
  UdpPeer server;
  settings.SetSettingNumber("udpport", 0);  // the system picks
  FakeSessionUi ui;
  ServerSession session(ctx, ui, 5ms);
  session.setServerUdpPort(server.port);
  ASSERT_TRUE(session.start());
  const uint16_t port = session.udpPort();
  ASSERT_NE(port, 0);
  auto bindable = [port] {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    at.sin_port = htons(port);
    return ::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
  };
  EXPECT_FALSE(bindable());
  EXPECT_TRUE(session.pauseUdp());
  EXPECT_TRUE(bindable());
  EXPECT_TRUE(session.resumeUdp());
  EXPECT_EQ(session.udpPort(), port);
  EXPECT_FALSE(bindable());
  EXPECT_FALSE(server.receive().empty());  // pinging again
  session.stop();
}

TEST_F(SessionTest, HttpPingsWhenUdpIsSwitchedOff) {
  ScriptedHttpServer server([&](int fd, const std::string&) {
    sendText(fd, "HTTP/1.0 200 OK\r\n\r\n" + key.EncryptText("chk=9&chkmsg=1&"));
  });
  useServer(server.port());
  settings.SetSettingNumber("tcppings", 1);
  FakeSessionUi ui;
  ServerSession session(ctx, ui, 5ms);
  ASSERT_TRUE(session.start());
  const int64_t created = session.pinger()->lastReplyMs();
  ASSERT_TRUE(waitFor([&] { return state.ServerChecksum() == 9; }));
  EXPECT_TRUE(state.MessagesWaiting());
  EXPECT_EQ(plainBody(server.requests().front()), "action=ping");
  EXPECT_TRUE(waitFor([&] { return session.pinger()->lastReplyMs() > created; }));  // replies are accepted
  session.stop();
}

// A server whose accept queue is full never completes a connection: the
// HTTP ping sits in its connect, and stopping must not wait for it.
TEST_F(SessionTest, HttpPingerStopsWhileAPingIsConnecting) {
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(listener.get(), 0), 0);
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&at), &length), 0);
  const uint16_t port = ntohs(at.sin_port);
  UniqueFd filler = vantrel::testing::connectLoopback(port);  // the one place in the queue
  ASSERT_TRUE(filler);
  useServer(port);
  PingHandler handler(ctx);
  HttpPinger pinger(ctx, handler, 5ms);
  const int64_t made = pinger.lastSendMs();
  ASSERT_TRUE(waitFor([&] { return Pinger::nowMs() > made; }));  // so that the first send shows
  ASSERT_TRUE(pinger.start());
  ASSERT_TRUE(waitFor([&] { return pinger.lastSendMs() > made; }));  // the first ping is on its way
  const auto stopping = std::chrono::steady_clock::now();
  pinger.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2s);
}

// The server may listen for pings on another port than 7110; the client must
// ping that one, or its session lapses and it logs in again every few minutes.
TEST_F(SessionTest, UdpPingsGoToTheDeployedServerPort) {
  UdpPeer server;
  vantrel::testing::EnvOverride env;
  env.set("VANTREL_SERVER_UDP_PORT", std::to_string(server.port));
  FakeSessionUi ui;
  ServerSession session(ctx, ui, 5ms);
  ASSERT_TRUE(session.start());
  EXPECT_FALSE(server.receive().empty());
  session.stop();

  const struct {
    const char* value;
    uint16_t want;
  } cases[] = {{"7111", 7111}, {"65535", 65535}, {"", 7110}, {"0", 7110}, {"65536", 7110}, {"71x", 7110}, {"-5", 7110}};
  for (const auto& c : cases) {
    env.set("VANTREL_SERVER_UDP_PORT", std::string(c.value));
    EXPECT_EQ(deployment::serverUdpPort(), c.want) << c.value;
  }
}

TEST_F(SessionTest, StopClosesAnOpenWindow) {
  UdpPeer silent;
  FakeSessionUi ui;
  ServerSession session(ctx, ui, 5ms);
  session.setServerUdpPort(silent.port);
  target.SetServer("127.0.0.1", 1);
  state.SetConnected(false);
  ASSERT_TRUE(session.start());
  ASSERT_TRUE(waitFor([&] { return ui.shown.load(); }));
  session.stop();
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_FALSE(session.windowShown());
}

}  // namespace
}  // namespace vantrel
