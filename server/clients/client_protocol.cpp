// SPDX-License-Identifier: MIT
#include "server/clients/client_protocol.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "core/base64.h"
#include "crypto/crypto_api.h"
#include "server/clients/outbound.h"
#include "server/http/http_listener.h"
#include "server/store/names.h"
#include "server/store/server_codes.h"

namespace vantrel::server {

namespace {

constexpr size_t kSaltSize = SessionKey::kPartSize;
// "action=ping" and "action=logout" are the only requests short enough to
// encrypt into one 8-byte block pair; see encryptedRequest.
constexpr size_t kShortRequestCipher = 16;
constexpr std::string_view kLostSession = "error=1&";
constexpr size_t kPingTrailer = 8;  // UDP port and client ID, 4 bytes each

// The Blowfish key and IV of a session, wiped when done with.
struct KeyParts {
  std::array<uint8_t, AccountStore::kSessionKeySize> bytes{};
  KeyParts() = default;
  KeyParts(const KeyParts&) = delete;
  KeyParts& operator=(const KeyParts&) = delete;
  ~KeyParts() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
  std::span<const uint8_t, kSaltSize> key() const { return std::span<const uint8_t, kSaltSize>(bytes.data(), kSaltSize); }
  std::span<const uint8_t, kSaltSize> iv() const {
    return std::span<const uint8_t, kSaltSize>(bytes.data() + kSaltSize, kSaltSize);
  }
  std::string_view view() const { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }
};

// What the client derives from its password and the salt of its login.
bool deriveKeyParts(std::string_view password, std::string_view salt, KeyParts& out) {
  if (salt.size() != kSaltSize) return false;
  std::array<unsigned char, kSaltSize> saltBytes{};
  std::memcpy(saltBytes.data(), salt.data(), kSaltSize);
  int saltLength = kSaltSize;
  int keyLength = kSaltSize;
  int ivLength = kSaltSize;
  return GenerateKey(reinterpret_cast<const unsigned char*>(password.data()), static_cast<int>(password.size()),
                     saltBytes.data(), &saltLength, out.bytes.data(), &keyLength, out.bytes.data() + kSaltSize,
                     &ivLength, 1) == 0;
}

std::span<const uint8_t, kSaltSize> saltSpan(std::string_view salt) {
  return std::span<const uint8_t, kSaltSize>(reinterpret_cast<const uint8_t*>(salt.data()), kSaltSize);
}

std::string resultOnly(int code) { return "result=" + std::to_string(code) + "&"; }

uint32_t readLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool changesState(std::string_view action) {
  return action == "add_file" || action == "remove_file" || action == "createdir" || action == "removedir" ||
         action == "creategroup" || action.rfind("joingroup", 0) == 0;
}

bool validPort(int64_t port) { return port > 0 && port <= 65535; }

// The digest of an add_file cipher text. The cipher has no nonce, so the same
// files added again give the same bytes as the first time: a repeat that is
// not the immediate one is answered "log in again". The client logs in and
// sends it under the new key, while a request recorded earlier and played
// back later cannot follow.
std::string additionDigest(std::string_view cipher) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(cipher.data(), cipher.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

bool plausiblePlainText(std::string_view text, std::string_view prefix) {
  if (text.rfind(prefix, 0) != 0) return false;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

HttpResponse ClientProtocol::handle(const HttpRequest& request, const std::string& peerIp) {
  HttpResponse response;
  const FormFields query(request.query, FormFields::Decoding::kRaw);
  if (request.method == "GET") {
    // The firewall check asks with a plain GET and reads the reply as a page.
    if (query.first("action") == "test") return firewallTest(query, peerIp);
    response.body = resultOnly(result::kMissingParameter);
    return response;
  }
  if (request.method != "POST") {
    response.status = 405;
    response.body = resultOnly(result::kMalformedParameter);
    return response;
  }
  const FormFields body(request.body, FormFields::Decoding::kRaw);
  if (const auto crypted = body.find("crypted")) {
    const auto clientId = query.number("clientid");
    response.body = clientId ? encryptedRequest(*clientId, *crypted, peerIp, request.header("Host"))
                             : resultOnly(result::kNotLoggedIn);
  } else if (body.first("action") == "login") {
    response.body = login(body, peerIp);
  } else if (query.has("clientid") || body.has("action")) {
    // Everything but the login must come encrypted.
    response.body = resultOnly(result::kNotLoggedIn);
  } else {
    response.body = resultOnly(result::kMissingParameter);
  }
  return response;
}

std::string ClientProtocol::login(const FormFields& form, const std::string& peerIp) {
  const std::string salt = base64Decode(form.first("s"));
  const std::string verify = base64Decode(form.first("verify"));
  if (salt.size() != kSaltSize || verify.empty() || verify.size() % 8 != 0) return resultOnly(result::kMissingParameter);

  // A client that knows its ID sends only that; a new one sends its user name.
  std::optional<UserRecord> user;
  const auto claimedClient = form.number("clientid");
  if (claimedClient && *claimedClient > 0) {
    if (const auto userId = m_ctx.accounts.userOfClient(*claimedClient)) user = m_ctx.accounts.findUser(*userId);
  } else {
    user = m_ctx.accounts.findUser(form.first("username"));
  }
  const auto refuse = [&](std::string_view why, int code = result::kWrongLogin) {
    if (storage_fault::noted()) {
      // The account could not be read: the user may well exist.
      log(LogLevel::kError, "login from " + peerIp + " not served: the database is unavailable");
      return resultOnly(result::kServerError);
    }
    const std::string who = user ? user->name
                            : claimedClient && *claimedClient > 0 ? "of client " + std::to_string(*claimedClient)
                                                                  : cleanName(form.first("username"), 31);
    log(LogLevel::kWarning, "failed login: user " + who + " from " + peerIp + ": " + std::string(why));
    return resultOnly(code);
  };
  if (!user) return refuse("no such user");
  if (user->disabled) return refuse("account disabled");
  // A guesser gets the same answer as a wrong password, without a check.
  if (!m_ctx.loginThrottle.allowed(user->name, peerIp, m_ctx.now())) return refuse("too many failed attempts, throttled");
  const auto password = m_ctx.accounts.password(user->id);
  if (!password) {
    log(LogLevel::kError, "login of " + user->name + ": the stored password cannot be read with the server key");
    return resultOnly(result::kWrongLogin);
  }

  auto session = std::make_shared<ClientSession>();
  KeyParts keyParts;
  if (!deriveKeyParts(*password, salt, keyParts) || !session->key.SetParts(saltSpan(salt), keyParts.key(), keyParts.iv())) {
    log(LogLevel::kError, "login of " + user->name + ": cannot derive the session key");
    return resultOnly(result::kServerError);
  }
  // The client proves the password by sending its user name encrypted with the
  // key derived from it.
  const std::string named = session->key.DecryptText(verify);
  if (named.size() != user->name.size() || strncasecmp(named.c_str(), user->name.c_str(), named.size()) != 0) {
    m_ctx.loginThrottle.failed(user->name, peerIp, m_ctx.now());
    return refuse("wrong password");
  }
  m_ctx.loginThrottle.succeeded(user->name, peerIp);
  const int64_t now = m_ctx.now();
  const auto clientId = m_ctx.accounts.clientIdFor(user->id);
  if (!clientId) {
    log(LogLevel::kError, "login of " + user->name + ": cannot store the client ID");
    return resultOnly(result::kServerError);
  }
  // The salt comes from the client's clock, so a salt seen before means the
  // login was recorded and sent again, perhaps by someone else to move the
  // session to their address. Only the same machine logging in twice within
  // one second (same salt, same address as the live session) gets through.
  if (!m_ctx.accounts.useLoginSalt(user->id, salt, now)) {
    const auto current = m_ctx.sessions.find(*clientId);
    if (current == nullptr || current->salt != salt || current->seenIp != peerIp) {
      return refuse("a login already used was sent again", result::kAlreadyLoggedIn);
    }
  }

  session->clientId = *clientId;
  session->userId = user->id;
  session->userName = user->name;
  session->salt = salt;
  session->seenIp = peerIp;
  session->reportedIp = cleanName(form.first("ip"), 31);
  const auto port = form.number("port");
  session->port = port && validPort(*port) ? static_cast<int>(*port) : 0;
  session->loginTime = now;
  session->lastPing = now;
  // The session this login replaces may have been made through another
  // server process: find() loads it.
  const auto previous = m_ctx.sessions.find(*clientId);
  if (previous != nullptr) session->udpPort = previous->udpPort.load();
  m_ctx.sessions.replace(session);
  m_ctx.accounts.saveSession({session->clientId, session->userId, salt, session->seenIp, session->reportedIp,
                              session->port, session->udpPort.load(), now, now,
                              m_ctx.accounts.sealSessionKey(session->clientId, salt, keyParts.view()), {}});

  std::string reply = resultOnly(result::kOk);
  appendField(reply, "clientid", *clientId);
  appendField(reply, "userid", user->id);
  appendField(reply, "clientver", m_ctx.clientVersion);
  appendField(reply, "checksum", m_ctx.catalogue.checksum(*clientId));
  appendField(reply, "contest", 0);
  // "ip=" must come before "previousip=": the client finds a field by the first
  // place its name appears, and "previousip=" holds "ip=".
  appendField(reply, "ip", peerIp);
  if (previous != nullptr && previous->seenIp != peerIp &&
      now - previous->lastPing.load() <= SessionTable::kOnlineSeconds) {
    appendField(reply, "previousip", previous->seenIp);
  }
  m_ctx.accounts.recordLogin(user->id, now);
  log(LogLevel::kInfo, "login: user " + user->name + " as client " + std::to_string(*clientId) + " from " + peerIp);
  return reply;
}

std::string ClientProtocol::encryptedRequest(int64_t clientId, std::string_view cryptedBase64,
                                             const std::string& peerIp, std::string_view requestHost) {
  const std::string cipher = base64Decode(cryptedBase64);
  auto session = m_ctx.sessions.find(clientId);
  std::string plain;
  if (session != nullptr && !cipher.empty() && cipher.size() % 8 == 0) plain = session->key.DecryptText(cipher);
  if (session != nullptr && (session->seenIp != peerIp || !plausiblePlainText(plain, "action="))) {
    // The client may have logged in again through another server process.
    session = reloaded(session, peerIp);
    if (session != nullptr && !cipher.empty() && cipher.size() % 8 == 0) plain = session->key.DecryptText(cipher);
  }
  // A session answers only the address it logged in from: a request recorded
  // on the way and sent again from elsewhere finds no session. A client whose
  // address changed hears "log in again" and does.
  if (session == nullptr || session->seenIp != peerIp || !plausiblePlainText(plain, "action=")) {
    // An HTTP ping reads only the exact "error=1&" as "log in again"; a ping
    // is one of the two requests that fit 16 cipher bytes, and for the other
    // (logout) that answer does no harm.
    if (cipher.size() == kShortRequestCipher) return std::string(kLostSession);
    return resultOnly(result::kNotLoggedIn);
  }
  const FormFields form(plain, FormFields::Decoding::kPercent);
  const std::string action = form.first("action");
  m_ctx.sessions.notePing(*session, m_ctx.now());

  if (action == "logout") return logout(session);
  if (!changesState(action)) {
    ReplicaReadScope replica(readsMayLag(*session, action));
    return dispatch(*session, form, action, peerIp, requestHost);
  }
  std::scoped_lock lock(session->replayMutex);
  if (!session->lastChangeCipher.empty() && session->lastChangeCipher == cipher) return session->lastChangeReply;
  if (action == "add_file" && !m_ctx.accounts.firstAddition(session->clientId, additionDigest(cipher))) {
    log(LogLevel::kInfo, "add_file of client " + std::to_string(clientId) + " from " + peerIp +
                             " came before under this key: asked to log in again");
    return resultOnly(result::kNotLoggedIn);
  }
  std::string reply = dispatch(*session, form, action, peerIp, requestHost);
  session->lastChangeMs = steadyMilliseconds();
  // A change the database could not make is answered with a server error
  // (by our caller); kept here, the repeat would get what the failed reads
  // seemed to say instead, or a change not made for one made.
  if (storage_fault::noted()) return reply;
  session->lastChangeCipher = cipher;
  session->lastChangeReply = reply;
  return reply;
}

bool ClientProtocol::readsMayLag(const ClientSession& session, std::string_view action) const {
  if (m_ctx.replicaWindowMs < 0) return false;
  // What a client browses and searches; never what it checks its own
  // files against (get_fileids) or its session by (ping).
  if (action != "search" && action != "getlisting" && action != "getdir" && action != "getallgroups") return false;
  return steadyMilliseconds() - session.lastChangeMs.load() > m_ctx.replicaWindowMs;
}

std::string ClientProtocol::dispatch(ClientSession& session, const FormFields& form, const std::string& action,
                                     const std::string& peerIp, std::string_view requestHost) {
  if (action == "ping") return session.key.EncryptText(pingText(session, true));
  if (action == "add_file") return addFiles(session, form);
  if (action == "remove_file") return removeFiles(session, form);
  if (action == "get_fileids") return fileIds(session);
  if (action == "getupdate") return update(session, form, requestHost);
  if (action == "getallgroups") return m_catalogue.allGroups(session, form);
  if (action == "getlisting") return m_catalogue.getListing(session, form, peerIp);
  if (action == "getdir") return m_catalogue.getDirectoryNames(form);
  if (action == "createdir") return m_catalogue.createDirectory(session, form);
  if (action == "removedir") return m_catalogue.removeDirectories(session, form);
  // The client writes the group ID straight after the action name.
  if (action.rfind("joingroup", 0) == 0) return m_catalogue.joinGroup(session, form);
  if (action == "creategroup") return m_catalogue.createGroup(session, form);
  if (action == "search") return m_catalogue.search(session, form, peerIp);
  return resultOnly(result::kMalformedParameter);
}

std::string ClientProtocol::logout(const std::shared_ptr<ClientSession>& session) {
  if (m_ctx.sessions.remove(session)) m_ctx.accounts.deleteSession(session->clientId);
  return resultOnly(result::kOk);
}

std::string ClientProtocol::addFiles(ClientSession& session, const FormFields& form) {
  const auto dirId = form.number("dirid");
  if (!dirId) return resultOnly(result::kMissingParameter);
  // Files come as runs of cfileid, filename, filesize, keywords, filetype.
  std::vector<NewFile> files;
  std::vector<bool> complete;
  for (const auto& f : form.fields()) {
    if (f.name == "cfileid") {
      // No count limit: the request body limit bounds the work.
      files.emplace_back();
      complete.push_back(false);
      continue;
    }
    if (files.empty()) continue;
    NewFile& file = files.back();
    if (f.name == "filename") {
      file.name = f.value;
      complete.back() = true;
    } else if (f.name == "filesize") {
      const auto size = parseNumber(f.value);
      file.size = size ? *size : -1;
    } else if (f.name == "keywords") {
      file.keywords = f.value;
    } else if (f.name == "filetype") {
      file.fileType = f.value;
    }
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (!complete[i]) files[i].size = -1;  // refused below, as a name-less file
    if (!isUtf8(files[i].name)) {
      // An older client sends its own 8-bit names; the catalogue keeps text.
      log(LogLevel::kWarning, "add_file of client " + std::to_string(session.clientId) +
                                  ": a file name that is not UTF-8 was read as Latin-1: \"" +
                                  cleanName(files[i].name) + "\"");
    }
  }
  std::vector<int64_t> ids;
  const int code = m_ctx.catalogue.addFiles(session.clientId, session.userId, *dirId, files, &ids);
  if (code == result::kServerError) {
    log(LogLevel::kError, "add_file of client " + std::to_string(session.clientId) + ": " +
                              std::to_string(files.size()) + " files could not be stored");
  }
  if (code != result::kOk) return resultOnly(code);
  // One pair per file in request order; a file that was refused gets a pair of
  // another name, so the client leaves it without an ID.
  std::string reply;
  bool allAdded = true;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] > 0) {
      appendField(reply, "fileid", ids[i]);
    } else {
      appendField(reply, "refused", static_cast<int64_t>(i));
      allAdded = false;
    }
  }
  reply += resultOnly(allAdded ? result::kOk : result::kPartlyDone);
  return reply;
}

std::string ClientProtocol::removeFiles(ClientSession& session, const FormFields& form) {
  std::vector<int64_t> ids;
  for (const auto& value : form.all("fileid")) {
    const auto id = parseNumber(value);
    if (!id || *id <= 0) return resultOnly(result::kMalformedParameter);
    ids.push_back(*id);
  }
  // IDs the server does not hold for this client are already gone; that is
  // what the client wants, so it is not an error.
  m_ctx.catalogue.removeClientFiles(session.clientId, ids);
  return resultOnly(result::kOk);
}

std::string ClientProtocol::fileIds(ClientSession& session) {
  const auto ids = m_ctx.catalogue.fileIds(session.clientId);
  std::string reply = resultOnly(result::kOk);
  appendField(reply, "numfiles", static_cast<int64_t>(ids.size()));
  for (const int64_t id : ids) appendField(reply, "fileid", id);
  return reply;
}

HttpResponse ClientProtocol::firewallTest(const FormFields& query, const std::string& peerIp) {
  HttpResponse response;
  const auto port = query.number("port");
  const auto udpPort = query.number("udpport");
  if (!port || !udpPort || !validPort(*port) || !validPort(*udpPort)) {
    response.body = resultOnly(result::kMissingParameter);
    return response;
  }
  // The probes go to the address the request came from, never to the "ip"
  // the request names: otherwise anyone could aim the server at a third party.
  const int tcp = static_cast<int>(*port);
  const int udp = static_cast<int>(*udpPort);
  FirewallTestPool* pool = m_ctx.firewallTests;
  if (pool == nullptr) {
    response.body = probeReply(peerIp, tcp, udp, m_ctx.probeTimeoutMs);
    return response;
  }
  if (!pool->admit(peerIp)) {
    response.status = 503;
    response.extraHeaders.push_back("Retry-After: 60");
    response.body = resultOnly(result::kServerError);
    return response;
  }
  const int timeoutMs = m_ctx.probeTimeoutMs;
  response.handOff = [pool, peerIp, tcp, udp, timeoutMs](UniqueFd connection) {
    auto held = std::make_shared<UniqueFd>(std::move(connection));
    pool->run(peerIp, [held, peerIp, tcp, udp, timeoutMs] {
      HttpResponse reply;
      reply.body = probeReply(peerIp, tcp, udp, timeoutMs);
      HttpListener::answer(std::move(*held), reply);
    });
  };
  return response;
}

std::string ClientProtocol::probeReply(const std::string& peerIp, int tcpPort, int udpPort, int timeoutMs) {
  const bool tcp = probeTcp(peerIp, tcpPort, timeoutMs);
  const bool udp = probeUdp(peerIp, udpPort);
  std::string reply = resultOnly(result::kOk);
  appendField(reply, "tcp", tcp ? 1 : 0);
  appendField(reply, "udp", udp ? 1 : 0);
  appendField(reply, "ip", peerIp);
  return reply;
}

std::string ClientProtocol::update(const ClientSession& session, const FormFields& form,
                                   std::string_view requestHost) {
  // Without an update folder there is nothing to download: a bare result,
  // which the client reports as "no URL's found".
  size_t urls = 0;
  const std::string reply = m_ctx.update != nullptr ? m_ctx.update->reply(requestHost, &urls) : resultOnly(result::kOk);
  log(LogLevel::kInfo, "client " + std::to_string(session.clientId) + " asked for the update from version " +
                           std::to_string(form.number("curver").value_or(-1)) + " to " +
                           std::to_string(form.number("newver").value_or(-1)) + "; " + std::to_string(urls) +
                           " files offered");
  return reply;
}

void ClientProtocol::log(LogLevel level, const std::string& line) const {
  if (m_ctx.log) m_ctx.log(level, line);
}

void ClientProtocol::flushPings() {
  for (const int64_t gone : m_ctx.accounts.recordPings(m_ctx.sessions.takePings())) m_ctx.sessions.forget(gone);
}

size_t ClientProtocol::expireSessions(int64_t timeoutSeconds) {
  flushPings();
  const int64_t now = m_ctx.now();
  // The stored sessions are those of every server process on the database;
  // whichever sweeps first drops a silent one, and the others forget theirs.
  const auto dropped = m_ctx.accounts.dropSessions(now, timeoutSeconds);
  for (const auto& d : dropped) {
    m_ctx.sessions.forget(d.clientId);
    log(LogLevel::kInfo, "session of client " + std::to_string(d.clientId) + " dropped: " + d.why);
  }
  for (const auto& session : m_ctx.sessions.all()) {
    if (now - session->lastPing.load() > timeoutSeconds) m_ctx.sessions.forget(session->clientId);
  }
  return dropped.size();
}

std::string ClientProtocol::pingText(const ClientSession& session, bool withMessages) {
  std::string text;
  appendField(text, "chk", m_ctx.catalogue.checksum(session.clientId));
  appendField(text, "chkmsg", withMessages ? m_ctx.catalogue.pendingApplications(session.userId) : 0);
  return text;
}

std::optional<std::string> ClientProtocol::handlePing(std::string_view datagram, const std::string& peerIp) {
  // Length byte, cipher text, then the UDP port and client ID (little-endian).
  if (datagram.size() < 1 + 8 + kPingTrailer) return std::nullopt;
  const size_t n = datagram.size() - 1 - kPingTrailer;
  const auto* bytes = reinterpret_cast<const unsigned char*>(datagram.data());
  if (n % 8 != 0 || bytes[0] != static_cast<unsigned char>(n % 256)) return std::nullopt;
  const uint32_t udpPort = readLe32(bytes + 1 + n);
  const uint32_t clientId = readLe32(bytes + 1 + n + 4);
  storage_fault::clear();
  auto session = m_ctx.sessions.find(clientId);
  std::string plain;
  if (session != nullptr && session->seenIp == peerIp) plain = session->key.DecryptText(datagram.substr(1, n));
  if (session != nullptr && (session->seenIp != peerIp || !plausiblePlainText(plain, "secid="))) {
    session = reloaded(session, peerIp);
    if (session != nullptr) plain = session->key.DecryptText(datagram.substr(1, n));
  }
  if (session == nullptr || !plausiblePlainText(plain, "secid=")) {
    // A session the database could not give back may well exist.
    if (storage_fault::noted()) return std::nullopt;
    return std::string(kLostSession);
  }
  m_ctx.sessions.notePing(*session, m_ctx.now(), validPort(udpPort) ? static_cast<int>(udpPort) : 0);
  const FormFields form(plain, FormFields::Decoding::kRaw);
  std::string text = pingText(*session, form.first("chkmsg") == "1");
  // A checksum the database could not give would send the client comparing
  // its files for nothing: no answer, and the client pings again.
  if (storage_fault::noted()) return std::nullopt;
  return session->key.EncryptText(text);
}

std::shared_ptr<ClientSession> ClientProtocol::storedSession(int64_t clientId) {
  const auto row = m_ctx.accounts.loadSession(clientId);
  return row ? sessionOf(*row) : nullptr;
}

std::shared_ptr<ClientSession> ClientProtocol::sessionOf(const SessionRow& row) {
  if (row.salt.size() != kSaltSize) return nullptr;
  KeyParts parts;
  if (!row.sealedKey.empty()) {
    auto key = m_ctx.accounts.sessionKeyOf(row);
    if (!key) return nullptr;
    std::memcpy(parts.bytes.data(), key->data(), parts.bytes.size());
    OPENSSL_cleanse(key->data(), key->size());
  } else {
    // Stored before sessions kept their key: derived again from the password.
    const auto password = m_ctx.accounts.password(row.userId);
    if (!password || !deriveKeyParts(*password, row.salt, parts)) return nullptr;
  }
  auto session = std::make_shared<ClientSession>();
  if (!session->key.SetParts(saltSpan(row.salt), parts.key(), parts.iv())) return nullptr;
  ++m_keysSetUp;
  session->clientId = row.clientId;
  session->userId = row.userId;
  session->userName = row.userName;
  session->salt = row.salt;
  session->seenIp = row.seenIp;
  session->reportedIp = row.reportedIp;
  session->port = row.port;
  session->udpPort = row.udpPort;
  session->loginTime = row.loginTime;
  session->lastPing = row.lastPing;
  return session;
}

size_t ClientProtocol::pickUpSessions() {
  const int64_t now = m_ctx.now();
  // Logins stored later within the last second seen are looked at again; a
  // clock ahead of ours does not make us skip ours.
  const int64_t since = m_pickedUpTo == 0 ? now - 1 : std::min(m_pickedUpTo, now);
  size_t taken = 0;
  for (const auto& row : m_ctx.accounts.loadSessionsSince(since, kPickUpLimit)) {
    m_pickedUpTo = std::max(m_pickedUpTo, row.loginTime);
    const auto held = m_ctx.sessions.peek(row.clientId);
    if (held != nullptr && (held->salt == row.salt || held->loginTime > row.loginTime)) continue;
    if (auto session = sessionOf(row); session != nullptr && m_ctx.sessions.adopt(std::move(session))) ++taken;
  }
  if (m_pickedUpTo == 0) m_pickedUpTo = since;
  return taken;
}

std::shared_ptr<ClientSession> ClientProtocol::reloaded(const std::shared_ptr<ClientSession>& cached,
                                                        const std::string& peerIp) {
  // The same login as the one we hold: the request is simply wrong. One light
  // read tells, so that wrong requests never set the key up again.
  const auto current = m_ctx.accounts.sessionPing(cached->clientId);
  if (!current || current->salt == cached->salt) return nullptr;
  auto stored = storedSession(cached->clientId);
  if (stored == nullptr || stored->salt == cached->salt || stored->seenIp != peerIp) return nullptr;
  m_ctx.sessions.replace(stored);
  return stored;
}

void ClientProtocol::restoreSessions() {
  for (const auto& row : m_ctx.accounts.loadSessions()) {
    if (auto session = sessionOf(row)) {
      m_ctx.sessions.replace(std::move(session));
    } else {
      m_ctx.accounts.deleteSession(row.clientId);
    }
  }
}

}  // namespace vantrel::server
