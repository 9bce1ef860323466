// SPDX-License-Identifier: MIT
#pragma once
// The switches that the launcher and the client share: "/start",
// "/installed", "/uninstall" and "/reg" with a settings root name in single
// quotes. The launcher hands them on to the client it starts, and both read
// the root name the same way. The line is searched as one plain string,
// case-sensitively; position and order do not matter.
// Stateless and thread-safe.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

struct CommandLine {
  static constexpr std::size_t kMaxRootName = 99;
  bool start = false;
  bool installed = false;
  bool uninstall = false;
  std::string rootName;  // "" unless "/reg" names one
};

CommandLine parseCommandLine(std::string_view line);

}  // namespace vantrel
