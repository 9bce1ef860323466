// SPDX-License-Identifier: MIT
#include "protocol/server_channel.h"

#include "core/text_codecs.h"
#include "net/reply_fields.h"
#include "protocol/server_login.h"

namespace vantrel {

std::string requestValue(std::string_view text) {
  // Control characters too: the server takes a request whose plain text
  // holds one for a key that does not fit (a broken session).
  return percentEncode(text, [](unsigned char c) {
    return c == '&' || c == '=' || c == '%' || c == '+' || c < 0x20 || c == 0x7f;
  });
}

int ServerChannel::post(std::string_view body, std::string& reply, const ClientRequest::Progress* progress) {
  ClientRequest request(&m_ctx.loginAbort, ClientState::kOwnClientVersion);
  request.setSourceAddress(m_ctx.settings.GetSettingText(kSourceAddressSetting));
  int code = transport::kOk;
  const ClientRequest::Cipher cipher = [this](std::string_view plain) { return m_ctx.key.EncryptText(plain); };
  reply = request.PostEncrypted(progress, m_ctx.target.requestUrl(m_ctx.state.ClientId()), body, code, cipher);
  return code;
}

int ServerChannel::serverCode(std::string_view reply) { return kResultBase + ReplyNumber(reply, "result="); }

int ServerChannel::resultCode(int transport, std::string_view reply) {
  if (transport != transport::kOk) return transport;
  const int code = serverCode(reply);
  return code == kResultBase ? 0 : code;
}

int ServerChannel::relogin(const ClientRequest::Progress* progress) {
  return LoginRequest(m_ctx, m_ctx.state.UserName(), m_ctx.state.Password(), progress);
}

}  // namespace vantrel
