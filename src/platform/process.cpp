// SPDX-License-Identifier: MIT
#include "platform/process.h"

#include <spawn.h>
#include <unistd.h>

namespace vantrel {

bool startProgram(const std::string& path) {
  if (::access(path.c_str(), X_OK) != 0) return false;
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  return ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) == 0;
}

}  // namespace vantrel
