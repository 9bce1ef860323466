// SPDX-License-Identifier: MIT
#pragma once
// AccountStore: users with their sealed passwords, the client ID of each user,
// the persisted part of client sessions, the salts already used at login, and
// the web site's sign-in cookies. Backed by the server's Database.
//
// Thread-safe: every method takes the database mutex for its own statements.
// The Database and the PasswordVault must outlive the store.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/database.h"
#include "server/store/password_vault.h"

namespace vantrel::server {

struct UserRecord {
  int64_t id = 0;
  std::string name;
  bool disabled = false;  // an operator switched the account off: no logins
};

// A user as the operator's listing shows it.
struct UserSummary {
  int64_t id = 0;
  std::string name;
  bool disabled = false;
  int64_t created = 0;
  int64_t lastLogin = 0;  // calendar seconds, 0 = never
  int64_t files = 0;      // files shared now
};

// What survives a server restart of a client session: its key sealed with
// the server key (sessionKeyOf opens it), or for a session stored before keys
// were kept, enough to derive it again from the password and the salt.
struct SessionRow {
  int64_t clientId = 0;
  int64_t userId = 0;
  std::string salt;
  std::string seenIp;
  std::string reportedIp;
  int port = 0;
  int udpPort = 0;
  int64_t loginTime = 0;
  int64_t lastPing = 0;
  std::string sealedKey;  // empty in sessions stored before keys were kept
  std::string userName;   // read with the row, never written
};

// Enough of a stored session to tell whether its client is online.
struct StoredPing {
  std::string salt;  // tells one login from another
  int64_t loginTime = 0;
  int64_t lastPing = 0;
};

// A ping (or request) seen by this process, to be written to the session.
struct PingMark {
  int64_t clientId = 0;
  int64_t time = 0;
  int udpPort = 0;
};

// A session the sweep removed, and why.
struct DroppedSession {
  int64_t clientId = 0;
  std::string why;
};

class AccountStore {
 public:
  // Sign-up and administration results.
  enum class Result { kOk, kNameTaken, kBadName, kBadPassword, kStorageFailed };
  static constexpr size_t kMinPassword = 4;
  static constexpr size_t kMaxPassword = 64;

  AccountStore(Database& db, const PasswordVault& vault) : m_db(db), m_vault(vault) {}

  // A name is 3 to 31 letters, digits, "_", "-" or "." (they appear in URLs,
  // file names and the replies of the protocol).
  static bool validName(std::string_view name);
  static bool validPassword(std::string_view password);

  Result createUser(std::string_view name, std::string_view password, std::string_view email);
  // Creates the user, or sets the password of an existing one.
  Result createOrUpdateUser(std::string_view name, std::string_view password);

  int64_t userCount();
  // Whether the vault's key opens a stored password (checked at start).
  bool anyPasswordReadable();
  std::optional<UserRecord> findUser(std::string_view name);
  std::optional<UserRecord> findUser(int64_t id);
  std::optional<std::string> password(int64_t userId);
  // Sets the password of an existing user.
  Result setPassword(int64_t userId, std::string_view password);
  bool setDisabled(int64_t userId, bool disabled);
  void recordLogin(int64_t userId, int64_t now);
  std::vector<UserSummary> listUsers();
  // Checks a password typed into the web site; disabled accounts never pass.
  std::optional<UserRecord> checkPassword(std::string_view name, std::string_view password);

  // The user's client ID, created on first use.
  std::optional<int64_t> clientIdFor(int64_t userId);
  std::optional<int64_t> userOfClient(int64_t clientId);

  // Records a login salt; false when this user has used it before (a replayed
  // login). Salts older than a day are forgotten.
  bool useLoginSalt(int64_t userId, std::string_view salt, int64_t now);

  // The session key (its Blowfish key and IV, 16 bytes) sealed for the row of
  // the client's session with that salt, and opened again: nullopt when it was
  // sealed with another server key, altered, or moved to another session.
  static constexpr size_t kSessionKeySize = 16;
  std::string sealSessionKey(int64_t clientId, std::string_view salt, std::string_view keyAndIv) const;
  std::optional<std::string> sessionKeyOf(const SessionRow& row) const;

  // Stores the session of a new login (its last ping is its login time) and
  // forgets the additions of the one it replaces.
  bool saveSession(const SessionRow& row);
  void deleteSession(int64_t clientId);
  std::vector<SessionRow> loadSessions();
  std::optional<SessionRow> loadSession(int64_t clientId);
  // The login and last ping of the client's session, without its key.
  std::optional<StoredPing> sessionPing(int64_t clientId);
  // The sessions of logins at or after the time given (calendar seconds),
  // at most `limit` of them, oldest first.
  std::vector<SessionRow> loadSessionsSince(int64_t loginTime, int64_t limit);
  // Writes the pings; returns the clients whose session is gone (dropped by
  // another server process, or logged out).
  std::vector<int64_t> recordPings(const std::vector<PingMark>& pings);
  // Removes the sessions silent for longer than the time-out, and those of
  // users disabled or deleted.
  std::vector<DroppedSession> dropSessions(int64_t now, int64_t timeoutSeconds);
  // Records the digest of an add_file request of the session; false when the
  // session made it before (a replay), has made kMaxAdditions (the client is
  // asked to log in again, which starts an empty record) or is gone.
  static constexpr size_t kMaxAdditions = 4096;
  bool firstAddition(int64_t clientId, std::string_view digest);

  // Web sign-in: a random cookie value for the user.
  std::string newWebSession(int64_t userId, int64_t now);
  std::optional<UserRecord> webSessionUser(std::string_view token, int64_t now);
  void endWebSession(std::string_view token);

 private:
  Database& m_db;
  const PasswordVault& m_vault;
};

}  // namespace vantrel::server
