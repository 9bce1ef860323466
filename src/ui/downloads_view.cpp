// SPDX-License-Identifier: MIT
#include "ui/downloads_view.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QUrl>
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

  QStringList columns;
  for (const char* column : DownloadRow::kColumns) columns << column;
  // Together narrower than the view in the first window, so that "Saved to"
  // (which takes what is left) shows without scrolling.
  m_list = new TransferList(columns, {170, 100, 55, 240, 45, 60, 150});
  layout->addWidget(m_list, 1);

  m_open = [](const std::string& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(qs(path))); };
  m_confirm = [this](const QString& text) {
    return QMessageBox::question(this, "Remove", text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
  };
  m_menu = new QMenu(kMenuTitle, this);
  m_menuToggle = m_menu->addAction("Start Transfer");
  connect(m_menuToggle, &QAction::triggered, this, &DownloadsView::toggleSelected);
  m_menuOpen = m_menu->addAction(kOpen);
  connect(m_menuOpen, &QAction::triggered, this, &DownloadsView::openSelected);
  connect(m_menu->addAction(kOpenFolder), &QAction::triggered, this, &DownloadsView::openSelectedFolder);
  connect(m_menu->addAction(kCopyLink), &QAction::triggered, this, &DownloadsView::copySelectedLink);
  m_menu->addSeparator();
  connect(m_menu->addAction(kRemove), &QAction::triggered, this, &DownloadsView::removeSelected);
  connect(m_menu->addAction(kRemoveAndDelete), &QAction::triggered, this, &DownloadsView::removeSelectedAndDelete);
  connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (!m_list->selectedKeys().empty()) contextMenu()->popup(m_list->viewport()->mapToGlobal(at));
  });
  connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    const auto info = m_source.find(m_list->keyOf(item));
    if (info && info->state == DownloadState::Completed) m_open(info->localPath);
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
                          {qs(row.status), {}},
                          {qs(row.done), row.percent},
                          {qs(row.timeLeft), static_cast<qlonglong>(row.secondsLeft)},
                          {qs(row.savedTo), {}}});
  if (QTreeWidgetItem* item = m_list->item(row.id)) {
    item->setToolTip(DownloadRow::kStatusColumn, qs(row.statusTip));
    item->setToolTip(0, qs(info.localPath));
  }
  const auto seen = m_states.find(info.id);
  if (seen != m_states.end() && m_notify) {
    if (const auto notice = noticeFor(seen->second, info)) {
      // A download that fails again and again while it waits for its sharer
      // is announced once, not at every try.
      const bool retrying = notice->failed && info.retryInSeconds >= 0;
      if (!retrying || m_announcedRetry.insert(info.id).second) m_notify(*notice);
    }
  }
  if (info.state == DownloadState::Completed || info.state == DownloadState::Stopped) m_announcedRetry.erase(info.id);
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
  const auto state = firstSelectedState();
  m_menuToggle->setText(qs(menuToggleText(state.value_or(DownloadState::Queued))));
  m_menuOpen->setEnabled(state == DownloadState::Completed);
  return m_menu;
}

QAction* DownloadsView::menuAction(const QString& text) const {
  for (QAction* action : m_menu->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

std::optional<DownloadInfo> DownloadsView::firstSelected() const {
  const std::vector<int32_t> keys = m_list->selectedKeys();
  if (keys.empty()) return std::nullopt;
  return m_source.find(keys.front());
}

void DownloadsView::openSelected() {
  if (const auto info = firstSelected(); info && info->state == DownloadState::Completed) m_open(info->localPath);
}

void DownloadsView::openSelectedFolder() {
  if (const auto info = firstSelected()) m_open(savedToText(*info));
}

void DownloadsView::copySelectedLink() {
  if (const auto info = firstSelected()) QGuiApplication::clipboard()->setText(qs(info->url));
}

void DownloadsView::removeSelectedAndDelete() {
  if (m_list->selectedKeys().empty() || !m_confirm(kDeleteQuestion)) return;
  for (int32_t id : m_list->selectedKeys()) m_source.remove(id, true);
  refresh();
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
