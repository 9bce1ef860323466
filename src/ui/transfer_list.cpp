// SPDX-License-Identifier: MIT
#include "ui/transfer_list.h"

#include <QHeaderView>

#include <set>

#include "ui/sortable_item.h"

namespace vantrel::ui {
namespace {

constexpr int kKeyRole = Qt::UserRole;

using TransferItem = SortableItem;

}  // namespace

TransferList::TransferList(const QStringList& columns, const QList<int>& widths, QWidget* parent)
    : QTreeWidget(parent) {
  setColumnCount(static_cast<int>(columns.size()));
  setHeaderLabels(columns);
  for (int i = 0; i < widths.size() && i < columns.size(); ++i) header()->resizeSection(i, widths[i]);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setSortingEnabled(true);
  header()->setSortIndicator(-1, Qt::AscendingOrder);  // arrival order until the person picks a column
  header()->setSectionsClickable(true);
  header()->setStretchLastSection(true);
  m_saveTimer.setSingleShot(true);
  m_saveTimer.setInterval(500);
  connect(&m_saveTimer, &QTimer::timeout, this, [this] {
    if (m_layout == nullptr) return;
    m_layout->saveColumns(m_name, *header());
    m_layout->saveSort(m_name + " sort", *header());
  });
}

void TransferList::setRow(int32_t key, const Row& cells) {
  QTreeWidgetItem* row = item(key);
  if (row == nullptr) {
    row = new TransferItem;
    row->setData(0, kKeyRole, key);
    m_items[key] = row;
    for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
      row->setText(column, cells[column].text);
      row->setData(column, kSortRole, cells[column].sortKey);
    }
    addTopLevelItem(row);
    return;
  }
  // Only what changed, so the list neither repaints nor re-sorts for nothing.
  for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
    if (row->text(column) != cells[column].text) row->setText(column, cells[column].text);
    if (row->data(column, kSortRole) != cells[column].sortKey) row->setData(column, kSortRole, cells[column].sortKey);
  }
}

void TransferList::removeRow(int32_t key) {
  const auto it = m_items.find(key);
  if (it == m_items.end()) return;
  delete it->second;  // takes it off the list
  m_items.erase(it);
}

void TransferList::setRows(const std::vector<std::pair<int32_t, Row>>& rows) {
  std::set<int32_t> keep;
  for (const auto& [key, cells] : rows) keep.insert(key);
  std::vector<int32_t> gone;
  for (const auto& [key, row] : m_items) {
    if (keep.count(key) == 0) gone.push_back(key);
  }
  for (int32_t key : gone) removeRow(key);
  for (const auto& [key, cells] : rows) setRow(key, cells);
}

QTreeWidgetItem* TransferList::item(int32_t key) const {
  const auto it = m_items.find(key);
  return it == m_items.end() ? nullptr : it->second;
}

int32_t TransferList::keyOf(const QTreeWidgetItem* row) const { return row->data(0, kKeyRole).toInt(); }

std::vector<int32_t> TransferList::selectedKeys() const {
  std::vector<int32_t> keys;
  for (int i = 0; i < topLevelItemCount(); ++i) {
    if (topLevelItem(i)->isSelected()) keys.push_back(keyOf(topLevelItem(i)));
  }
  return keys;
}

void TransferList::rememberLayout(WindowLayout& layout, const QString& name) {
  m_layout = &layout;
  m_name = name;
  layout.restoreColumns(name, *header());
  layout.restoreSort(name + " sort", *header());
  connect(header(), &QHeaderView::sectionResized, &m_saveTimer, qOverload<>(&QTimer::start));
  connect(header(), &QHeaderView::sortIndicatorChanged, &m_saveTimer, qOverload<>(&QTimer::start));
}

}  // namespace vantrel::ui
