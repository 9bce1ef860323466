// SPDX-License-Identifier: MIT
#include "ui/downloads_view.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPointer>
#include <QStatusBar>

namespace vantrel::ui {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

DownloadsView::DownloadsView(DownloadsSource& source, QWidget* parent)
    : ItemView("Incoming", parent), m_source(source) {
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  delete layout->takeAt(layout->count() - 1);  // the placeholder stretch
  m_body = layout;

  auto* top = new QHBoxLayout;
  m_toggle = new QPushButton(qs(toggleText(DownloadState::Queued)));
  m_summary = new QLabel;
  top->addWidget(m_toggle);
  top->addWidget(m_summary, 1);
  layout->addLayout(top);

  m_list = new TransferList({DownloadRow::kColumns[0], DownloadRow::kColumns[1], DownloadRow::kColumns[2],
                             DownloadRow::kColumns[3]},
                            {200, 130, 70, 200});
  layout->addWidget(m_list, 1);

  m_menu = new QMenu(kMenuTitle, this);
  m_menuToggle = m_menu->addAction("Start Transfer");
  connect(m_menuToggle, &QAction::triggered, this, &DownloadsView::toggleSelected);
  connect(m_menu->addAction(kRemove), &QAction::triggered, this, &DownloadsView::removeSelected);
  connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (!m_list->selectedKeys().empty()) contextMenu()->popup(m_list->viewport()->mapToGlobal(at));
  });
  connect(m_toggle, &QPushButton::clicked, this, &DownloadsView::toggleSelected);
  connect(m_list, &QTreeWidget::itemSelectionChanged, this, &DownloadsView::updateControls);

  // Events come on the manager's threads; each is handed to this thread, where
  // a view that is gone by then ignores it.
  QPointer<DownloadsView> self(this);
  m_listener = m_source.listen([self](int32_t id, int, const std::string&) {
    QMetaObject::invokeMethod(
        qApp,
        [self, id] {
          if (self) self->update(id);
        },
        Qt::QueuedConnection);
  });
  refresh();
}

DownloadsView::~DownloadsView() { m_source.unlisten(m_listener); }

void DownloadsView::addAboveList(QWidget* widget) { m_body->insertWidget(m_body->indexOf(m_list), widget); }

void DownloadsView::refresh() {
  ItemView::refresh();
  std::vector<std::pair<int32_t, TransferList::Row>> rows;
  const std::vector<DownloadInfo> all = m_source.downloads();
  std::map<int32_t, DownloadState> states;
  for (const DownloadInfo& info : all) states[info.id] = info.state;
  // Rows that went while nobody listened go here too.
  for (int i = m_list->topLevelItemCount() - 1; i >= 0; --i) {
    const int32_t key = m_list->keyOf(m_list->topLevelItem(i));
    if (states.count(key) == 0) {
      m_list->removeRow(key);
      m_states.erase(key);
    }
  }
  for (const DownloadInfo& info : all) showRow(info);
  updateControls();
}

void DownloadsView::update(int32_t id) {
  const std::optional<DownloadInfo> info = m_source.find(id);
  if (!info) {
    m_list->removeRow(id);
    m_states.erase(id);
  } else {
    showRow(*info);
  }
  updateControls();
}

void DownloadsView::showRow(const DownloadInfo& info) {
  const DownloadRow row = downloadRow(info, m_source.runningCount(), m_source.limit());
  m_list->setRow(row.id, {{qs(row.name), {}},
                          {qs(row.progress), static_cast<qlonglong>(row.bytesPresent)},
                          {qs(row.speed), row.rate},
                          {qs(row.status), {}}});
  const auto seen = m_states.find(info.id);
  if (seen != m_states.end() && m_notify) {
    if (const auto notice = noticeFor(seen->second, info)) m_notify(*notice);
  }
  m_states[info.id] = info.state;
}

std::optional<DownloadState> DownloadsView::firstSelectedState() const {
  const std::vector<int32_t> keys = m_list->selectedKeys();
  if (keys.empty()) return std::nullopt;
  const auto it = m_states.find(keys.front());
  if (it == m_states.end()) return std::nullopt;
  return it->second;
}

void DownloadsView::updateControls() {
  const auto state = firstSelectedState();
  m_toggle->setEnabled(state.has_value());
  m_toggle->setText(qs(toggleText(state.value_or(DownloadState::Queued))));
  m_summary->setText(QString("%1 of %2 downloads running").arg(m_source.runningCount()).arg(m_source.limit()));
}

QMenu* DownloadsView::contextMenu() {
  m_menuToggle->setText(qs(menuToggleText(firstSelectedState().value_or(DownloadState::Queued))));
  return m_menu;
}

void DownloadsView::toggleSelected() {
  const auto state = firstSelectedState();
  if (!state) return;
  const bool stopping = *state == DownloadState::Downloading;
  for (int32_t id : m_list->selectedKeys()) {
    if (stopping) {
      m_source.stop(id);
    } else {
      m_source.start(id);
    }
  }
  refresh();
}

void DownloadsView::removeSelected() {
  for (int32_t id : m_list->selectedKeys()) m_source.remove(id);
  refresh();
}

void announceDownload(MainWindow& window, const DownloadNotice& notice) {
  const QString title = qs(notice.title);
  const QString text = qs(notice.text);
  if (!window.tray().showMessage(title, text, notice.failed)) window.statusBar()->showMessage(title + ": " + text, 10000);
}

}  // namespace vantrel::ui
