// SPDX-License-Identifier: MIT
// The log window: the lines the log has when it opens, then new lines as they
// are written on any thread, never more than the last 40.

#include "ui/log_window.h"

#include <gtest/gtest.h>

#include <thread>

#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using namespace vantrel::ui::testing;

TEST(LogWindowTest, LinesShowTheirFullDateAndCloseHidesTheWindow) {
  struct Case {
    const char* line;
    const char* shown;
  };
  const Case cases[] = {
      {"12/11/26 09:30:22  Connected to server", "2026-12-11 09:30:22  Connected to server"},
      {"01/02/99 23:59:59  x", "1999-01-02 23:59:59  x"},
      {"no stamp here", "no stamp here"},
      {"12/11/26 9:30:22  short hour", "12/11/26 9:30:22  short hour"},
  };
  for (const Case& c : cases) EXPECT_EQ(LogWindow::withFullDate(c.line), c.shown) << c.line;

  LogWindow window;
  window.addLine("12/11/26 09:30:22  Connected to server");
  EXPECT_EQ(window.lines(), QStringList{"2026-12-11 09:30:22  Connected to server"});
  window.show();
  ASSERT_NE(window.closeButton(), nullptr);
  window.closeButton()->click();
  EXPECT_FALSE(window.isVisible());
}

TEST(LogWindowTest, ShowsTheLastFortyLinesLive) {
  Log log("", 0, false);
  for (int i = 0; i < 45; ++i) log.logText("early " + std::to_string(i));
  LogWindow window;
  {
    LogFeed feed(log, window);
    ASSERT_EQ(window.lines().size(), 40);
    EXPECT_TRUE(window.lines().front().endsWith("early 5"));
    EXPECT_TRUE(window.lines().back().endsWith("early 44"));

    // Lines written on another thread arrive in order; the oldest go.
    std::thread([&] {
      for (int i = 0; i < 10; ++i) log.logText("live " + std::to_string(i));
    }).join();
    ASSERT_TRUE(waitUntil([&] { return window.lines().back().endsWith("live 9"); }));
    EXPECT_EQ(window.lines().size(), 40);
    EXPECT_TRUE(window.lines().front().endsWith("early 15"));
    window.show();
    screenshot(&window, "log-window");
  }
  // Detached: later lines no longer reach the window.
  log.logText("after");
  pumpFor(std::chrono::milliseconds(30));
  EXPECT_TRUE(window.lines().back().endsWith("live 9"));
}

}  // namespace
}  // namespace vantrel::ui
