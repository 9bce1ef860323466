// SPDX-License-Identifier: MIT
#pragma once
// What the window tests share: bounded waits that keep handling events,
// finding a window by its title and a button by its text, answering a window
// as soon as it shows (also inside its own modal loop), and screenshots of
// every window under the build folder. Tests only; UI thread.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "tests/support/wait_for.h"

namespace vantrel::ui::testing {

// The bounded wait of every test, handling the UI thread's events while it waits.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  return vantrel::testing::waitFor(
      [&] {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
      },
      limit);
}

// Handles events for a while (timers that the test waits out).
inline void pumpFor(std::chrono::milliseconds time) {
  waitUntil([] { return false; }, time);
}

inline QWidget* shownWindow(const QString& title) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->windowTitle() == title) return widget;
  }
  return nullptr;
}

inline QAbstractButton* button(QWidget* window, const QString& text) {
  if (window == nullptr) return nullptr;
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
    if (b->text() == text || b->text().remove('&') == QString(text).remove('&')) return b;
  }
  return nullptr;
}

inline void screenshot(QWidget* window, const QString& name) {
  QDir().mkpath(VANTREL_SCREENSHOT_DIR);
  window->grab().save(QString(VANTREL_SCREENSHOT_DIR) + "/" + name + ".png");
}

// Runs `act` once, as soon as a window with `title` shows; keeps looking
// (also inside nested modal loops) while the returned object lives.
class WhenShown {
 public:
  WhenShown(const QString& title, std::function<void(QWidget*)> act) : m_timer(std::make_unique<QTimer>()) {
    QObject::connect(m_timer.get(), &QTimer::timeout, [this, title, act = std::move(act)] {
      if (QWidget* window = shownWindow(title)) {
        m_timer->stop();
        m_done = true;
        act(window);
      }
    });
    m_timer->start(5);
  }
  bool done() const { return m_done; }

 private:
  std::unique_ptr<QTimer> m_timer;
  bool m_done = false;
};

// Clicks the button with `text` once the window with `title` shows (and
// takes its screenshot first when `shot` names one).
inline std::unique_ptr<WhenShown> clickWhenShown(const QString& title, const QString& text, const QString& shot = {}) {
  return std::make_unique<WhenShown>(title, [text, shot](QWidget* window) {
    if (!shot.isEmpty()) screenshot(window, shot);
    if (QAbstractButton* b = button(window, text)) b->click();
  });
}

// After QCoreApplication::exit (which "Exit" calls) every later modal loop
// would end at once; one turn of the application's own loop clears that.
inline void clearQuit() {
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

}  // namespace vantrel::ui::testing
