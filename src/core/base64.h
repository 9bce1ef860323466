// SPDX-License-Identifier: MIT
#pragma once
// Base64 with the RFC 2045 alphabet, as the client uses it for stored passwords,
// "@" request parameters, encrypted requests and update data. Encoding pads with
// "=" and never breaks lines; decoding skips every character outside the
// alphabet (padding, spaces and line breaks included). Thread-safe: no state.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

std::string base64Encode(std::span<const uint8_t> bytes);
std::string base64Encode(std::string_view bytes);

// Returns the decoded bytes. std::string keeps a terminating zero after them
// that size() does not count, which is what callers of the byte interface rely on.
std::string base64Decode(std::string_view text);

}  // namespace vantrel
