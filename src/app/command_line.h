// SPDX-License-Identifier: MIT
#pragma once
// The client's command line: "/start", "/installed", "/uninstall" and "/reg"
// with a settings root name in single quotes. The line is searched as one
// plain string, case-sensitively; position and order do not matter.
// Stateless and thread-safe.

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

// The arguments after the program name joined with spaces, as one line.
std::string joinArguments(int argc, const char* const* argv);

}  // namespace vantrel
