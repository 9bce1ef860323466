// SPDX-License-Identifier: MIT
#include "ui/missing_files_window.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QVBoxLayout>

#include <atomic>
#include <thread>

#include "catalogue/sync/missing_files.h"
#include "ui/ui_dispatcher.h"

namespace vantrel::ui {
namespace {

// "Search Drives": the folders to search, "/" offered first.
QStringList chooseFolders(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle(MissingFilesWindow::kDrivesTitle);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QObject::tr("Select drives to search")));
  QList<QCheckBox*> boxes;
  for (const QString& root : {QStringLiteral("/"), QDir::homePath()}) {
    auto* box = new QCheckBox(root);
    box->setChecked(root == "/");
    boxes.append(box);
    layout->addWidget(box);
  }
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QObject::tr("Search"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return {};
  QStringList chosen;
  for (QCheckBox* box : boxes) {
    if (box->isChecked()) chosen.append(box->text());
  }
  return chosen;
}

}  // namespace

MissingFilesWindow::Choosers MissingFilesWindow::defaultChoosers() {
  // The dialog opens in the home folder, not wherever the program was started.
  return {[](QWidget* parent) {
            return QFileDialog::getOpenFileName(parent, QObject::tr("Find the moved file"), QDir::homePath());
          },
          chooseFolders};
}

MissingFilesWindow::MissingFilesWindow(MissingFilesDialogModel& model, QWidget* parent, UiDispatcher* dispatcher,
                                       Choosers choosers)
    : PortDialog(parent, dispatcher), m_model(model), m_choosers(std::move(choosers)) {
  setWindowTitle(MissingFiles::kTitle);
  auto* layout = new QVBoxLayout(this);
  for (const char* text : {"You have deleted or moved files that you are sharing.",
                           "If the files have been moved to another location you can auto-find or browse to find the "
                           "new location",
                           "If the files have been deleted then click 'OK' to continue"}) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    layout->addWidget(label);
  }
  m_list = new QTreeWidget;
  m_list->setRootIsDecorated(false);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setHeaderLabels({"Missing File", "Size", "Replace With", "Size"});
  const int widths[] = {100, 100, 200, 100};
  for (int i = 0; i < 4; ++i) m_list->setColumnWidth(i, widths[i]);
  layout->addWidget(m_list);
  auto* buttons = new QHBoxLayout;
  m_autoFind = new QPushButton(kAutoFind);
  m_browse = new QPushButton(kBrowse);
  m_stopSharing = new QPushButton(kStopSharing);
  m_ok = new QPushButton("OK");
  buttons->addWidget(m_autoFind);
  buttons->addWidget(m_browse);
  buttons->addWidget(m_stopSharing);
  buttons->addStretch();
  buttons->addWidget(m_ok);
  layout->addLayout(buttons);
  connect(m_autoFind, &QPushButton::clicked, this, &MissingFilesWindow::autoFind);
  connect(m_browse, &QPushButton::clicked, this, &MissingFilesWindow::browse);
  connect(m_stopSharing, &QPushButton::clicked, this, &MissingFilesWindow::stopSharing);
  connect(m_ok, &QPushButton::clicked, this, &MissingFilesWindow::confirmAndApply);
  refresh();
  resize(600, 380);
}

void MissingFilesWindow::refresh() {
  const std::vector<std::string> selected = selectedNames();
  m_list->clear();
  for (const MissingFilesDialogModel::Row& row : m_model.rows()) {
    auto* item = new QTreeWidgetItem(m_list, {qs(row.name), QString::number(row.recordedSize), qs(row.replacement),
                                              QString::number(row.replacementSize)});
    if (std::find(selected.begin(), selected.end(), row.name) != selected.end()) item->setSelected(true);
  }
}

std::vector<std::string> MissingFilesWindow::selectedNames() const {
  std::vector<std::string> names;
  for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
    if (m_list->topLevelItem(i)->isSelected()) names.push_back(ss(m_list->topLevelItem(i)->text(0)));
  }
  return names;
}

void MissingFilesWindow::warn(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, "Warning", qs(text), QMessageBox::Ok, this);
  box.exec();
}

void MissingFilesWindow::browse() {
  if (detached()) return;
  const std::vector<std::string> names = selectedNames();
  if (const std::string problem = m_model.browseProblem(names.size()); !problem.empty()) {
    warn(problem);
    return;
  }
  const QString path = m_choosers.file(this);
  if (detached() || path.isEmpty()) return;
  m_model.replaceWith(names.front(), ss(path));
  refresh();
}

void MissingFilesWindow::stopSharing() {
  if (detached()) return;
  if (const std::string problem = m_model.stopSharing(selectedNames()); !problem.empty()) {
    warn(problem);
    return;
  }
  refresh();
}

void MissingFilesWindow::autoFind() {
  if (detached()) return;
  const QStringList folders = m_choosers.folders(this);
  if (detached() || folders.isEmpty()) return;
  std::vector<std::string> roots;
  for (const QString& folder : folders) roots.push_back(ss(folder));

  QDialog searching(this);
  searching.setWindowTitle(kSearchingTitle);
  auto* layout = new QVBoxLayout(&searching);
  auto* text = new QLabel(tr("This will search for files on your computer that match the name and size of the files "
                             "that you removed or deleted."));
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* lines = new QListWidget;
  layout->addWidget(lines);
  auto* stop = new QPushButton(kStopSearching);
  layout->addWidget(stop);
  searching.resize(560, 300);
  connect(stop, &QPushButton::clicked, &searching, [this, stop] {
    stop->setEnabled(false);
    m_model.stopSearching();
  });

  // The search reports from its worker; lines reach the list through the
  // event queue while the list lives.
  QPointer<QListWidget> target(lines);
  QPointer<QDialog> window(&searching);
  std::atomic<bool> ended{false};
  std::thread worker([&, target, window] {
    m_model.autoFind(roots, [target](const std::string& line) {
      QMetaObject::invokeMethod(
          target.data(), [target, text = qs(line)] {
            if (target) target->addItem(text);
          },
          Qt::QueuedConnection);
    });
    ended = true;
    QMetaObject::invokeMethod(
        window.data(), [window] {
          if (window) window->accept();
        },
        Qt::QueuedConnection);
  });
  searching.exec();
  if (!ended) m_model.stopSearching();  // closed by hand or by closing the client
  worker.join();
  if (!detached()) refresh();
}

void MissingFilesWindow::confirmAndApply() {
  if (detached()) return;
  const std::vector<std::string> names = m_model.stopSharingNames();
  if (!names.empty()) {
    QMessageBox confirm(QMessageBox::Warning, "Warning", kConfirmText, QMessageBox::NoButton, this);
    QString list;
    for (const std::string& name : names) list += qs(name) + "\n";
    confirm.setInformativeText(list);
    QPushButton* sure = confirm.addButton(kSure, QMessageBox::AcceptRole);
    QPushButton* back = confirm.addButton(kGoBack, QMessageBox::RejectRole);
    confirm.setEscapeButton(back);
    confirm.exec();
    if (detached() || confirm.clickedButton() != sure) return;
  }
  runBlocking([this] { m_model.apply(); });
  accept();
}

}  // namespace vantrel::ui
