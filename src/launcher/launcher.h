// SPDX-License-Identifier: MIT
#pragma once
// Launcher: the logic of `vantrel`, the program the desktop entry, the
// autostart entry and an update hand-over start. It accepts the client's own
// switches ("/installed", "/uninstall", "/reg 'Name'"), waits for a client
// that is handing over to end, installs a pending update when the client left
// one ("ClientUpdate" is 1) and it is signed with the program's key, clears
// the setting, and names the command that starts `vantrel-client /start` with
// those switches. A refused update keeps the old program; the reason is kept in
// the settings for the client to show, and returned for the terminal.
//
// Used on one thread; the settings store must outlive it.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "launcher/update/update_signature.h"
#include "settings/settings_store.h"

namespace vantrel {

struct LaunchPlan {
  int exitStatus = 0;                   // when `command` is empty
  std::vector<std::string> command;     // the client and its arguments, to run in place of the launcher
  std::vector<std::string> messages;    // lines for the terminal
};

class Launcher {
 public:
  static constexpr const char* kClientName = "vantrel-client";
  static constexpr const char* kUpdateSetting = "ClientUpdate";
  // A refused update's reason, which the client shows at its next start.
  static constexpr const char* kUpdateErrorSetting = "ClientUpdateError";
  static constexpr const char* kUsage =
      "usage: vantrel [/installed] [/uninstall] [/reg 'Name']\n"
      "Starts the Vantrel File Manager (vantrel-client /start), after installing an update\n"
      "that it downloaded and that is signed with this program's key.";
  static constexpr int kExitUsage = 64;
  static constexpr int kExitCannotStart = 70;

  // The root name of "/reg" in `arguments`, "" for the default one; false
  // when an argument is not one the launcher knows.
  static bool parseArguments(const std::vector<std::string>& arguments, std::string& rootName);
  // The text shown when an update was refused.
  static std::string refusedText(const std::string& reason);

  Launcher(std::filesystem::path programDir, const PublicKey& key) : m_programDir(std::move(programDir)), m_key(key) {}

  // Everything before the client starts. `settings` belongs to the root
  // that the arguments name (see parseArguments); `clientRunning` tells
  // whether a client of that root still runs.
  LaunchPlan prepare(const std::vector<std::string>& arguments, SettingsStore& settings,
                     const std::function<bool()>& clientRunning,
                     std::chrono::milliseconds waitForClient = std::chrono::seconds(10));

 private:
  void installPending(SettingsStore& settings, LaunchPlan& plan);

  const std::filesystem::path m_programDir;
  const PublicKey m_key;
};

}  // namespace vantrel
