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
