// SPDX-License-Identifier: MIT
#pragma once
// CatalogueList: the right-hand list of the catalogue views. A listing of
// groups (and categories) shows "Name", "Status", "Files", "Members"; a
// listing of files and directories "Name", "Size", "Ping". Every column
// sorts, numbers by value. Rows keep their entries, so the views hand the
// selection to the commands as entries. UI thread only.

#include <QTreeWidget>

#include <memory>
#include <vector>

#include "protocol/catalogue_listing.h"

namespace vantrel::ui {

class CatalogueList : public QTreeWidget {
  Q_OBJECT
 public:
  static constexpr const char* kGroupColumns[4] = {"Name", "Status", "Files", "Members"};
  static constexpr const char* kFileColumns[3] = {"Name", "Size", "Ping"};

  explicit CatalogueList(QWidget* parent = nullptr);

  // Shows the entries, with the columns their kind asks for.
  void showEntries(const EntryList& entries);
  void clearEntries();
  bool showsGroups() const { return m_groups; }
  // The entries picked, in the order the list shows them.
  EntryList selectedEntries() const;
  std::shared_ptr<CatalogueEntry> entryOf(const QTreeWidgetItem* item) const;
  // The row of the entry with this name, or null.
  QTreeWidgetItem* rowNamed(const QString& name) const;

 private:
  std::vector<std::shared_ptr<CatalogueEntry>> m_entries;  // by the row's index role
  bool m_groups = false;
};

// A size as the lists show it ("512 bytes", "1.5 KB", "3.2 MB", "1.1 GB").
QString sizeText(int64_t bytes);

}  // namespace vantrel::ui
