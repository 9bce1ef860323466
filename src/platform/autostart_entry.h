// SPDX-License-Identifier: MIT
#pragma once
// AutostartEntry: the desktop-session autostart file that starts the client's
// launcher when the user logs in, $XDG_CONFIG_HOME/autostart/VantrelClient.desktop.
// A small value naming the folder and the launcher; each call touches the file
// and keeps nothing. Thread-safe as far as the file system is.

#include <string>
#include <string_view>

namespace vantrel {

class AutostartEntry {
 public:
  static constexpr const char* kFileName = "VantrelClient.desktop";
  static constexpr const char* kLauncherName = "vantrel";

  enum class State { Present, Absent, Unknown };  // Unknown: the folder cannot be read

  // Results of write() and remove().
  static constexpr int kOk = 0;
  static constexpr int kNoLauncherPath = 1;  // the launcher path is empty or has control characters
  static constexpr int kWriteFailed = 2;
  static constexpr int kRemoveFailed = 3;

  // The folder $XDG_CONFIG_HOME/autostart/ and the launcher beside the running
  // program (programDirectory() + "vantrel").
  AutostartEntry();
  // Explicit folder and launcher path (tests, packagers).
  AutostartEntry(std::string directory, std::string launcherPath);

  const std::string& filePath() const { return m_filePath; }
  const std::string& launcherPath() const { return m_launcherPath; }

  // Present when the file exists, is readable and is not disabled by the
  // desktop ("Hidden=true" or "X-GNOME-Autostart-enabled=false").
  State state() const;
  // Writes the entry crash-safely (see durable_file.h); creates the folder.
  int write() const;
  // Deletes the entry; kOk also when there was none.
  int remove() const;

  // The desktop file text for a launcher path; empty when it cannot be quoted.
  static std::string desktopFileText(std::string_view launcherPath);
  // Whether a desktop file text asks the session not to start the entry.
  static bool isDisabled(std::string_view desktopText);

 private:
  std::string m_directory;
  std::string m_filePath;
  std::string m_launcherPath;
};

}  // namespace vantrel
