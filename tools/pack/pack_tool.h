// SPDX-License-Identifier: MIT
#pragma once
// vantrel-pack: the page designer's tool for the page archive. Packs a folder
// into "filedata.dat" and back, lists an archive, checks every template and
// renders one page against a sample client, from a folder or an archive.
//
// runPackTool takes the arguments after the program name and returns the exit
// code; it writes only to the two streams it is given.

#include <ostream>
#include <string>
#include <vector>

namespace vantrel::pack {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vantrel::pack
