// SPDX-License-Identifier: MIT
#pragma once
// "File Already Exists": a download's target is there already. The text, the
// note and the file name, and the buttons "Overwrite", "Resume", "Change
// destination" and "Cancel Transfer"; closing the window cancels, which keeps
// the file. UI thread only.

#include <QDialog>

#include "core/user_interface.h"

namespace vantrel::ui {

class FileExistsDialog : public QDialog {
  Q_OBJECT
 public:
  FileExistsDialog(const QString& fileName, QWidget* parent = nullptr);
  ExistingFileChoice choice() const { return m_choice; }

 private:
  ExistingFileChoice m_choice = ExistingFileChoice::CancelTransfer;
};

}  // namespace vantrel::ui
