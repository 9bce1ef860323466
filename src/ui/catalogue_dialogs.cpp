// SPDX-License-Identifier: MIT
#include "ui/catalogue_dialogs.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

#include <functional>
#include <memory>

#include "ui/dialogs.h"

namespace vantrel::ui {
namespace {

std::string str(const QString& text) { return text.toStdString(); }

// A wizard page whose "Next" runs a check first; a page that fails it stays.
class CheckedPage : public QWizardPage {
 public:
  explicit CheckedPage(std::function<bool()> check) : m_check(std::move(check)) {}
  bool validatePage() override { return !m_check || m_check(); }

 private:
  std::function<bool()> m_check;
};

QWizardPage* wizardPage(const QString& title, QLayout* layout, std::function<bool()> check = {}) {
  auto* p = new CheckedPage(std::move(check));
  p->setTitle(title);
  p->setLayout(layout);
  return p;
}

}  // namespace

JoinDialog::JoinDialog(const QString& title, QWidget* parent) : QDialog(parent) {
  setWindowTitle(title);
  auto* form = new QFormLayout(this);
  m_password = new QLineEdit;
  m_password->setEchoMode(QLineEdit::Password);
  m_comments = new QPlainTextEdit;
  m_comments->setMaximumHeight(80);
  form->addRow(new QLabel("A group that asks for a password or an application reads these."));
  form->addRow("Password:", m_password);
  form->addRow("Comments:", m_comments);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText("Join");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

JoinRequest JoinDialog::request() const { return {str(m_password->text()), str(m_comments->toPlainText())}; }

GroupWizard::GroupWizard(QWidget* parent) : QWizard(parent) {
  setWindowTitle(kTitle);
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::NoBackButtonOnStartPage);

  auto* about = new QFormLayout;
  m_name = new QLineEdit;
  m_description = new QLineEdit;
  m_keywords = new QLineEdit;
  m_personal = new QCheckBox("My personal group");
  about->addRow("Group name:", m_name);
  about->addRow("Description:", m_description);
  about->addRow("Keywords:", m_keywords);
  about->addRow(m_personal);
  // The name is checked when the person leaves its page, not two pages later.
  addPage(wizardPage("Name the group", about, [this] {
    GroupWizardChoice name;
    name.name = str(m_name->text());
    const std::string problem = name.problem();
    if (problem.empty()) return true;
    std::unique_ptr<QMessageBox> box(makeMessageBox({problem, "Error", MessageIcon::Error, MessageButtons::Ok}, this));
    box->exec();
    m_name->setFocus();
    return false;
  }));

  auto* members = new QVBoxLayout;
  m_membership = new QButtonGroup(this);
  for (int i = 0; i < 3; ++i) {
    auto* choice = new QRadioButton(kMembership[i]);
    m_membership->addButton(choice, i);
    members->addWidget(choice);
  }
  m_membership->button(0)->setChecked(true);  // "Accept All" preselected
  // The lists call such a group's status "Admit All".
  auto* admitNote = new QLabel("Accept All: anyone may join at once; the group's status then reads \"Admit All\".");
  admitNote->setWordWrap(true);
  members->addWidget(admitNote);
  auto* passwords = new QFormLayout;
  m_password = new QLineEdit;
  m_password->setEchoMode(QLineEdit::Password);
  m_confirmation = new QLineEdit;
  m_confirmation->setEchoMode(QLineEdit::Password);
  passwords->addRow("Password:", m_password);
  passwords->addRow("Confirm password:", m_confirmation);
  members->addLayout(passwords);
  auto enablePasswords = [this] {
    const bool on = m_membership->checkedId() == 2;
    m_password->setEnabled(on);
    m_confirmation->setEnabled(on);
  };
  connect(m_membership, &QButtonGroup::idClicked, this, enablePasswords);
  enablePasswords();
  addPage(wizardPage("Who may join", members));

  auto* downloads = new QVBoxLayout;
  m_download = new QButtonGroup(this);
  for (int i = 0; i < 2; ++i) {
    auto* choice = new QRadioButton(kDownload[i]);
    m_download->addButton(choice, i);
    downloads->addWidget(choice);
  }
  m_download->button(0)->setChecked(true);  // "Public Download" preselected
  addPage(wizardPage("Who may download", downloads));
}

NewGroupRequest GroupWizard::request() const {
  NewGroupRequest r;
  r.choice.name = str(m_name->text());
  r.choice.membership = m_membership->checkedId() == 1   ? GroupWizardChoice::Membership::Apply
                        : m_membership->checkedId() == 2 ? GroupWizardChoice::Membership::RequirePassword
                                                         : GroupWizardChoice::Membership::AcceptAll;
  r.choice.download =
      m_download->checkedId() == 1 ? GroupWizardChoice::Download::Member : GroupWizardChoice::Download::Public;
  r.choice.password = str(m_password->text());
  r.choice.confirmation = str(m_confirmation->text());
  r.description = str(m_description->text());
  r.keywords = str(m_keywords->text());
  r.personal = m_personal->isChecked();
  return r;
}

void GroupWizard::accept() {
  const std::string problem = request().choice.problem();
  if (!problem.empty()) {
    std::unique_ptr<QMessageBox> box(makeMessageBox({problem, "Error", MessageIcon::Error, MessageButtons::Ok}, this));
    box->exec();
    return;
  }
  QWizard::accept();
}

MessageAnswer QtCommandPrompts::showMessage(const MessageBox& box) {
  std::unique_ptr<QMessageBox> dialog(makeMessageBox(box, m_parent));
  dialog->exec();
  return messageAnswer(*dialog, box);
}

std::optional<std::string> QtCommandPrompts::chooseDownloadFolder() {
  if (m_chooseFolder) return m_chooseFolder();
  QString start = m_downloadStart ? qs(m_downloadStart()) : QString();
  if (start.isEmpty() || !QDir(start).exists()) start = QDir::homePath();
  const QString folder = QFileDialog::getExistingDirectory(m_parent, "Download to", start);
  if (folder.isEmpty()) return std::nullopt;
  return str(folder);
}

std::optional<std::string> QtCommandPrompts::askDirectoryName() {
  bool ok = false;
  const QString name =
      QInputDialog::getText(m_parent, "Create directory", "Name of the new directory:", QLineEdit::Normal, {}, &ok);
  if (!ok || name.trimmed().isEmpty()) return std::nullopt;
  return str(name);
}

std::optional<JoinRequest> QtCommandPrompts::askJoin(const std::string& title) {
  JoinDialog dialog(qs(title), m_parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.request();
}

std::optional<NewGroupRequest> QtCommandPrompts::runGroupWizard() {
  GroupWizard wizard(m_parent);
  if (wizard.exec() != QDialog::Accepted) return std::nullopt;
  return wizard.request();
}

std::optional<std::vector<std::string>> QtCommandPrompts::chooseFilesToShare(const std::string& groupName) {
  SharePicker picker(qs(groupName), m_parent);
  if (picker.exec() != QDialog::Accepted) return std::nullopt;
  return picker.paths();
}

void QtCommandPrompts::runProgress(ProgressDialogModel& model) {
  ProgressWindow window(model, m_parent);
  window.exec();
}

bool QtCommandPrompts::openBrowser(const std::string& url) {
  if (m_browser) return m_browser(url);
  return QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(url)));
}

}  // namespace vantrel::ui
