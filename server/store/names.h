// SPDX-License-Identifier: MIT
#pragma once
// Names as the catalogue and the accounts keep them, whatever a client or a
// browser sent: the cleaning every store applies before it writes a name, and
// the UTF-8 checks it rests on. Values only; thread-safe.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel::server {

// Names of files, directories and groups as the catalogue stores them: control
// characters go, spaces at the ends are trimmed, bytes that are not UTF-8 are
// read as Latin-1 (what an older client sends), and the text is cut to at
// most `maxLength` bytes, never inside a character. Every other byte ("&"
// included) stays, so that a name comes back as it was shared; replies and
// pages encode what they need.
std::string cleanName(std::string_view text, size_t maxLength = 128);

// True when the text is well-formed UTF-8.
bool isUtf8(std::string_view text);
// The text with every byte that is not part of a well-formed UTF-8 character
// read as Latin-1 (0xE9 becomes "é").
std::string repairUtf8(std::string_view text);

// ASCII letters in lower case; every other byte as it is.
std::string asciiLower(std::string_view text);

}  // namespace vantrel::server
