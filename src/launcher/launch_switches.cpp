// SPDX-License-Identifier: MIT
#include "launcher/launch_switches.h"

namespace vantrel {

CommandLine parseCommandLine(std::string_view line) {
  CommandLine result;
  result.start = line.find("/start") != std::string_view::npos;
  result.installed = line.find("/installed") != std::string_view::npos;
  result.uninstall = line.find("/uninstall") != std::string_view::npos;
  const std::size_t reg = line.find("/reg");
  if (reg != std::string_view::npos) {
    const std::size_t open = line.find('\'', reg + 4);
    if (open != std::string_view::npos) {
      const std::size_t close = line.find('\'', open + 1);
      if (close != std::string_view::npos) {
        std::string_view name = line.substr(open + 1, close - open - 1);
        if (name.size() > CommandLine::kMaxRootName) name = name.substr(0, CommandLine::kMaxRootName);
        // A backslash would make the name reach into another key of the
        // registry tree; an empty name is no root at all.
        if (!name.empty() && name.find('\\') == std::string_view::npos) result.rootName = name;
      }
    }
  }
  return result;
}

}  // namespace vantrel
