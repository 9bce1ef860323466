// SPDX-License-Identifier: MIT
#pragma once
// ClientProtocol: the server side of every exchange a client starts —
// "/clientrequest" with the plain login, the encrypted requests that follow
// it, the firewall test, and the UDP ping datagram. Replies are name=value
// fields each ended by "&", "result=" first, so that a value can never be
// mistaken for the result.
//
// A request that is malformed, not encrypted, encrypted with a key other than
// its session's, or that names an unknown session gets an error reply and
// changes nothing. A repeat of the last changing request of a session gets
// the first reply again instead of being done twice; an add_file whose bytes
// came earlier in the session is answered "log in again", so that a recorded
// one cannot bring back files the client has removed since.
//
// Thread-safe: called from the listener's workers and the UDP thread at once.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/clients/catalogue_actions.h"
#include "server/clients/server_context.h"
#include "server/http/form_fields.h"
#include "server/http/http_request.h"
#include "server/http/login_throttle.h"

namespace vantrel::server {

class ClientProtocol {
 public:
  // Sessions the table does not hold are loaded from the database from now on,
  // and whether a client is online is read there.
  explicit ClientProtocol(ServerContext& context) : m_ctx(context), m_catalogue(context) {
    m_ctx.sessions.setLoader([this](int64_t clientId) { return storedSession(clientId); });
    m_ctx.sessions.setPingReader([this](int64_t clientId) { return m_ctx.accounts.sessionPing(clientId); });
  }

  // Any request for "/clientrequest".
  HttpResponse handle(const HttpRequest& request, const std::string& peerIp);

  // The reply to a UDP ping datagram, or nullopt when it deserves none.
  std::optional<std::string> handlePing(std::string_view datagram, const std::string& peerIp);

  // Re-creates the stored sessions (keys derived again) ahead of their first
  // use, as after a restart.
  void restoreSessions();
  // Writes the pings seen since the last call to the stored sessions.
  void flushPings();
  // Takes into the table the sessions of logins made through other server
  // processes since the last call (one read; called about once a second), so
  // that their first pings here find them ready. Those it misses are still
  // loaded on first use. The number taken.
  static constexpr int64_t kPickUpLimit = 20000;
  size_t pickUpSessions();
  // Drops the sessions that have not pinged (through any server process on
  // the database) for longer than the time-out, and those whose user was
  // deleted or disabled: their files show offline and lose their download
  // links until the client logs in again. The number dropped.
  size_t expireSessions(int64_t timeoutSeconds);

  std::string login(const FormFields& form, const std::string& peerIp);
  // `requestHost` is the request's Host header (the update's URLs may name it).
  std::string encryptedRequest(int64_t clientId, std::string_view cryptedBase64, const std::string& peerIp,
                               std::string_view requestHost = {});

  // How many stored sessions have had their key set up again here: once per
  // login this process takes from the database, never per request.
  uint64_t keysSetUp() const { return m_keysSetUp.load(); }

 private:
  // The stored session of the client with its key derived, or null.
  std::shared_ptr<ClientSession> storedSession(int64_t clientId);
  // The session of a stored row, its key unsealed (or derived again for a
  // row stored without it), or null.
  std::shared_ptr<ClientSession> sessionOf(const SessionRow& row);
  // The stored session when it is a newer login than the one cached, from
  // the address given (kept in the table); else null.
  std::shared_ptr<ClientSession> reloaded(const std::shared_ptr<ClientSession>& cached, const std::string& peerIp);
  // True when this request's reads may come from a replica that lags a little.
  bool readsMayLag(const ClientSession& session, std::string_view action) const;
  std::string dispatch(ClientSession& session, const FormFields& form, const std::string& action,
                       const std::string& peerIp, std::string_view requestHost);
  std::string logout(const std::shared_ptr<ClientSession>& session);
  std::string addFiles(ClientSession& session, const FormFields& form);
  std::string removeFiles(ClientSession& session, const FormFields& form);
  std::string fileIds(ClientSession& session);
  // Answered at once when the parameters are wrong or the address is over
  // its limit; otherwise the connection goes to the firewall-test pool.
  HttpResponse firewallTest(const FormFields& query, const std::string& peerIp);
  static std::string probeReply(const std::string& peerIp, int tcpPort, int udpPort, int timeoutMs);
  std::string update(const ClientSession& session, const FormFields& form, std::string_view requestHost);
  void log(LogLevel level, const std::string& line) const;
  // "chk=N&chkmsg=M&" for the session.
  std::string pingText(const ClientSession& session, bool withMessages);

  ServerContext& m_ctx;
  CatalogueActions m_catalogue;
  std::atomic<uint64_t> m_keysSetUp{0};
  int64_t m_pickedUpTo = 0;  // the latest login time pickUpSessions saw; its thread only
};

// True when the text could be what a client encrypted: it starts with the
// prefix and holds no control characters. A wrong key gives random bytes.
bool plausiblePlainText(std::string_view text, std::string_view prefix);

}  // namespace vantrel::server
