// SPDX-License-Identifier: MIT
#include "platform/process.h"

#include <spawn.h>
#include <unistd.h>

namespace vantrel {

bool startProgram(const std::string& path, const std::vector<std::string>& arguments) {
  if (::access(path.c_str(), X_OK) != 0) return false;
  pid_t pid = 0;
  std::vector<std::string> texts{path};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  return ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

}  // namespace vantrel
