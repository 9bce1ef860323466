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

#include "server/database.h"
#include "server/password_vault.h"

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

// What survives a server restart of a client session: enough to derive the
// session key again from the password and the salt.
struct SessionRow {
  int64_t clientId = 0;
  int64_t userId = 0;
  std::string salt;
  std::string seenIp;
  std::string reportedIp;
  int port = 0;
  int udpPort = 0;
  int64_t loginTime = 0;
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

  bool saveSession(const SessionRow& row);
  void deleteSession(int64_t clientId);
  std::vector<SessionRow> loadSessions();

  // Web sign-in: a random cookie value for the user.
  std::string newWebSession(int64_t userId, int64_t now);
  std::optional<UserRecord> webSessionUser(std::string_view token, int64_t now);
  void endWebSession(std::string_view token);

 private:
  Database& m_db;
  const PasswordVault& m_vault;
};

}  // namespace vantrel::server
