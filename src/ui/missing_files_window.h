// SPDX-License-Identifier: MIT
#pragma once
// "Missing Files..": shared files that were moved or deleted, one row per
// name, with where each is found again ("Replace With"). Auto Find searches
// the folders picked in "Search Drives" on a worker while "Searching" lists
// every match; Browse picks one file; Stop Sharing marks the selection; OK,
// after the "I'm sure" / "Go Back!" confirmation, applies the rows. Closing
// the window applies nothing. UI thread only.

#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTreeWidget>

#include <functional>

#include "core/user_interface.h"
#include "ui/port_dialog.h"

namespace vantrel::ui {

class MissingFilesWindow : public PortDialog {
  Q_OBJECT
 public:
  static constexpr const char* kAutoFind = "Auto Find All Missing Files";
  static constexpr const char* kBrowse = "Browse For Selected File";
  static constexpr const char* kStopSharing = "Stop Sharing Selected File";
  static constexpr const char* kConfirmText = "You have chosen to stop sharing these files\n Ae you sure?";
  static constexpr const char* kSure = "I'm sure";
  static constexpr const char* kGoBack = "Go Back!";
  static constexpr const char* kDrivesTitle = "Search Drives";
  static constexpr const char* kSearchingTitle = "Searching";
  static constexpr const char* kStopSearching = "Stop Searching (Keeps current results)";

  // How the window asks for a file and for the folders to search; tests
  // answer without dialogs. An empty answer cancels.
  struct Choosers {
    std::function<QString(QWidget*)> file;
    std::function<QStringList(QWidget*)> folders;
  };
  static Choosers defaultChoosers();

  MissingFilesWindow(MissingFilesDialogModel& model, QWidget* parent = nullptr, UiDispatcher* dispatcher = nullptr,
                     Choosers choosers = defaultChoosers());

  QTreeWidget* list() const { return m_list; }
  QPushButton* autoFindButton() const { return m_autoFind; }
  QPushButton* browseButton() const { return m_browse; }
  QPushButton* stopSharingButton() const { return m_stopSharing; }
  QPushButton* okButton() const { return m_ok; }

 private:
  void refresh();
  std::vector<std::string> selectedNames() const;
  void warn(const std::string& text);
  void browse();
  void stopSharing();
  void autoFind();
  void confirmAndApply();

  MissingFilesDialogModel& m_model;
  Choosers m_choosers;
  QTreeWidget* m_list;
  QPushButton* m_autoFind;
  QPushButton* m_browse;
  QPushButton* m_stopSharing;
  QPushButton* m_ok;
};

}  // namespace vantrel::ui
