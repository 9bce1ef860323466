// SPDX-License-Identifier: MIT
#pragma once
// Starting other programs.

#include <string>

namespace vantrel {

// Starts an executable file with no arguments, in this process's environment,
// without waiting for it; false when it is not executable or could not start.
bool startProgram(const std::string& path);

}  // namespace vantrel
