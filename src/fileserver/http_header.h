// SPDX-License-Identifier: MIT
#pragma once
// The header block that opens every HTTP reply of the file server, the date
// texts in it, and the content type of a file name. Replies are HTTP/1.0 and
// always carry the reason phrase "OK". Stateless and thread-safe.

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace vantrel {

inline constexpr int kHeaderOk = 0;
inline constexpr int kHeaderDateTooLong = 5;
inline constexpr int kHeaderTooLong = 8;

// The four lines "HTTP/1.0 <status> OK", "Date:<date>", "Server: Vantrel Windows
// Server <version>", "MIME-verion: 1.0", each ended by CR LF, for time `now`.
// Returns kHeaderTooLong and leaves `out` alone when they need `bufferSize` bytes
// or more (with the terminating zero of a C buffer of that size).
int buildHeader(std::string& out, std::size_t bufferSize, int status, int clientVersion, std::time_t now);

// "Sun, 07 Dec 2026 09:35:50 GMT" for `when` in GMT. Returns kHeaderDateTooLong
// when the text needs `size` bytes or more.
int formatHttpDate(std::string& out, std::size_t size, std::time_t when);

// The "Last-modified" form of a time: "%a, %d %b %Y %H:%M:%S GMT" in English.
std::string formatLastModified(std::time_t when);

// Content type by the text behind the last "." of the name, compared without
// case against the fixed table; "application/octet-stream" otherwise.
std::string_view contentTypeFor(std::string_view fileName);

}  // namespace vantrel
