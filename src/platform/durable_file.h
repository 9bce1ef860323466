// SPDX-License-Identifier: MIT
#pragma once
// Crash-safe replacement of a file that holds the user's data: the bytes go to
// a temporary file with a unique name in the same folder, are flushed to disk,
// and the temporary file is renamed over the old one, after which the folder
// is flushed. A crash or a full disk at any point leaves either the old file
// or the new one, never a truncated mix. Thread-safe, also for one path from
// several threads or processes (the last rename wins, each file whole).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

// Who may read the file once written.
enum class FileAccess {
  // Only the user: a new file is 0600, and an older one readable by others
  // becomes private with its next save (what is shared, where, with whom).
  kPrivate,
  // Everyone may read it (0644), as the desktop expects of its entries.
  kReadableByAll,
};

// Returns "" on success, else a description of what failed (the old file is
// then untouched and no temporary file is left behind).
std::string replaceFileDurably(const std::string& path, std::span<const uint8_t> bytes,
                               FileAccess access = FileAccess::kPrivate);
std::string replaceFileDurably(const std::string& path, std::string_view text,
                               FileAccess access = FileAccess::kPrivate);

// Removes the temporary files that replacements of `path` left behind when
// they were cut short (the process killed, the machine off): "<path>.tmp-"
// and six characters, older than a minute, so that a save running in another
// process at this moment keeps its own. Returns how many went.
int removeLeftoverTemporaries(const std::string& path);

}  // namespace vantrel
