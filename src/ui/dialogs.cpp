// SPDX-License-Identifier: MIT
#include "ui/dialogs.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ui_dispatcher.h"

namespace vantrel::ui {

void PortDialog::runBlocking(const std::function<void()>& work) {
  if (m_dispatcher != nullptr) {
    m_dispatcher->runOffUiThread(work);
  } else {
    work();
  }
}

QMessageBox* makeMessageBox(const MessageBox& box, QWidget* parent) {
  auto* dialog = new QMessageBox(parent);
  dialog->setWindowTitle(qs(box.title));
  dialog->setText(qs(box.text));
  switch (box.icon) {
    case MessageIcon::None:
      dialog->setIcon(QMessageBox::NoIcon);
      break;
    case MessageIcon::Information:
      dialog->setIcon(QMessageBox::Information);
      break;
    case MessageIcon::Warning:
      dialog->setIcon(QMessageBox::Warning);
      break;
    case MessageIcon::Error:
      dialog->setIcon(QMessageBox::Critical);
      break;
    case MessageIcon::Question:
      dialog->setIcon(QMessageBox::Question);
      break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QMessageBox::StandardButton escape = QMessageBox::Ok;
  switch (box.buttons) {
    case MessageButtons::Ok:
      break;
    case MessageButtons::OkCancel:
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      escape = QMessageBox::Cancel;
      break;
    case MessageButtons::YesNo:
      buttons = QMessageBox::Yes | QMessageBox::No;
      escape = QMessageBox::No;
      break;
    case MessageButtons::YesNoCancel:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      escape = QMessageBox::Cancel;
      break;
    case MessageButtons::RetryCancel:
      buttons = QMessageBox::Retry | QMessageBox::Cancel;
      escape = QMessageBox::Cancel;
      break;
  }
  dialog->setStandardButtons(buttons);
  dialog->setEscapeButton(escape);
  if (box.foreground) dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
  return dialog;
}

MessageAnswer messageAnswer(const QMessageBox& box, const MessageBox& shown) {
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
      return MessageAnswer::Ok;
    case QMessageBox::Cancel:
      return MessageAnswer::Cancel;
    case QMessageBox::Yes:
      return MessageAnswer::Yes;
    case QMessageBox::No:
      return MessageAnswer::No;
    case QMessageBox::Retry:
      return MessageAnswer::Retry;
    default:
      return safeAnswer(shown.buttons);
  }
}

ChoiceBox::ChoiceBox(const QString& title, const QString& text, const QString& detail, const QString& first,
                     const QString& second, QWidget* parent)
    : QMessageBox(parent) {
  setWindowTitle(title);
  setIcon(QMessageBox::Warning);
  setText(text);
  setInformativeText(detail);
  QPushButton* firstButton = addButton(first, QMessageBox::RejectRole);
  m_second = addButton(second, QMessageBox::AcceptRole);
  setDefaultButton(firstButton);
  setEscapeButton(firstButton);
}

int ChoiceBox::answer() const { return clickedButton() == m_second ? 1 : 0; }

SharePicker::SharePicker(const QString& groupName, QWidget* parent) : QDialog(parent) {
  setWindowTitle(kTitle);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Choose the files and folders to share in the group '%1'.").arg(groupName)));
  m_list = new QListWidget;
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  layout->addWidget(m_list);
  auto* row = new QHBoxLayout;
  auto* addFiles = new QPushButton(tr("Add Files..."));
  auto* addFolder = new QPushButton(tr("Add Folder..."));
  m_remove = new QPushButton(tr("Remove"));
  row->addWidget(addFiles);
  row->addWidget(addFolder);
  row->addWidget(m_remove);
  row->addStretch();
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox;
  m_share = buttons->addButton(tr("Share"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(addFiles, &QPushButton::clicked, this, [this] {
    const QStringList files = QFileDialog::getOpenFileNames(this, tr("Files to share"), startFolder());
    if (!files.isEmpty()) rememberPick(files.front());
    addPaths(files);
  });
  connect(addFolder, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Folder to share"), startFolder());
    if (folder.isEmpty()) return;
    rememberPick(folder);
    addPaths({folder});
  });
  connect(m_remove, &QPushButton::clicked, this, [this] {
    qDeleteAll(m_list->selectedItems());
    updateButtons();
  });
  connect(m_list, &QListWidget::itemSelectionChanged, this, [this] { updateButtons(); });
  resize(480, 320);
  updateButtons();
}

namespace {
QString& lastPickFolder() {
  static QString folder;  // UI thread only
  return folder;
}
}  // namespace

QString SharePicker::startFolder() {
  const QString& last = lastPickFolder();
  return !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
}

void SharePicker::rememberPick(const QString& path) {
  const QString parent = QFileInfo(QDir::cleanPath(path)).absolutePath();
  if (!parent.isEmpty()) lastPickFolder() = parent;
}

void SharePicker::addPaths(const QStringList& paths) {
  for (const QString& path : paths) {
    if (!path.isEmpty() && m_list->findItems(path, Qt::MatchExactly).isEmpty()) m_list->addItem(path);
  }
  updateButtons();
}

std::vector<std::string> SharePicker::paths() const {
  std::vector<std::string> out;
  for (int i = 0; i < m_list->count(); ++i) out.push_back(ss(m_list->item(i)->text()));
  return out;
}

void SharePicker::updateButtons() {
  m_share->setEnabled(m_list->count() > 0);
  m_remove->setEnabled(!m_list->selectedItems().isEmpty());
}

ProgressWindow::ProgressWindow(ProgressDialogModel& model, QWidget* parent) : PortDialog(parent), m_model(model) {
  setWindowTitle(tr("Sharing Files"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(qs(model.text()));
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* bar = new QProgressBar;
  bar->setRange(0, 0);  // busy: the run reports no fraction
  layout->addWidget(bar);
  auto* buttons = new QDialogButtonBox;
  m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  connect(m_cancel, &QPushButton::clicked, this, &ProgressWindow::reject);
  connect(&m_timer, &QTimer::timeout, this, &ProgressWindow::poll);
  m_timer.start(100);
  resize(420, 120);
}

void ProgressWindow::reject() {
  if (detached()) {
    QDialog::reject();
    return;
  }
  m_model.cancel();
  m_cancel->setEnabled(false);
}

void ProgressWindow::poll() {
  if (detached()) return;
  if (m_model.finished()) {
    m_timer.stop();
    accept();
  }
}

InitialSetupWindow::InitialSetupWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kTitle);
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(tr("Welcome to the Vantrel File Manager. It now starts with your desktop and waits in the "
                             "tray; the settings can be changed at any time under Settings, View Settings."));
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(tr("Finish"), QDialogButtonBox::AcceptRole);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  resize(420, 140);
}

}  // namespace vantrel::ui
