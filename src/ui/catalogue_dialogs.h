// SPDX-License-Identifier: MIT
#pragma once
// The dialogs of the catalogue commands: the "Join - " dialog (password and
// comments), the create-group wizard (name, membership, download; its pages
// checked before it closes), and QtCommandPrompts, which asks the person with
// them and with the folder, name, share-files and progress dialogs.
// UI thread only.

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWizard>

#include <functional>

#include "app/models/catalogue_commands_model.h"

namespace vantrel::ui {

class JoinDialog : public QDialog {
  Q_OBJECT
 public:
  JoinDialog(const QString& title, QWidget* parent = nullptr);
  QLineEdit* passwordField() const { return m_password; }
  QPlainTextEdit* commentsField() const { return m_comments; }
  JoinRequest request() const;

 private:
  QLineEdit* m_password;
  QPlainTextEdit* m_comments;
};

class GroupWizard : public QWizard {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Create group";
  static constexpr const char* kMembership[3] = {"Accept All", "Apply", "Require Password"};
  static constexpr const char* kDownload[2] = {"Public Download", "Member Download"};

  explicit GroupWizard(QWidget* parent = nullptr);
  NewGroupRequest request() const;
  // Shows the pages' problem (title "Error") and stays open while there is one.
  void accept() override;

  QLineEdit* nameField() const { return m_name; }
  QLineEdit* descriptionField() const { return m_description; }
  QLineEdit* keywordsField() const { return m_keywords; }
  QCheckBox* personalBox() const { return m_personal; }
  QButtonGroup* membership() const { return m_membership; }
  QLineEdit* passwordField() const { return m_password; }
  QLineEdit* confirmationField() const { return m_confirmation; }
  QButtonGroup* download() const { return m_download; }

 private:
  QLineEdit* m_name;
  QLineEdit* m_description;
  QLineEdit* m_keywords;
  QCheckBox* m_personal;
  QButtonGroup* m_membership;
  QLineEdit* m_password;
  QLineEdit* m_confirmation;
  QButtonGroup* m_download;
};

class QtCommandPrompts : public CommandPrompts {
 public:
  explicit QtCommandPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
  void setParent(QWidget* parent) { m_parent = parent; }
  // How URLs open (the default browser unless a test says otherwise): false when none started.
  void setBrowser(std::function<bool(const std::string&)> open) { m_browser = std::move(open); }
  // Where downloads go, instead of the folder dialog (tests).
  void setFolderChooser(std::function<std::optional<std::string>()> choose) { m_chooseFolder = std::move(choose); }
  // Where "Download to" starts (the download folder setting); the home folder without it.
  void setDownloadStart(std::function<std::string()> start) { m_downloadStart = std::move(start); }
  // Told when a command changed the user's groups.
  void setGroupsChanged(std::function<void()> changed) { m_groupsChanged = std::move(changed); }

  MessageAnswer showMessage(const MessageBox& box) override;
  std::optional<std::string> chooseDownloadFolder() override;
  std::optional<std::string> askDirectoryName() override;
  std::optional<JoinRequest> askJoin(const std::string& title) override;
  std::optional<NewGroupRequest> runGroupWizard() override;
  std::optional<std::vector<std::string>> chooseFilesToShare(const std::string& groupName) override;
  void runProgress(ProgressDialogModel& model) override;
  bool openBrowser(const std::string& url) override;
  void setStatus(const std::string&) override {}
  void catalogueChanged(bool groups) override {
    if (groups && m_groupsChanged) m_groupsChanged();
  }

 private:
  QWidget* m_parent;
  std::function<bool(const std::string&)> m_browser;
  std::function<void()> m_groupsChanged;
  std::function<std::optional<std::string>()> m_chooseFolder;
  std::function<std::string()> m_downloadStart;
};

}  // namespace vantrel::ui
