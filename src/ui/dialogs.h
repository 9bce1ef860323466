// SPDX-License-Identifier: MIT
#pragma once
// The small windows behind UserInterface: message boxes, the "Warning!" and
// "Invalid login" questions, the share-files window's file and folder picker
// and its progress dialog, and the "Initial Setup" place holder.
// UI thread only.

#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/user_interface.h"
#include "ui/port_dialog.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace vantrel::ui {

// A message box for `box`, not yet shown. Escape and closing give the box's safe answer.
QMessageBox* makeMessageBox(const MessageBox& box, QWidget* parent);
// The answer for the button that closed the box.
MessageAnswer messageAnswer(const QMessageBox& box, const MessageBox& shown);

// "Warning!" (another File Manager shares for this user) and "Invalid login":
// a warning box with the text, the detail and two buttons; answer() is the
// index of the button pressed, 0 when closed.
class ChoiceBox : public QMessageBox {
  Q_OBJECT
 public:
  static constexpr const char* kSharingTitle = "Warning!";
  static constexpr const char* kGoBack = "Go Back, Keep the files!";
  static constexpr const char* kContinue = "Contine";
  static constexpr const char* kInvalidTitle = "Invalid login";
  static constexpr const char* kOk = "OK";
  static constexpr const char* kCreateUser = "Create New Vantrel User";

  ChoiceBox(const QString& title, const QString& text, const QString& detail, const QString& first,
            const QString& second, QWidget* parent = nullptr);
  int answer() const;

 private:
  QPushButton* m_second;
};

// The share-files window's picker: files and folders chosen one by one.
class SharePicker : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Share Files";
  explicit SharePicker(const QString& groupName, QWidget* parent = nullptr);
  void addPaths(const QStringList& paths);
  std::vector<std::string> paths() const;
  QPushButton* shareButton() const { return m_share; }
  // Where "Add Files..." and "Add Folder..." open: where the person last
  // picked something in this run, else the home folder (never the folder the
  // program happened to be started in).
  static QString startFolder();
  // Notes a pick: a file's folder, or the folder that holds a picked folder.
  static void rememberPick(const QString& path);

 private:
  void updateButtons();
  QListWidget* m_list;
  QPushButton* m_share;
  QPushButton* m_remove;
};

// A progress dialog over work on another thread: closes once the model says
// the work has finished; Cancel asks the model to stop.
class ProgressWindow : public PortDialog {
  Q_OBJECT
 public:
  ProgressWindow(ProgressDialogModel& model, QWidget* parent = nullptr);
  QPushButton* cancelButton() const { return m_cancel; }
  // Closing the window cancels the work; it closes once the work has ended.
  void reject() override;

 private:
  void poll();
  ProgressDialogModel& m_model;
  QPushButton* m_cancel;
  QTimer m_timer;
};

// "Initial Setup" after installation: a place holder until the wizard is built.
class InitialSetupWindow : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Initial Setup";
  explicit InitialSetupWindow(QWidget* parent = nullptr);
};

}  // namespace vantrel::ui
