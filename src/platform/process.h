// SPDX-License-Identifier: MIT
#pragma once
// Starting other programs.

#include <string>
#include <vector>

namespace vantrel {

// Starts an executable file with the arguments, in this process's
// environment, without waiting for it; false when it is not executable or
// could not start.
bool startProgram(const std::string& path, const std::vector<std::string>& arguments = {});

}  // namespace vantrel
