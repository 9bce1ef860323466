// SPDX-License-Identifier: MIT
#pragma once
// File status and file opening as the client needs them: size, creation and
// modification times, the directory flag and the "temporary" rule; and the three
// kinds of open failure that the file server and the catalogue report
// (invalid file, file in use, other). Thread-safe: no state.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace vantrel {

struct FileStatus {
  int64_t size = 0;
  int64_t birthTime = 0;     // seconds since 1970; the modification time where the file system keeps no birth time
  int64_t modifiedTime = 0;  // seconds since 1970
  bool isDirectory = false;
  bool isTemporary = false;  // see isTemporaryName
};

enum class OpenFailureKind {
  None,         // success
  InvalidFile,  // no such file, a path through a non-directory, a directory, a loop, a name too long, not a regular file
  InUse,        // another process holds a conflicting lock, or the file is busy
  Other,        // anything else; the text says what
};

struct OpenFailure {
  OpenFailureKind kind = OpenFailureKind::None;
  int error = 0;     // the errno behind it
  std::string text;  // strerror text of error; empty on success

  bool ok() const { return kind == OpenFailureKind::None; }
};

// The kind of an errno value from open() or stat().
OpenFailure classifyOpenError(int err);

// Names the system treats as temporary: ending in ".part", ".crdownload",
// ".tmp" or "~", or starting with ".~lock.". Looks at the last path component.
bool isTemporaryName(std::string_view path);

// Status of a file or directory (symbolic links are followed).
OpenFailure statFile(const std::string& path, FileStatus& out);

// Opens a regular file with `flags` (O_RDONLY, O_WRONLY|O_APPEND, ...; O_CLOEXEC
// is added) and takes a non-blocking flock: shared, or exclusive when asked.
// The lock lives as long as the descriptor. Never blocks on a FIFO or device:
// those are refused as invalid files.
OpenFailure openFile(const std::string& path, int flags, UniqueFd& out, bool exclusive = false,
                     unsigned createMode = 0644);

}  // namespace vantrel
