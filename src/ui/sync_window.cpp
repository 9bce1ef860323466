// SPDX-License-Identifier: MIT
#include "ui/sync_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "catalogue/sync/sync_dialog.h"

namespace vantrel::ui {

SyncWindow::SyncWindow(SyncDialogModel& model, QWidget* parent, UiDispatcher* dispatcher)
    : PortDialog(parent, dispatcher), m_model(model) {
  setWindowTitle(SyncDialog::kTitle);
  auto* layout = new QVBoxLayout(this);
  for (const char* text : SyncDialog::kTexts) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    layout->addWidget(label);
  }
  m_list = new QTreeWidget;
  m_list->setRootIsDecorated(false);
  m_list->setHeaderLabels({"File Name", "Local Location", "Group", "Group Dir"});
  const int widths[] = {100, 100, 200, 100};
  for (int i = 0; i < 4; ++i) m_list->setColumnWidth(i, widths[i]);
  for (const SyncDialogModel::Row& row : model.rows()) {
    auto* item = new QTreeWidgetItem(m_list, {qs(row.fileName), qs(row.localPath), qs(row.groupName),
                                              qs(row.groupDirPath)});
    item->setCheckState(0, Qt::Unchecked);
  }
  layout->addWidget(m_list);
  m_progress = new QProgressBar;
  m_progress->setRange(0, model.progressEnd());
  m_progress->setValue(0);
  layout->addWidget(m_progress);
  m_status = new QLabel;
  layout->addWidget(m_status);
  auto* buttons = new QHBoxLayout;
  m_reshare = new QPushButton(kReshare);
  m_selectAll = new QPushButton("Select All");
  m_removeAll = new QPushButton("Remove All");
  buttons->addWidget(m_reshare);
  buttons->addWidget(m_selectAll);
  buttons->addStretch();
  buttons->addWidget(m_removeAll);
  layout->addLayout(buttons);

  connect(m_reshare, &QPushButton::clicked, this, &SyncWindow::pressReshare);
  connect(m_selectAll, &QPushButton::clicked, this, [this] {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) m_list->topLevelItem(i)->setCheckState(0, Qt::Checked);
  });
  connect(m_removeAll, &QPushButton::clicked, this, [this] {
    if (detached() || m_running) return;
    runBlocking([this] { m_model.removeAll(); });
    tick();
  });
  connect(&m_timer, &QTimer::timeout, this, &SyncWindow::tick);
  m_timer.start(100);
  resize(560, 400);
}

void SyncWindow::setRunning(bool running) {
  m_running = running;
  m_reshare->setText(running ? kStop : kReshare);
  m_removeAll->setEnabled(!running);
  m_selectAll->setEnabled(!running);
  m_timer.start(running ? 500 : 100);
}

void SyncWindow::pressReshare() {
  if (detached()) return;
  if (m_running) {
    stopRunning();
    return;
  }
  std::vector<bool> ticked;
  for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
    ticked.push_back(m_list->topLevelItem(i)->checkState(0) == Qt::Checked);
  }
  m_progress->setValue(0);
  m_model.reshare(std::move(ticked));
  setRunning(true);
}

void SyncWindow::stopRunning() {
  runBlocking([this] { m_model.stop(); });
  if (!detached()) setRunning(false);
}

void SyncWindow::tick() {
  if (detached()) return;
  if (m_running) {
    const int stepped = std::min(m_progress->value() + 1, m_progress->maximum());
    m_progress->setValue(std::max(stepped, m_model.progress()));
    if (!m_model.running()) {
      setRunning(false);
      m_progress->setValue(std::max(m_progress->value(), m_model.progress()));
    }
  }
  m_status->setText(qs(m_model.status()));
  if (m_model.closeRequested()) {
    m_timer.stop();
    accept();
  }
}

void SyncWindow::reject() {
  if (!detached() && m_running) stopRunning();
  QDialog::reject();
}

}  // namespace vantrel::ui
