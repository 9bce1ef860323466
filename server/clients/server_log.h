// SPDX-License-Identifier: MIT
#pragma once
// ServerLog: the operator's log. One line per event,
//   2026-12-10T17:05:00.123Z info vantrel-server started
// with an ISO 8601 UTC time stamp and a level, written whole to standard error
// (where a service manager's journal takes it) or appended to a file.
// Control characters in a message become "?", so nothing a peer sends can
// forge a line. Callers never put passwords, keys or session texts in a line.
//
// Thread-safe.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace vantrel::server {

enum class LogLevel { kInfo, kWarning, kError };

class ServerLog {
 public:
  ServerLog() = default;
  ~ServerLog();
  ServerLog(const ServerLog&) = delete;
  ServerLog& operator=(const ServerLog&) = delete;

  // Appends to the file from now on (created with mode 0640); false with a
  // message in `error` when it cannot be opened.
  bool openFile(const std::string& path, std::string& error);

  void write(LogLevel level, std::string_view message);
  void info(std::string_view message) { write(LogLevel::kInfo, message); }
  void warning(std::string_view message) { write(LogLevel::kWarning, message); }
  void error(std::string_view message) { write(LogLevel::kError, message); }

  // The line for a message at a time, with its "\n".
  static std::string line(std::chrono::system_clock::time_point when, LogLevel level, std::string_view message);

 private:
  std::mutex m_mutex;
  std::FILE* m_file = nullptr;  // guarded by m_mutex; standard error when null
};

}  // namespace vantrel::server
