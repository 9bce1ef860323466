// SPDX-License-Identifier: MIT
#include "protocol/server_login.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>

#include "core/base64.h"
#include "core/deployment.h"
#include "net/reply_fields.h"
#include "net/socket_io.h"
#include "protocol/server_channel.h"

namespace vantrel {

namespace {

constexpr std::size_t kFieldSize = 100;

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The value of "&name=" anywhere in the reply. "ip=" also ends "previousip=",
// so the plain first-occurrence reader could miss it.
std::optional<std::string> fieldAfterAmpersand(std::string_view reply, std::string_view name) {
  const std::string key = "&" + std::string(name);
  const std::size_t at = reply.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  return ReplyText(reply.substr(at), name, kFieldSize);
}

}  // namespace

std::string localAddressFor(const std::string& socketAddress) {
  // The interface a connection left from is what peers on the same network
  // reach us at; the host name often resolves to a loopback alias (127.0.1.1).
  if (!socketAddress.empty()) return socketAddress;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) == 0) {
    const std::string resolved = ServerTarget::resolve(name);
    if (!resolved.empty() && resolved.rfind("127.", 0) != 0) return resolved;
  }
  return socketAddress;
}

int DiscoverServer(ProtocolContext& ctx) {
  ClientRequest request(&ctx.loginAbort, ClientState::kOwnClientVersion);
  if (request.GetText("http://" + deployment::discoveryHost() + "/server.html") != get::kOk) return 0;
  for (const std::string& line : request.bodyLines()) {
    if (auto host = ReplyText(line, "server=", kFieldSize)) {
      host->resize(std::min(host->size(), ServerTarget::kMaxHost));
      ctx.settings.SetSettingText("serveraddress", *host);
      return 1;
    }
  }
  return 0;
}

int Login(ProtocolContext& ctx, std::string_view user, std::string_view password,
          const ClientRequest::Progress* progress) {
  std::string host = ctx.settings.GetSettingText("serveraddress");
  if (ctx.settings.GetSettingNumber("autofind") == 0 || DiscoverServer(ctx) == 1) {
    host = ctx.settings.GetSettingText("serveraddress");
    if (host.empty()) host = deployment::defaultServerHost();
  }
  ctx.target.SetServer(host, deployment::serverPort());
  ctx.target.setPort(ctx.settings.GetSettingNumber("serverport"));
  return LoginRequest(ctx, user, password, progress);
}

int LoginRequest(ProtocolContext& ctx, std::string_view user, std::string_view password,
                 const ClientRequest::Progress* progress) {
  const std::string host = ctx.target.host();
  // Our own address is that of the interface the connection to the server
  // leaves from: the address the server and the peers see.
  const std::string source = ctx.settings.GetSettingText(kSourceAddressSetting);
  if (const std::string own = !source.empty() ? source
                                              : interfaceAddressToward(ctx.target.address(),
                                                                       static_cast<uint16_t>(ctx.target.port()));
      !own.empty()) {
    ctx.state.SetLocalAddress(own);
  }
  std::string body = "action=login";
  const int announced = ctx.announcedTcpPort.load();
  const int port = announced > 0 ? announced : ctx.fileServerPort.load();
  body += "&port=" + std::to_string(port >= 0 ? port : ctx.settings.GetSettingNumber("port"));
  body += "&ip=" + ctx.state.LocalAddress();
  body += "&ver=" + std::to_string(ClientState::kOwnClientVersion);
  body += "&platform=win32_new";
  if (const std::string name = ctx.settings.GetSettingText("cname"); !name.empty()) body += "&name=" + name;
  ctx.key.DeriveSessionKey(password);
  body += "&s=" + base64Encode(ctx.key.SessionSalt());
  const std::string idName = "clientid" + host;
  if (const std::string stored = ctx.settings.GetUserText(user, idName); stored.empty()) {
    body += "&username=" + std::string(user) + "&clientid=0";
  } else {
    body += "&clientid=" + stored;
  }
  body += "&verify=" + base64Encode(ctx.key.EncryptText(user));

  ClientRequest request(&ctx.loginAbort, ClientState::kOwnClientVersion);
  request.setSourceAddress(source);
  int code = transport::kOk;
  const std::string reply = request.PostForm(progress, ctx.target.loginUrl(), body, code);
  if (code != transport::kOk) return code;

  const int result = ReplyNumber(reply, "result=");
  if (result < 0) return ServerChannel::kResultBase + result;
  if (result > 0) {
    ctx.state.SetConnected(false);
    return ServerChannel::kResultBase + result;
  }
  const auto clientId = ReplyText(reply, "clientid=", kFieldSize);
  if (!clientId) return login::kNoClientId;
  ctx.settings.SetUserText(user, idName, *clientId);
  ctx.state.SetClientId(static_cast<int32_t>(std::strtol(clientId->c_str(), nullptr, 10)));

  const std::string local = localAddressFor(request.localAddress());
  if (!local.empty()) ctx.state.SetLocalAddress(local);
  const auto seenAs = fieldAfterAmpersand(reply, "ip=");
  ctx.state.SetExternalAddress(seenAs && !equalsNoCase(*seenAs, local) ? *seenAs : std::string());
  if (ReplyNumber(reply, "contest=") == 1) ctx.state.SetContest(true);
  const int userId = ReplyNumber(reply, "userid=");
  if (userId == -1) ctx.logText("Error getting userid during login", 2);
  ctx.state.SetUserId(userId);
  ctx.state.SetLatestVersion(ReplyNumber(reply, "clientver="));
  const int checksum = ReplyNumber(reply, "checksum=");
  if (checksum < 0) return login::kNoChecksum;
  ctx.state.SetServerChecksum(checksum);
  if (const auto previous = ReplyText(reply, "previousip=", kFieldSize);
      previous && *previous != ctx.state.LocalAddress()) {
    return login::kSharingElsewhere;
  }
  AcceptLogin(ctx, user, password);
  return 0;
}

void AcceptLogin(ProtocolContext& ctx, std::string_view user, std::string_view password) {
  ctx.state.SetUserName(std::string(user));
  ctx.state.SetPassword(std::string(password));
  ctx.state.SetConnected(true);
}

int LogoutRequest(ProtocolContext& ctx) {
  if (!ctx.state.Connected()) return 0;
  ServerChannel channel(ctx);
  std::string reply;
  const int transport = channel.post("action=logout", reply);
  return ServerChannel::resultCode(transport, reply);
}

int PingRequest(ProtocolContext& ctx, std::string& reply, const ClientRequest::Progress* progress) {
  ServerChannel channel(ctx);
  const int transport = channel.post("action=ping", reply, progress);
  if (reply.size() > kPingReplyBytes) reply.resize(kPingReplyBytes);
  return transport;
}

}  // namespace vantrel
