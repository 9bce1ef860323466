// SPDX-License-Identifier: MIT
#include "server/store/account_store.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <ctime>

#include "core/text_codecs.h"

namespace vantrel::server {

namespace {
constexpr int64_t kSaltMemorySeconds = 24 * 3600;
constexpr int64_t kWebSessionSeconds = 7 * 24 * 3600;
}  // namespace

bool AccountStore::validName(std::string_view name) {
  if (name.size() < 3 || name.size() > 31) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

bool AccountStore::validPassword(std::string_view password) {
  if (password.size() < kMinPassword || password.size() > kMaxPassword) return false;
  for (const char c : password) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

AccountStore::Result AccountStore::createUser(std::string_view name, std::string_view password,
                                              std::string_view email) {
  if (!validName(name)) return Result::kBadName;
  if (!validPassword(password)) return Result::kBadPassword;
  const std::string sealed = m_vault.seal(password);
  if (sealed.empty()) return Result::kStorageFailed;
  std::scoped_lock lock(m_db.mutex());
  if (findUser(name)) return Result::kNameTaken;
  Statement st(m_db, "INSERT INTO users(name, password, email, created) VALUES (?, ?, ?, ?)");
  st.bind(1, name).bindBlob(2, sealed).bind(3, email.substr(0, 128)).bind(4, static_cast<int64_t>(std::time(nullptr)));
  return st.run() ? Result::kOk : Result::kStorageFailed;
}

AccountStore::Result AccountStore::createOrUpdateUser(std::string_view name, std::string_view password) {
  std::scoped_lock lock(m_db.mutex());
  const auto user = findUser(name);
  if (!user) return createUser(name, password, "");
  // The same password again (a server started with the same --add-user) is
  // no change: the user's sessions stay.
  if (const auto current = this->password(user->id); current && *current == password) return Result::kOk;
  return setPassword(user->id, password);
}

int64_t AccountStore::userCount() {
  ReadConnection read(m_db);
  Statement st(read, "SELECT COUNT(*) FROM users");
  return st.step() ? st.integer(0) : 0;
}

bool AccountStore::anyPasswordReadable() {
  std::string sealed;
  {
    std::scoped_lock lock(m_db.mutex());
    Statement st(m_db, "SELECT password FROM users LIMIT 1");
    if (!st.step()) return false;
    sealed = st.text(0);
  }
  return m_vault.unseal(sealed).has_value();
}

std::optional<UserRecord> AccountStore::findUser(std::string_view name) {
  ReadConnection read(m_db);
  Statement st(read, "SELECT id, name, disabled FROM users WHERE name = ?");
  st.bind(1, name);
  if (!st.step()) return std::nullopt;
  return UserRecord{st.integer(0), st.text(1), st.integer(2) != 0};
}

std::optional<UserRecord> AccountStore::findUser(int64_t id) {
  ReadConnection read(m_db);
  Statement st(read, "SELECT id, name, disabled FROM users WHERE id = ?");
  st.bind(1, id);
  if (!st.step()) return std::nullopt;
  return UserRecord{st.integer(0), st.text(1), st.integer(2) != 0};
}

AccountStore::Result AccountStore::setPassword(int64_t userId, std::string_view password) {
  if (!validPassword(password)) return Result::kBadPassword;
  const std::string sealed = m_vault.seal(password);
  if (sealed.empty()) return Result::kStorageFailed;
  Transaction tx(m_db);
  Statement st(m_db, "UPDATE users SET password = ? WHERE id = ?");
  st.bindBlob(1, sealed).bind(2, userId);
  if (!st.run() || m_db.changes() != 1) return Result::kStorageFailed;
  // A new password ends every web and client session the old one opened:
  // whoever learnt the old one is out. Server processes forget the client
  // sessions at their next flush of pings.
  Statement web(m_db, "DELETE FROM web_sessions WHERE user_id = ?");
  Statement clients(m_db, "DELETE FROM sessions WHERE user_id = ?");
  if (!web.bind(1, userId).run() || !clients.bind(1, userId).run()) return Result::kStorageFailed;
  return tx.commit() ? Result::kOk : Result::kStorageFailed;
}

bool AccountStore::setDisabled(int64_t userId, bool disabled) {
  std::scoped_lock lock(m_db.mutex());
  Statement st(m_db, "UPDATE users SET disabled = ? WHERE id = ?");
  st.bind(1, disabled ? 1 : 0).bind(2, userId);
  return st.run() && m_db.changes() == 1;
}

void AccountStore::recordLogin(int64_t userId, int64_t now) {
  std::scoped_lock lock(m_db.mutex());
  Statement st(m_db, "UPDATE users SET last_login = ? WHERE id = ?");
  st.bind(1, now).bind(2, userId).run();
}

std::vector<UserSummary> AccountStore::listUsers() {
  ReadConnection read(m_db);
  std::vector<UserSummary> out;
  Statement st(read,
               "SELECT u.id, u.name, u.disabled, u.created, u.last_login, "
               "(SELECT COUNT(*) FROM files f WHERE f.user_id = u.id) FROM users u ORDER BY u.name");
  while (st.step()) {
    out.push_back({st.integer(0), st.text(1), st.integer(2) != 0, st.integer(3), st.integer(4), st.integer(5)});
  }
  return out;
}

std::optional<std::string> AccountStore::password(int64_t userId) {
  std::string sealed;
  {
    ReadConnection read(m_db);
    Statement st(read, "SELECT password FROM users WHERE id = ?");
    st.bind(1, userId);
    if (!st.step()) return std::nullopt;
    sealed = st.text(0);
  }
  return m_vault.unseal(sealed);
}

std::optional<UserRecord> AccountStore::checkPassword(std::string_view name, std::string_view password) {
  const auto user = findUser(name);
  if (!user || user->disabled) return std::nullopt;
  const auto stored = this->password(user->id);
  if (!stored || stored->size() != password.size() ||
      CRYPTO_memcmp(stored->data(), password.data(), password.size()) != 0) {
    return std::nullopt;
  }
  return user;
}

std::optional<int64_t> AccountStore::clientIdFor(int64_t userId) {
  std::scoped_lock lock(m_db.mutex());
  // Another server process on the same database may hand out the same next
  // ID (or one to the same user) at the same moment: the insert then does
  // nothing, and we look again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    Statement find(m_db, "SELECT id FROM clients WHERE user_id = ?");
    find.bind(1, userId);
    if (find.step()) return find.integer(0);
    // Client IDs start well above 0 so that a 0 always means "none yet".
    Statement add(m_db,
                  "INSERT INTO clients(id, user_id) VALUES ((SELECT COALESCE(MAX(id), 1000) + 1 FROM clients), ?) "
                  "ON CONFLICT DO NOTHING RETURNING id");
    add.bind(1, userId);
    const int64_t id = add.runReturningId();
    if (id != 0) return id;
    if (!add.ok()) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<int64_t> AccountStore::userOfClient(int64_t clientId) {
  ReadConnection read(m_db);
  Statement st(read, "SELECT user_id FROM clients WHERE id = ?");
  st.bind(1, clientId);
  if (!st.step()) return std::nullopt;
  return st.integer(0);
}

bool AccountStore::useLoginSalt(int64_t userId, std::string_view salt, int64_t now) {
  std::scoped_lock lock(m_db.mutex());
  Statement prune(m_db, "DELETE FROM login_salts WHERE used < ?");
  prune.bind(1, now - kSaltMemorySeconds).run();
  Statement st(m_db, "INSERT INTO login_salts(user_id, salt, used) VALUES (?, ?, ?) ON CONFLICT DO NOTHING");
  st.bind(1, userId).bindBlob(2, salt).bind(3, now);
  return st.run() && m_db.changes() == 1;
}

namespace {
// What a sealed session key holds: the client ID (8 bytes, little-endian) and
// the salt of the session it belongs to, then the key and IV.
std::string sessionKeyRecord(int64_t clientId, std::string_view salt) {
  std::string record;
  for (int i = 0; i < 8; ++i) record += static_cast<char>((static_cast<uint64_t>(clientId) >> (8 * i)) & 0xff);
  record += salt;
  return record;
}
}  // namespace

std::string AccountStore::sealSessionKey(int64_t clientId, std::string_view salt, std::string_view keyAndIv) const {
  if (keyAndIv.size() != kSessionKeySize) return {};
  std::string record = sessionKeyRecord(clientId, salt);
  record += keyAndIv;
  std::string sealed = m_vault.seal(record);
  OPENSSL_cleanse(record.data(), record.size());
  return sealed;
}

std::optional<std::string> AccountStore::sessionKeyOf(const SessionRow& row) const {
  if (row.sealedKey.empty()) return std::nullopt;
  auto record = m_vault.unseal(row.sealedKey);
  if (!record) return std::nullopt;
  const std::string bound = sessionKeyRecord(row.clientId, row.salt);
  std::optional<std::string> key;
  if (record->size() == bound.size() + kSessionKeySize && record->compare(0, bound.size(), bound) == 0) {
    key = record->substr(bound.size());
  }
  OPENSSL_cleanse(record->data(), record->size());
  return key;
}

bool AccountStore::saveSession(const SessionRow& r) {
  Transaction tx(m_db);
  Statement st(m_db,
               "INSERT INTO sessions(client_id, user_id, salt, seen_ip, reported_ip, port, udp_port, login_time, "
               "last_ping, sealed_key) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(client_id) DO UPDATE SET "
               "user_id = excluded.user_id, salt = excluded.salt, seen_ip = excluded.seen_ip, "
               "reported_ip = excluded.reported_ip, port = excluded.port, udp_port = excluded.udp_port, "
               "login_time = excluded.login_time, last_ping = excluded.last_ping, sealed_key = excluded.sealed_key");
  st.bind(1, r.clientId).bind(2, r.userId).bindBlob(3, r.salt).bind(4, r.seenIp).bind(5, r.reportedIp);
  st.bind(6, r.port).bind(7, r.udpPort).bind(8, r.loginTime).bind(9, r.loginTime).bindBlob(10, r.sealedKey);
  Statement forget(m_db, "DELETE FROM session_additions WHERE client_id = ?");
  forget.bind(1, r.clientId);
  return st.run() && forget.run() && tx.commit();
}

void AccountStore::deleteSession(int64_t clientId) {
  std::scoped_lock lock(m_db.mutex());
  Statement st(m_db, "DELETE FROM sessions WHERE client_id = ?");
  st.bind(1, clientId).run();
}

namespace {
// With the user's name, so that one indexed read is all a session takes.
constexpr std::string_view kSessionSelect =
    "SELECT s.client_id, s.user_id, s.salt, s.seen_ip, s.reported_ip, s.port, s.udp_port, s.login_time, "
    "s.last_ping, s.sealed_key, u.name FROM sessions s JOIN users u ON u.id = s.user_id";

SessionRow readSession(Statement& st) {
  return {st.integer(0),     st.integer(1), st.text(2), st.text(3), st.text(4), static_cast<int>(st.integer(5)),
          static_cast<int>(st.integer(6)), st.integer(7), st.integer(8), st.text(9), st.text(10)};
}
}  // namespace

std::vector<SessionRow> AccountStore::loadSessions() {
  ReadConnection read(m_db);
  std::vector<SessionRow> rows;
  Statement st(read, kSessionSelect);
  while (st.step()) rows.push_back(readSession(st));
  return rows;
}

std::optional<SessionRow> AccountStore::loadSession(int64_t clientId) {
  ReadConnection read(m_db);
  Statement st(read, std::string(kSessionSelect) + " WHERE s.client_id = ?");
  st.bind(1, clientId);
  if (!st.step()) return std::nullopt;
  return readSession(st);
}

std::optional<StoredPing> AccountStore::sessionPing(int64_t clientId) {
  ReadConnection read(m_db);
  // The same rows as loadSession's: a session of a deleted user is none.
  Statement st(read,
               "SELECT s.salt, s.login_time, s.last_ping FROM sessions s JOIN users u ON u.id = s.user_id "
               "WHERE s.client_id = ?");
  st.bind(1, clientId);
  if (!st.step()) return std::nullopt;
  return StoredPing{st.text(0), st.integer(1), st.integer(2)};
}

std::vector<SessionRow> AccountStore::loadSessionsSince(int64_t loginTime, int64_t limit) {
  ReadConnection read(m_db);
  std::vector<SessionRow> rows;
  Statement st(read, std::string(kSessionSelect) + " WHERE s.login_time >= ? ORDER BY s.login_time LIMIT ?");
  st.bind(1, loginTime).bind(2, limit);
  while (st.step()) rows.push_back(readSession(st));
  return rows;
}

std::vector<int64_t> AccountStore::recordPings(const std::vector<PingMark>& pings) {
  std::vector<int64_t> gone;
  if (pings.empty()) return gone;
  Transaction tx(m_db);
  // A later ping through another process may have come first: keep the latest.
  Statement st(m_db, "UPDATE sessions SET last_ping = CASE WHEN last_ping > ?1 THEN last_ping ELSE ?1 END, "
                     "udp_port = CASE WHEN ?2 > 0 THEN ?2 ELSE udp_port END WHERE client_id = ?3");
  for (const PingMark& p : pings) {
    st.reset();
    if (!st.bind(1, p.time).bind(2, p.udpPort).bind(3, p.clientId).run()) return {};
    if (m_db.changes() == 0) gone.push_back(p.clientId);
  }
  return tx.commit() ? gone : std::vector<int64_t>{};
}

std::vector<DroppedSession> AccountStore::dropSessions(int64_t now, int64_t timeoutSeconds) {
  Transaction tx(m_db);
  std::vector<DroppedSession> dropped;
  {
    Statement st(m_db,
                 "SELECT s.client_id, s.last_ping, u.id IS NULL, COALESCE(u.disabled, 0) FROM sessions s "
                 "LEFT JOIN users u ON u.id = s.user_id WHERE s.last_ping < ? OR u.id IS NULL OR u.disabled <> 0");
    st.bind(1, now - timeoutSeconds);
    while (st.step()) {
      const int64_t lastPing = st.integer(1);
      std::string why = st.integer(2) != 0   ? "the user was deleted"
                        : st.integer(3) != 0 ? "the user was disabled"
                                             : "no ping for " + std::to_string(now - lastPing) + " s";
      dropped.push_back({st.integer(0), std::move(why)});
    }
  }
  Statement drop(m_db, "DELETE FROM sessions WHERE client_id = ?");
  for (const auto& d : dropped) {
    drop.reset();
    if (!drop.bind(1, d.clientId).run()) return {};
  }
  return tx.commit() ? dropped : std::vector<DroppedSession>{};
}

bool AccountStore::firstAddition(int64_t clientId, std::string_view digest) {
  std::scoped_lock lock(m_db.mutex());
  Statement count(m_db, "SELECT COUNT(*) FROM session_additions WHERE client_id = ?");
  count.bind(1, clientId);
  if (!count.step() || count.integer(0) >= static_cast<int64_t>(kMaxAdditions)) return false;
  Statement st(m_db,
               "INSERT INTO session_additions(client_id, digest) SELECT client_id, ? FROM sessions WHERE client_id = ? "
               "ON CONFLICT DO NOTHING");
  st.bindBlob(1, digest).bind(2, clientId);
  return st.run() && m_db.changes() == 1;
}

std::string AccountStore::newWebSession(int64_t userId, int64_t now) {
  unsigned char bytes[24];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
  const std::string token = hexEncode(bytes);
  std::scoped_lock lock(m_db.mutex());
  Statement prune(m_db, "DELETE FROM web_sessions WHERE created < ?");
  prune.bind(1, now - kWebSessionSeconds).run();
  Statement st(m_db, "INSERT INTO web_sessions(token, user_id, created) VALUES (?, ?, ?)");
  st.bind(1, token).bind(2, userId).bind(3, now);
  return st.run() ? token : std::string();
}

std::optional<UserRecord> AccountStore::webSessionUser(std::string_view token, int64_t now) {
  if (token.empty()) return std::nullopt;
  ReadConnection read(m_db);
  Statement st(read,
               "SELECT u.id, u.name FROM web_sessions w JOIN users u ON u.id = w.user_id WHERE w.token = ? AND "
               "w.created >= ? AND u.disabled = 0");
  st.bind(1, token).bind(2, now - kWebSessionSeconds);
  if (!st.step()) return std::nullopt;
  return UserRecord{st.integer(0), st.text(1), false};
}

void AccountStore::endWebSession(std::string_view token) {
  std::scoped_lock lock(m_db.mutex());
  Statement st(m_db, "DELETE FROM web_sessions WHERE token = ?");
  st.bind(1, token).run();
}

}  // namespace vantrel::server
