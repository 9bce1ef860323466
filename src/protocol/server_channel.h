// SPDX-License-Identifier: MIT
#pragma once
// ServerChannel: the envelope of every central-server request after the login:
// an encrypted form POST of "action=..." to the current server target with the
// client ID, and the rules that turn a reply into a result code. Stateless
// apart from the context; any thread may use its own channel.

#include <string>
#include <string_view>

#include "net/client_request.h"
#include "protocol/protocol_context.h"

namespace vantrel {

// A text value inside a request's form ("filename=", "dirname=", "string="…):
// "&", "=", "%" and "+" as %XX, so that no name can end its field, add fields
// of its own or change under the server's decoding, and control characters
// (below 0x20, and 0x7F) as %XX, which the server refuses in plain text; every
// other byte goes out as it is.
std::string requestValue(std::string_view text);

class ServerChannel {
 public:
  static constexpr int kResultBase = 500;
  static constexpr int kNotLoggedIn = 501;

  explicit ServerChannel(ProtocolContext& context) : m_ctx(context) {}

  // Sends the form text (encrypted) and stores the reply. Returns the transport
  // out code: 0 when a reply came.
  int post(std::string_view body, std::string& reply, const ClientRequest::Progress* progress = nullptr);

  // 500 + the value of "result=" (499 when it is missing or unreadable).
  static int serverCode(std::string_view reply);
  // The usual rule: a transport code as it is, else the server code with 500
  // (success) turned into 0.
  static int resultCode(int transport, std::string_view reply);

  // Logs in again with the credentials held in the client state, without
  // discovery; the answer to a "not logged in" reply.
  int relogin(const ClientRequest::Progress* progress = nullptr);

  ProtocolContext& context() { return m_ctx; }

 private:
  ProtocolContext& m_ctx;
};

}  // namespace vantrel
