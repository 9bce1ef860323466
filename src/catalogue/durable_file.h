// SPDX-License-Identifier: MIT
#pragma once
// Crash-safe replacement of a file that holds the user's data: the bytes go to
// a temporary file in the same folder, are flushed to disk, and the temporary
// file is renamed over the old one, after which the folder is flushed. A crash
// or a full disk at any point leaves either the old file or the new one, never
// a truncated mix. Thread-safe for different paths.

#include <cstdint>
#include <span>
#include <string>

namespace vantrel {

// Returns "" on success, else a description of what failed (the old file is
// then untouched and no temporary file is left behind).
std::string replaceFileDurably(const std::string& path, std::span<const uint8_t> bytes);

// Removes the temporary files that replacements of `path` left behind when
// they were cut short (the process killed, the machine off): "<path>.tmp-"
// and six characters, older than a minute, so that a save running in another
// process at this moment keeps its own. Returns how many went.
int removeLeftoverTemporaries(const std::string& path);

}  // namespace vantrel
