// SPDX-License-Identifier: MIT
// Window geometry, splitter positions and column widths survive a restart
// through the settings; stored layouts that no longer fit are ignored.

#include "ui/window_layout.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QTreeWidget>

#include "platform/registry_hive.h"
#include "tests/support/temp_folder.h"

namespace vantrel::ui {
namespace {

class WindowLayoutTest : public ::testing::Test {
 protected:
  vantrel::testing::TempFolder dir;
  RegistryHive hive{dir.path().string()};
  SettingsStore settings{hive, "VantrelLayoutTest"};
};

TEST_F(WindowLayoutTest, GeometrySplitterAndColumnsComeBackInANewRun) {
  QList<int> left;
  {
    WindowLayout layout(settings);
    QWidget window;
    window.setGeometry(40, 50, 420, 330);
    QSplitter splitter;
    splitter.addWidget(new QLabel("a"));
    splitter.addWidget(new QLabel("b"));
    splitter.resize(400, 100);
    splitter.show();
    splitter.setSizes({120, 280});
    left = splitter.sizes();
    QTreeWidget list;
    list.setColumnCount(3);
    list.header()->resizeSection(0, 150);
    list.header()->resizeSection(1, 60);
    layout.saveGeometry("main", window);
    layout.saveSplitter("main splitter", splitter);
    layout.saveColumns("incoming", *list.header());
  }
  WindowLayout layout(settings);
  QWidget window;
  ASSERT_TRUE(layout.restoreGeometry("main", window));
  EXPECT_EQ(window.size(), QSize(420, 330));
  QSplitter splitter;
  splitter.addWidget(new QLabel("a"));
  splitter.addWidget(new QLabel("b"));
  splitter.resize(400, 100);
  splitter.show();
  ASSERT_TRUE(layout.restoreSplitter("main splitter", splitter));
  EXPECT_EQ(splitter.sizes(), left);
  QTreeWidget list;
  list.setColumnCount(3);
  ASSERT_TRUE(layout.restoreColumns("incoming", *list.header()));
  EXPECT_EQ(list.header()->sectionSize(0), 150);
  EXPECT_EQ(list.header()->sectionSize(1), 60);
}

TEST_F(WindowLayoutTest, LayoutsThatDoNotFitAreIgnored) {
  WindowLayout layout(settings);
  QWidget window;
  window.resize(300, 200);
  QTreeWidget list;
  list.setColumnCount(2);
  QSplitter splitter;
  splitter.addWidget(new QLabel("a"));
  splitter.addWidget(new QLabel("b"));
  for (const char* stored : {"", "1,2,3", "10,10,abc,200,0", "10,10,3,2,0", "-5,90"}) {
    settings.SetSettingText(WindowLayout::settingName("x"), stored);
    EXPECT_FALSE(layout.restoreGeometry("x", window)) << stored;
  }
  EXPECT_EQ(window.size(), QSize(300, 200));
  // Three columns stored, two now: the list keeps its own widths.
  settings.SetSettingText(WindowLayout::settingName("x"), "100,100,100");
  EXPECT_FALSE(layout.restoreColumns("x", *list.header()));
  settings.SetSettingText(WindowLayout::settingName("x"), "-5,90");
  EXPECT_FALSE(layout.restoreSplitter("x", splitter));
  // A pane that may no longer be as wide as it was kept gets no more than it may take.
  QSplitter narrow;
  narrow.addWidget(new QLabel("bar"));
  narrow.addWidget(new QLabel("views"));
  narrow.widget(0)->setMaximumWidth(140);
  narrow.resize(900, 100);
  narrow.show();
  settings.SetSettingText(WindowLayout::settingName("y"), "274,626");
  ASSERT_TRUE(layout.restoreSplitter("y", narrow));
  EXPECT_EQ(narrow.sizes()[0], 140);
  EXPECT_EQ(narrow.widget(0)->width(), 140);
  // Nothing stored at all.
  EXPECT_FALSE(layout.restoreGeometry("never", window));
}

}  // namespace
}  // namespace vantrel::ui
