// SPDX-License-Identifier: MIT
#pragma once
// SingleInstance: one running client per settings root: the settings file
// (registry.db, whose folder $VANTREL_CONFIG_DIR chooses) and the root name
// in it ("/reg"). The first instance takes a lock file beside its socket and
// holds it for its life, then listens on a Unix-domain socket in
// $XDG_RUNTIME_DIR named after the root and the settings file; a later start
// finds the lock taken, connects, sends the probe and gets 0x1224A2CD back,
// which also asks the first to show its window, and then ends. The lock makes
// two starts at the same moment safe: only one of them can take it.
//
// Owned by the application; the listener thread calls onShow (on that thread)
// and is joined by the destructor. Thread-safe.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/unique_fd.h"

namespace vantrel {

class SingleInstance {
 public:
  static constexpr uint32_t kProbeAnswer = 0x1224A2CD;
  static constexpr uint32_t kProbeMessage = 1147;

  // The socket's path for a settings root in the settings file.
  static std::string socketPath(const std::string& rootName, const std::string& settingsFile);
  // True when a running instance answered the probe (and was asked to show itself).
  static bool probe(const std::string& rootName, const std::string& settingsFile);

  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the instance lock for this root, held until destruction. False
  // when another instance holds it; that one was then asked to show itself
  // (waiting up to `wait` for it to answer, since it may be starting).
  bool claim(const std::string& rootName, const std::string& settingsFile,
             std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
  // Starts answering probes; false when the socket could not be made. Call
  // after claim() succeeded: it replaces a socket file left by a dead client.
  bool listen(const std::string& rootName, const std::string& settingsFile, std::function<void()> onShow);

 private:
  void serve(std::stop_token st);

  std::string m_path;
  UniqueFd m_lock;  // the flock held for the life of the instance
  UniqueFd m_socket;
  std::function<void()> m_onShow;
  std::jthread m_thread;
};

}  // namespace vantrel
