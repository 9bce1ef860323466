// SPDX-License-Identifier: MIT
#pragma once
// DownloadPrompts: what the download manager asks the person, to be drawn by
// the front end ("File Already Exists" and its folder choice). Called on a
// download's worker thread; the manager makes sure only one "File Already
// Exists" question is open at a time. Must outlive the manager.

#include <optional>
#include <string>

namespace vantrel {

enum class FileExistsChoice { Overwrite, Resume, ChangeDestination, CancelTransfer };

struct FileExistsPrompt {
  static constexpr const char* kTitle = "File Already Exists";
  static constexpr const char* kText =
      "The file that you are trying to download already exists with the same name at this location. "
      "Please select an option";
  static constexpr const char* kNote =
      "Note: If this is a partially downloaded file you can attept to resume it by clicking the resume buton.";
  static constexpr const char* kButtons[4] = {"Overwrite", "Resume", "Change destination", "Cancel Transfer"};
  std::string fileName;
};

class DownloadPrompts {
 public:
  virtual ~DownloadPrompts() = default;
  virtual FileExistsChoice fileExists(const FileExistsPrompt& prompt) = 0;
  // A folder for "Change destination"; nothing when the person cancels.
  virtual std::optional<std::string> chooseFolder() = 0;
  // Brings the main window forward before a question.
  virtual void showMainWindow() {}
};

// Keeps the file: every question is answered "Cancel Transfer".
class KeepFilePrompts : public DownloadPrompts {
 public:
  FileExistsChoice fileExists(const FileExistsPrompt&) override { return FileExistsChoice::CancelTransfer; }
  std::optional<std::string> chooseFolder() override { return std::nullopt; }
};

}  // namespace vantrel
