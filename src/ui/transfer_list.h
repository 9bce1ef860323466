// SPDX-License-Identifier: MIT
#pragma once
// TransferList: the list of the transfer views. Rows are keyed (a session or
// download ID) and change in place, so refreshing every second neither
// flickers nor loses the selection or the scroll position. Every column sorts,
// numbers by their value rather than their text; column widths and the sort
// order are kept in the settings through WindowLayout. UI thread only.

#include <QTimer>
#include <QTreeWidget>
#include <QVariant>

#include <cstdint>
#include <map>
#include <vector>

#include "ui/window_layout.h"

namespace vantrel::ui {

class TransferList : public QTreeWidget {
  Q_OBJECT
 public:
  struct Cell {
    QString text;
    QVariant sortKey;  // invalid: sorts by the text
  };
  using Row = std::vector<Cell>;

  TransferList(const QStringList& columns, const QList<int>& widths, QWidget* parent = nullptr);

  // Adds the row or changes it in place.
  void setRow(int32_t key, const Row& cells);
  void removeRow(int32_t key);
  // Exactly these rows: keys not named lose their rows.
  void setRows(const std::vector<std::pair<int32_t, Row>>& rows);
  QTreeWidgetItem* item(int32_t key) const;
  // Selected keys in the order the list shows them.
  std::vector<int32_t> selectedKeys() const;
  int32_t keyOf(const QTreeWidgetItem* item) const;

  // Restores the widths and sort order stored under `name`, then stores them
  // whenever they change (a moment after, so a drag writes once). `layout`
  // must outlive the list.
  void rememberLayout(WindowLayout& layout, const QString& name);

 private:
  std::map<int32_t, QTreeWidgetItem*> m_items;
  WindowLayout* m_layout = nullptr;
  QString m_name;
  QTimer m_saveTimer;
};

}  // namespace vantrel::ui
