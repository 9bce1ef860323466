// SPDX-License-Identifier: MIT
#pragma once
// Readers of the central server's reply fields: a reply is name=value pairs,
// every value ended by "&". Both readers look at the first occurrence of the
// name only. Stateless and thread-safe.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// The number after the first occurrence of `name` (e.g. "result="). The value
// ends at the next "&", or without one at the next space; with neither, or when
// `name` is absent, -1. A value starting with "0" is 0; any other value that
// reads as 0 (empty, not a number) is -1. At most 99 characters are read.
int ReplyNumber(std::string_view reply, std::string_view name);

// The text after the first occurrence of `name`, which must be preceded by "&"
// and followed by "&" or a space; at most `size` characters of it.
std::optional<std::string> ReplyText(std::string_view reply, std::string_view name, std::size_t size);

}  // namespace vantrel
