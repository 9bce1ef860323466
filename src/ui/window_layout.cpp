// SPDX-License-Identifier: MIT
#include "ui/window_layout.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

namespace vantrel::ui {

namespace {
constexpr int kMinimumSize = 50;  // smaller than this was never a real window or pane
}

std::string WindowLayout::settingName(const QString& name) { return "layout " + name.toStdString(); }

void WindowLayout::store(const QString& name, const std::vector<int>& numbers) {
  QStringList parts;
  for (int n : numbers) parts << QString::number(n);
  m_store.SetSettingText(settingName(name), parts.join(',').toStdString());
}

std::vector<int> WindowLayout::load(const QString& name) {
  const QString text = QString::fromStdString(m_store.GetSettingText(settingName(name)));
  std::vector<int> numbers;
  if (text.isEmpty()) return numbers;
  for (const QString& part : text.split(',')) {
    bool ok = false;
    const int n = part.toInt(&ok);
    if (!ok) return {};
    numbers.push_back(n);
  }
  return numbers;
}

void WindowLayout::saveGeometry(const QString& name, const QWidget& window) {
  // The normal geometry, so a maximised window comes back maximised over its normal place.
  const QRect normal = window.normalGeometry().isValid() ? window.normalGeometry() : window.geometry();
  store(name, {normal.x(), normal.y(), normal.width(), normal.height(), window.isMaximized() ? 1 : 0});
}

bool WindowLayout::restoreGeometry(const QString& name, QWidget& window) {
  const std::vector<int> n = load(name);
  if (n.size() != 5 || n[2] < kMinimumSize || n[3] < kMinimumSize) return false;
  const QRect rect(n[0], n[1], n[2], n[3]);
  // A window left on a screen that is gone keeps its default place.
  bool onScreen = QGuiApplication::screens().isEmpty();
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen->availableGeometry().intersects(rect)) onScreen = true;
  }
  if (onScreen) {
    // The place was kept without the frame (normalGeometry), so it comes
    // back without it: moving the frame there would put the window lower by
    // its title bar at every start.
    window.setGeometry(rect);
  } else {
    window.resize(rect.size());
  }
  if (n[4] == 1) window.setWindowState(window.windowState() | Qt::WindowMaximized);
  return true;
}

void WindowLayout::saveSplitter(const QString& name, const QSplitter& splitter) {
  const QList<int> sizes = splitter.sizes();
  store(name, std::vector<int>(sizes.begin(), sizes.end()));
}

bool WindowLayout::restoreSplitter(const QString& name, QSplitter& splitter) {
  const std::vector<int> n = load(name);
  if (n.empty() || static_cast<int>(n.size()) != splitter.count()) return false;
  QList<int> sizes;
  for (int i = 0; i < splitter.count(); ++i) {
    if (n[i] < 0) return false;
    // A pane narrower now than when the sizes were kept would leave an empty band.
    const QWidget* pane = splitter.widget(i);
    const int most = splitter.orientation() == Qt::Horizontal ? pane->maximumWidth() : pane->maximumHeight();
    sizes.push_back(std::min(n[i], most));
  }
  splitter.setSizes(sizes);
  return true;
}

void WindowLayout::saveColumns(const QString& name, const QHeaderView& header) {
  std::vector<int> widths;
  for (int column = 0; column < header.count(); ++column) widths.push_back(header.sectionSize(column));
  store(name, widths);
}

bool WindowLayout::restoreColumns(const QString& name, QHeaderView& header) {
  const std::vector<int> n = load(name);
  if (n.empty() || static_cast<int>(n.size()) != header.count()) return false;
  for (int column = 0; column < header.count(); ++column) {
    if (n[column] > 0) header.resizeSection(column, n[column]);
  }
  return true;
}

void WindowLayout::saveSort(const QString& name, const QHeaderView& header) {
  store(name, {header.sortIndicatorSection(), header.sortIndicatorOrder() == Qt::DescendingOrder ? 1 : 0});
}

bool WindowLayout::restoreSort(const QString& name, QHeaderView& header) {
  const std::vector<int> n = load(name);
  if (n.size() != 2 || n[0] < 0 || n[0] >= header.count() || (n[1] != 0 && n[1] != 1)) return false;
  header.setSortIndicator(n[0], n[1] == 1 ? Qt::DescendingOrder : Qt::AscendingOrder);
  return true;
}

}  // namespace vantrel::ui
