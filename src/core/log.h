// SPDX-License-Identifier: MIT
#pragma once
// Log: the client's activity log, "log.txt" in its home directory.
//
// Every line is the local time as "%m/%d/%y %H:%M:%S  ", the text and CR LF.
// Two independent levels decide what is written: activity lines (logText,
// logActivity) when their level is at most the detail level, error lines
// (logError) when theirs is at most the error level. Both start at 1; the
// debug settings raise them to 2.
//
// With trimming on, the file never grows far past its maximum size: once a
// line takes it over, the file is started afresh and the log carries on in it.
//
// Threads: every method may be called from any thread. A line goes out as one
// write under the log's mutex, so lines from different threads never mix. The
// mirror callback runs on the writing thread with that mutex held (so lines
// arrive in file order); it must not call back into the Log.

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/user_interface.h"

namespace vantrel {

class Log {
 public:
  static constexpr int kDefaultMaxSizeKb = 1000;
  static constexpr std::size_t kMaxActivityText = 700;  // message + context
  static constexpr std::size_t kMaxErrorText = 400;     // message + context + extra
  static constexpr std::size_t kMirrorLines = 40;

  // Opens (creating, never truncating) the file at `path`; an empty path logs
  // nowhere but the mirror. `maxSizeKb` 0 means the default. When the file
  // cannot be opened, `ui` (optional, used only during construction) shows
  // "Unable to open log.txt for writing" once and the log goes on without a file.
  Log(std::string path, int maxSizeKb, bool trim, UserInterface* ui = nullptr);
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // The text as it stands.
  void logText(std::string_view text, int level = 1);
  // " message context " — the context is usually the peer's address.
  void logActivity(std::string_view message, std::string_view context, int level = 1);
  // " message context extra ".
  void logError(std::string_view message, std::string_view context, std::string_view extra, int level = 1);

  void setDetailLevel(int level);
  void setErrorLevel(int level);
  int detailLevel() const;
  int errorLevel() const;

  // Called with every line written, without its line end. Replaces any earlier one.
  void setMirror(std::function<void(std::string_view line)> mirror);
  // The last kMirrorLines lines, oldest first, for a log window that opens late.
  std::vector<std::string> recentLines() const;

  bool isOpen() const;
  const std::string& path() const { return m_path; }
  std::size_t maxSizeBytes() const { return m_maxBytes; }

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  using File = std::unique_ptr<std::FILE, FileCloser>;

  void writeLine(std::string_view text);
  void restartFileLocked();

  const std::string m_path;
  const std::size_t m_maxBytes;
  const bool m_trim;

  mutable std::mutex m_mutex;
  File m_file;                                       // guarded by m_mutex
  std::size_t m_size = 0;                            // guarded by m_mutex
  int m_detailLevel = 1;                             // guarded by m_mutex
  int m_errorLevel = 1;                              // guarded by m_mutex
  std::function<void(std::string_view)> m_mirror;    // guarded by m_mutex
  std::deque<std::string> m_recent;                  // guarded by m_mutex
};

}  // namespace vantrel
