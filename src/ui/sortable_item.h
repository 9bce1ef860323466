// SPDX-License-Identifier: MIT
// A list row that sorts by a number where its cell carries one (sizes, counts,
// rates) and by its text otherwise.
#pragma once

#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace vantrel::ui {

// The role of a cell's numeric sort key.
inline constexpr int kSortRole = Qt::UserRole + 1;

class SortableItem : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
    const QVariant a = data(column, kSortRole);
    const QVariant b = other.data(column, kSortRole);
    if (a.isValid() && b.isValid()) return a.toLongLong() < b.toLongLong();
    return text(column).localeAwareCompare(other.text(column)) < 0;
  }
};

}  // namespace vantrel::ui
