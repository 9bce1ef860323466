// SPDX-License-Identifier: MIT
#include "protocol/server_login.h"

#include <gtest/gtest.h>

#include "net/scripted_http_server.h"
#include "protocol/testing/protocol_fixture.h"

namespace vantrel {
namespace {

using protocol_testing::ProtocolFixture;
using testing::ScriptedHttpServer;

class ServerLoginTest : public ::testing::Test, public ProtocolFixture {};

TEST_F(ServerLoginTest, LoginSendsEveryFieldInOrderAndStoresTheClientId) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=0&clientid=12&userid=7&clientver=201&checksum=0&"));
  useServer(server.port());
  settings.CreateUserKey("bob");
  settings.SetSettingText("cname", "den");
  // What the host name resolves to on a stock system; the server and the
  // peers see the address of the interface that reaches the server instead.
  state.SetLocalAddress("127.0.1.1");

  ASSERT_EQ(LoginRequest(ctx, "bob", "secret", nullptr), 0);
  const std::string request = server.lastRequest();
  EXPECT_EQ(request.rfind("POST /clientrequest HTTP/1.0\r\nConnection: Keep-Alive\r\nHost: 127.0.0.1\r\n", 0), 0u);
  EXPECT_EQ(formBody(request), "action=login&port=8323&ip=127.0.0.1&ver=201&platform=win32_new&name=den&s=" +
                                   base64Encode(key.SessionSalt()) + "&username=bob&clientid=0&verify=" +
                                   base64Encode(key.EncryptText("bob")));
  EXPECT_TRUE(state.Connected());
  EXPECT_EQ(state.ClientId(), 12);
  EXPECT_EQ(state.UserId(), 7);
  EXPECT_EQ(state.LatestVersion(), 201);
  EXPECT_EQ(state.UserName(), "bob");
  EXPECT_EQ(state.Password(), "secret");
  EXPECT_EQ(settings.GetUserText("bob", "clientid127.0.0.1"), "12");
  EXPECT_EQ(state.LocalAddress(), "127.0.0.1");

  // The next login to the same server sends only the stored ID.
  ASSERT_EQ(LoginRequest(ctx, "bob", "secret", nullptr), 0);
  const std::string body = formBody(server.lastRequest());
  EXPECT_NE(body.find("&clientid=12&verify="), std::string::npos);
  EXPECT_EQ(body.find("username="), std::string::npos);

  // A client that moved its file server to another port (the one set was
  // taken) tells the server where it is.
  ctx.fileServerPort = 8325;
  ASSERT_EQ(LoginRequest(ctx, "bob", "secret", nullptr), 0);
  EXPECT_EQ(formBody(server.lastRequest()).rfind("action=login&port=8325&", 0), 0u);

  // Behind a router that forwards another port to it, that one is where peers
  // find it.
  ctx.announcedTcpPort = 40001;
  ASSERT_EQ(LoginRequest(ctx, "bob", "secret", nullptr), 0);
  EXPECT_EQ(formBody(server.lastRequest()).rfind("action=login&port=40001&", 0), 0u);
}

TEST_F(ServerLoginTest, LoginReplyRules) {
  struct Case { const char* name; const char* reply; int want; bool connected; };
  const Case cases[] = {
      {"checksum without its final ampersand", "result=0&clientid=12&userid=7&clientver=201&checksum=0", 212, false},
      {"no client ID", "result=0&checksum=0&", 218, false},
      {"wrong password", "result=5&", 505, false},
      {"no result at all", "hello&", 499, false},
      {"another file manager elsewhere", "result=0&clientid=3&checksum=1&previousip=9.9.9.9&", 213, false},
      {"same previous address", "result=0&clientid=3&checksum=1&previousip=127.0.0.1&", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedHttpServer server(ScriptedHttpServer::reply(c.reply));
    useServer(server.port());
    state.SetLocalAddress("10.0.0.5");
    state.SetConnected(true);
    const int code = LoginRequest(ctx, "bob", "pw", nullptr);
    EXPECT_EQ(code, c.want);
    if (c.want == 505) {
      EXPECT_FALSE(state.Connected());
    }
    if (c.connected) {
      EXPECT_TRUE(state.Connected());
    }
  }
}

TEST_F(ServerLoginTest, LoginReadsContestAndExternalAddress) {
  ScriptedHttpServer server(
      ScriptedHttpServer::reply("result=0&clientid=4&checksum=5&contest=1&previousip=&ip=203.0.113.9&"));
  useServer(server.port());
  state.SetLocalAddress("10.0.0.5");
  EXPECT_EQ(LoginRequest(ctx, "bob", "pw", nullptr), 213);  // an empty "previousip=" differs too
  EXPECT_TRUE(state.Contest());
  EXPECT_EQ(state.ExternalAddress(), "203.0.113.9");
  EXPECT_EQ(state.ServerChecksum(), 5);
}

TEST_F(ServerLoginTest, TransportFailureIsReturnedAsItIs) {
  target.SetServer("127.0.0.1", 1);  // nothing listens on port 1
  EXPECT_EQ(LoginRequest(ctx, "bob", "pw", nullptr), transport::kCannotConnect);
}

TEST_F(ServerLoginTest, LogoutOnlyWhenConnected) {
  ScriptedHttpServer server(ScriptedHttpServer::reply("result=1&"));
  useServer(server.port());
  EXPECT_EQ(LogoutRequest(ctx), 0);
  EXPECT_EQ(server.requestCount(), 0u);
  loggedIn(7);
  EXPECT_EQ(LogoutRequest(ctx), 501);
  EXPECT_EQ(server.lastRequest().rfind("POST /clientrequest?clientid=7 HTTP/1.0\r\n", 0), 0u);
  EXPECT_EQ(plainBody(server.lastRequest()), "action=logout");
  EXPECT_TRUE(state.Connected());  // logout does not change the flag
}

TEST_F(ServerLoginTest, DiscoveryTakesTheFirstServerLine) {
  ScriptedHttpServer web(ScriptedHttpServer::reply("<html>\r\nserver=first&\r\nx&server=found.example&\r\n&server=later&\r\n",
                                                   "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"));
  ::setenv("VANTREL_WEB_HOST", ("127.0.0.1:" + std::to_string(web.port())).c_str(), 1);
  EXPECT_EQ(DiscoverServer(ctx), 1);
  EXPECT_EQ(web.lastRequest(), "GET /server.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(settings.GetSettingText("serveraddress"), "found.example");

  // Login with discovery moves to the found host and the "serverport" setting.
  web.setHandler(ScriptedHttpServer::reply("&server=127.0.0.1&\r\n", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"));
  ScriptedHttpServer central(ScriptedHttpServer::reply("result=0&clientid=4&checksum=5&"));
  settings.SetSettingNumber("serverport", central.port());
  EXPECT_EQ(Login(ctx, "bob", "pw", nullptr), 0);
  EXPECT_EQ(target.port(), central.port());
  ::unsetenv("VANTREL_WEB_HOST");
}

}  // namespace
}  // namespace vantrel
