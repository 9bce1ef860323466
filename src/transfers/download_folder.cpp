// SPDX-License-Identifier: MIT
#include "transfers/download_folder.h"

#include "platform/app_paths.h"

namespace vantrel {

std::string defaultDownloadFolder() { return xdgDownloadDirectory(); }

std::string downloadFolder(SettingsStore& settings) {
  const std::string stored = settings.GetSettingText(kDownloadFolderSetting);
  return stored.empty() ? defaultDownloadFolder() : withTrailingSlash(stored);
}

}  // namespace vantrel
