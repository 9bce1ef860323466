// SPDX-License-Identifier: MIT
// The client's command line: any bytes as the joined arguments.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "launcher/launch_switches.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const vantrel::CommandLine parsed = vantrel::parseCommandLine(line);
  // The root name becomes a registry key component: never longer than the
  // limit, never a path of its own.
  if (parsed.rootName.size() > vantrel::CommandLine::kMaxRootName) __builtin_trap();
  if (parsed.rootName.find('\\') != std::string_view::npos) __builtin_trap();
  return 0;
}
