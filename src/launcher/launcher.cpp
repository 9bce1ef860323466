// SPDX-License-Identifier: MIT
#include "launcher/launcher.h"

#include <thread>

#include "launcher/launch_switches.h"
#include "launcher/update/update_installer.h"

namespace vantrel {

bool Launcher::parseArguments(const std::vector<std::string>& arguments, std::string& rootName) {
  rootName.clear();
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "/installed" || arg == "/uninstall") continue;
    if (arg != "/reg" || i + 1 == arguments.size()) return false;
    // The client reads the name the same way from its own command line.
    const CommandLine line = parseCommandLine("/reg " + arguments[++i]);
    if (line.rootName.empty()) return false;
    rootName = line.rootName;
  }
  return true;
}

std::string Launcher::refusedText(const std::string& reason) {
  return "The update of the Vantrel File Manager was not installed: " + reason +
         ". The version you had stays installed.";
}

LaunchPlan Launcher::prepare(const std::vector<std::string>& arguments, SettingsStore& settings,
                             const std::function<bool()>& clientRunning, std::chrono::milliseconds waitForClient) {
  LaunchPlan plan;
  std::string rootName;
  if (!parseArguments(arguments, rootName)) {
    plan.exitStatus = kExitUsage;
    plan.messages.emplace_back(kUsage);
    return plan;
  }
  if (settings.GetSettingNumber(kUpdateSetting) == 1) {
    // The client that handed the update over is still ending: its files
    // must not change under it, and a new client would find it running.
    const auto deadline = std::chrono::steady_clock::now() + waitForClient;
    while (clientRunning() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    installPending(settings, plan);
  }
  plan.command.push_back((m_programDir / kClientName).string());
  plan.command.emplace_back("/start");
  plan.command.insert(plan.command.end(), arguments.begin(), arguments.end());
  return plan;
}

void Launcher::installPending(SettingsStore& settings, LaunchPlan& plan) {
  const std::filesystem::path updateDir = m_programDir / kUpdateFolderName;
  const InstallResult result = installSignedUpdate(updateDir, m_programDir, m_key);
  // Whatever the outcome the download is spent: a refused one is not tried
  // again at every start, and the client offers the update anew.
  removeUpdateFolder(updateDir);
  settings.SetSettingNumber(kUpdateSetting, 0);
  if (result.code == install::kOk) {
    plan.messages.push_back("installed the update (" + std::to_string(result.installed) + " files)");
    return;
  }
  const std::string text = refusedText(result.reason);
  settings.SetSettingText(kUpdateErrorSetting, text);
  plan.messages.push_back(text);
}

}  // namespace vantrel
