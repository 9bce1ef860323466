// SPDX-License-Identifier: MIT
// vantrel: the launcher. Installs a pending update that is signed with the
// key built into this program, then runs vantrel-client /start in its place.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "platform/app_paths.h"
#include "platform/registry_hive.h"
#include "platform/single_instance.h"

using namespace vantrel;

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    std::printf("%s\n", Launcher::kUsage);
    return 0;
  }
  PublicKey key{};
  if (!parsePublicKey(VANTREL_UPDATE_PUBLIC_KEY, key)) {
    std::fprintf(stderr, "vantrel: this build carries no valid update key\n");
    return Launcher::kExitCannotStart;
  }
  std::string rootName;
  Launcher::parseArguments(arguments, rootName);
  if (rootName.empty()) rootName = std::string(SettingsStore::kDefaultRootName);

  LaunchPlan plan;
  {
    RegistryHive hive;
    SettingsStore settings(hive, rootName);
    Launcher launcher(programDirectory(), key);
    plan = launcher.prepare(arguments, settings,
                            [&rootName, &hive] { return SingleInstance::probe(rootName, hive.filePath()); });
  }
  for (const std::string& line : plan.messages) std::fprintf(stderr, "vantrel: %s\n", line.c_str());
  if (plan.command.empty()) return plan.exitStatus;
  std::vector<char*> clientArgv;
  for (std::string& arg : plan.command) clientArgv.push_back(arg.data());
  clientArgv.push_back(nullptr);
  std::fflush(stderr);
  ::execv(clientArgv[0], clientArgv.data());
  std::fprintf(stderr, "vantrel: cannot start %s: %s\n", clientArgv[0], std::strerror(errno));
  return Launcher::kExitCannotStart;
}
