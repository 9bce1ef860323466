// SPDX-License-Identifier: MIT
#pragma once
// SessionTable: the client sessions that are logged in right now, keyed by
// client ID, each with the Blowfish session key derived at login, the
// addresses and ports of the client, and the time of its last ping.
//
// Threads: every method is thread-safe. Sessions are handed out as shared_ptr
// because a request in flight keeps using its session while a new login of the
// same client replaces it in the table; the old one dies with its last user.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "protocol/session_key.h"

namespace vantrel::server {

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

  // The last request that changed something, to answer an identical repeat
  // (the client sends a request once more when the first reply got lost)
  // with the same reply instead of doing it twice.
  std::mutex replayMutex;
  std::string lastChangeCipher;  // guarded by replayMutex
  std::string lastChangeReply;   // guarded by replayMutex
  // Digests of the add_file requests this key has carried. The cipher has no
  // nonce, so the same files added again give the same bytes as the first
  // time: a repeat that is not the immediate one above is answered "log in
  // again". The client logs in and sends it under the new key, while a
  // request recorded earlier and played back later cannot follow.
  std::unordered_set<std::string> additionDigests;  // guarded by replayMutex
  // Restored after a restart: the additions made before it are not known.
  bool additionsUnknown = false;  // guarded by replayMutex
};

class SessionTable {
 public:
  // A client is online while its last ping is at most this old (pings come
  // every 50 seconds).
  static constexpr int64_t kOnlineSeconds = 180;

  std::shared_ptr<ClientSession> find(int64_t clientId) const;
  // Puts the session in, returning the one it replaced (or null).
  std::shared_ptr<ClientSession> replace(std::shared_ptr<ClientSession> session);
  // Removes the session if it is still the one given.
  bool remove(const std::shared_ptr<ClientSession>& session);
  std::vector<std::shared_ptr<ClientSession>> all() const;
  bool online(int64_t clientId, int64_t now) const;
  std::vector<int64_t> onlineClients(int64_t now) const;
  size_t size() const;

 private:
  mutable std::mutex m_mutex;
  std::unordered_map<int64_t, std::shared_ptr<ClientSession>> m_sessions;  // guarded by m_mutex
};

}  // namespace vantrel::server
