// SPDX-License-Identifier: MIT
#pragma once
// SessionTable: the client sessions that are logged in right now, keyed by
// client ID, each with the Blowfish session key derived at login, the
// addresses and ports of the client, and the time of its last ping.
//
// Several server processes may share one PostgreSQL database: the table then
// is this process's view of the sessions stored there. A session this process
// has not seen (the client logged in through another) is loaded on first use
// through the loader; pings are noted here and written to the database in
// batches (takePings).
//
// Threads: every method is thread-safe. Sessions are handed out as shared_ptr
// because a request in flight keeps using its session while a new login of the
// same client replaces it in the table; the old one dies with its last user.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "crypto/session_key.h"

namespace vantrel::server {

inline int64_t steadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct ClientSession {
  int64_t clientId = 0;
  int64_t userId = 0;
  std::string userName;
  std::string salt;        // the login salt the key was derived from
  std::string seenIp;      // the address the server sees
  std::string reportedIp;  // the address the client says it has
  int port = 0;            // the client's file-server port
  std::atomic<int> udpPort{0};
  int64_t loginTime = 0;
  std::atomic<int64_t> lastPing{0};  // calendar seconds of the last sign of life
  SessionKey key;
  // Steady-clock milliseconds of the client's last change through this
  // process (0: none yet): until it is a few seconds old the client's reads
  // go to the primary, so that it sees what it did.
  std::atomic<int64_t> lastChangeMs{0};

  // The last request that changed something, to answer an identical repeat
  // (the client sends a request once more when the first reply got lost)
  // with the same reply instead of doing it twice.
  std::mutex replayMutex;
  std::string lastChangeCipher;  // guarded by replayMutex
  std::string lastChangeReply;   // guarded by replayMutex
  // The add_file requests this key has carried are recorded with the stored
  // session (AccountStore::firstAddition), for every server process to see.
};

struct PingMark;
struct StoredPing;

class SessionTable {
 public:
  // A client is online while its last ping is at most this old (pings come
  // every 50 seconds).
  static constexpr int64_t kOnlineSeconds = 180;
  // A client found without a session is not looked up again for this long.
  static constexpr int64_t kAbsentSeconds = 2;
  using Loader = std::function<std::shared_ptr<ClientSession>(int64_t clientId)>;
  // The login and last ping of the stored session, read without its key.
  using PingReader = std::function<std::optional<StoredPing>(int64_t clientId)>;

  // Called, without the table's lock, for a client not in the table.
  void setLoader(Loader loader);
  // Called, without the table's lock, by online() for a client not in the
  // table or not heard of here lately.
  void setPingReader(PingReader reader);
  // The session in the table, else the loader's (kept), else null.
  std::shared_ptr<ClientSession> find(int64_t clientId) const;
  // The session in the table, never loaded.
  std::shared_ptr<ClientSession> peek(int64_t clientId) const;
  // Puts in a session stored by another process unless the table holds the
  // same login or a later one; true when it went in.
  bool adopt(std::shared_ptr<ClientSession> session);
  // Forgets the table's copy so that the next find() loads the stored one
  // (another process may have replaced it with a new login).
  void forget(int64_t clientId);
  // A sign of life of the session now: its last ping, and the UDP port its
  // pings come from (0 keeps the one known).
  void notePing(ClientSession& session, int64_t now, int udpPort = 0);
  // The pings noted since the last call.
  std::vector<PingMark> takePings();
  // Puts the session in, returning the one it replaced (or null).
  std::shared_ptr<ClientSession> replace(std::shared_ptr<ClientSession> session);
  // Removes the session if it is still the one given.
  bool remove(const std::shared_ptr<ClientSession>& session);
  std::vector<std::shared_ptr<ClientSession>> all() const;
  // Whether the client's current login has pinged, through any server
  // process, within kOnlineSeconds. Never loads a session into the table.
  bool online(int64_t clientId, int64_t now) const;
  size_t size() const;

 private:
  Loader m_loader;          // set before the threads start
  PingReader m_pingReader;  // set before the threads start
  mutable std::mutex m_mutex;
  mutable std::unordered_map<int64_t, std::shared_ptr<ClientSession>> m_sessions;  // guarded by m_mutex
  mutable std::unordered_map<int64_t, std::chrono::steady_clock::time_point> m_absent;  // guarded by m_mutex
  std::unordered_map<int64_t, std::pair<int64_t, int>> m_pings;  // guarded by m_mutex; time, UDP port
};

}  // namespace vantrel::server
