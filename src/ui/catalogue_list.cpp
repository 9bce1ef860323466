// SPDX-License-Identifier: MIT
#include "ui/catalogue_list.h"

#include <QHeaderView>

#include "transfers/group_entry.h"
#include "ui/sortable_item.h"

namespace vantrel::ui {
namespace {

constexpr int kIndexRole = Qt::UserRole;

using EntryRow = SortableItem;

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString sizeText(int64_t bytes) {
  if (bytes < 1024) return QString("%1 bytes").arg(bytes);
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  return QString("%1 %2").arg(value, 0, 'f', 1).arg(units[unit]);
}

CatalogueList::CatalogueList(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setSortingEnabled(true);
  header()->setSortIndicator(-1, Qt::AscendingOrder);  // listing order until the person picks a column
  header()->setStretchLastSection(true);
  setHeaderLabels({kFileColumns[0], kFileColumns[1], kFileColumns[2]});
}

void CatalogueList::clearEntries() {
  clear();
  m_entries.clear();
}

void CatalogueList::showEntries(const EntryList& entries) {
  clearEntries();
  m_groups = !entries.empty() && std::all_of(entries.begin(), entries.end(), [](const auto& e) {
    return e->type == EntryType::Group || e->type == EntryType::Category;
  });
  setColumnCount(m_groups ? 4 : 3);
  if (m_groups) {
    setHeaderLabels({kGroupColumns[0], kGroupColumns[1], kGroupColumns[2], kGroupColumns[3]});
    header()->resizeSection(0, 150);
    header()->resizeSection(1, 65);
    header()->resizeSection(2, 40);
  } else {
    setHeaderLabels({kFileColumns[0], kFileColumns[1], kFileColumns[2]});
    header()->resizeSection(0, 220);
    header()->resizeSection(1, 80);
  }
  setSortingEnabled(false);  // rows go in in listing order
  for (const auto& e : entries) {
    auto* row = new EntryRow(this);
    row->setData(0, kIndexRole, static_cast<int>(m_entries.size()));
    m_entries.push_back(e);
    row->setText(0, qs(e->name));
    switch (e->type) {
      case EntryType::Category:
        row->setIcon(0, QIcon(":/icons/browse.svg"));
        break;
      case EntryType::Group: {
        const auto& g = static_cast<const GroupEntry&>(*e);
        row->setIcon(0, QIcon(":/icons/my-groups.svg"));
        row->setText(1, qs(std::string(groupStatusLabel(g))));
        row->setText(2, QString::number(g.fileCount));
        row->setData(2, kSortRole, g.fileCount);
        row->setText(3, QString::number(g.fileCountOther));
        row->setData(3, kSortRole, g.fileCountOther);
        break;
      }
      case EntryType::Directory:
        row->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
        row->setData(1, kSortRole, -1);  // folders before files by size
        break;
      case EntryType::File: {
        const auto& f = static_cast<const FileEntry&>(*e);
        row->setIcon(0, style()->standardIcon(QStyle::SP_FileIcon));
        row->setText(1, sizeText(f.size));
        row->setData(1, kSortRole, static_cast<qlonglong>(f.size));
        row->setText(2, f.online != 0 ? "Online" : "Offline");
        break;
      }
    }
  }
  setSortingEnabled(true);
}

std::shared_ptr<CatalogueEntry> CatalogueList::entryOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return nullptr;
  const int index = item->data(0, kIndexRole).toInt();
  return index >= 0 && index < static_cast<int>(m_entries.size()) ? m_entries[static_cast<std::size_t>(index)] : nullptr;
}

EntryList CatalogueList::selectedEntries() const {
  EntryList out;
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = topLevelItem(i);
    if (row->isSelected()) out.push_back(entryOf(row));
  }
  return out;
}

QTreeWidgetItem* CatalogueList::rowNamed(const QString& name) const {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    if (topLevelItem(i)->text(0) == name) return topLevelItem(i);
  }
  return nullptr;
}

}  // namespace vantrel::ui
