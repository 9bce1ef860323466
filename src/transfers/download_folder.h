// SPDX-License-Identifier: MIT
#pragma once
// The download folder: where "Download to" starts and where the terminal
// client puts files when it is given no folder. The setting "downloadfolder"
// (text), by default the user's XDG download folder. Any thread.

#include <string>

#include "settings/settings_store.h"

namespace vantrel {

inline constexpr const char* kDownloadFolderSetting = "downloadfolder";

// The folder with a trailing "/": the setting, else the default.
std::string downloadFolder(SettingsStore& settings);
std::string defaultDownloadFolder();

}  // namespace vantrel
