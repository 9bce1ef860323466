// SPDX-License-Identifier: MIT
#pragma once
// WindowLayout: remembers where a person left a window — its geometry, the
// positions of its splitters and the widths of its list columns — between
// runs, in the client's settings under "layout <name>" (plain lists of
// numbers, so each stays well inside the store's text size). A stored layout
// that no longer fits (another number of columns, a window off every screen)
// is ignored. UI thread only; the store must outlive the object.

#include <QHeaderView>
#include <QSplitter>
#include <QString>
#include <QWidget>

#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace vantrel::ui {

class WindowLayout {
 public:
  explicit WindowLayout(SettingsStore& store) : m_store(store) {}

  void saveGeometry(const QString& name, const QWidget& window);
  // False (the window untouched) when nothing usable is stored.
  bool restoreGeometry(const QString& name, QWidget& window);
  void saveSplitter(const QString& name, const QSplitter& splitter);
  bool restoreSplitter(const QString& name, QSplitter& splitter);
  void saveColumns(const QString& name, const QHeaderView& header);
  bool restoreColumns(const QString& name, QHeaderView& header);
  // The column a list is sorted by and the direction.
  void saveSort(const QString& name, const QHeaderView& header);
  bool restoreSort(const QString& name, QHeaderView& header);

  // The setting that holds `name`'s layout.
  static std::string settingName(const QString& name);

 private:
  void store(const QString& name, const std::vector<int>& numbers);
  std::vector<int> load(const QString& name);

  SettingsStore& m_store;
};

}  // namespace vantrel::ui
