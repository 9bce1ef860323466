// SPDX-License-Identifier: MIT
#pragma once
// UiDispatcher: moves calls of other threads to the UI thread. A blocking call
// waits for its answer; made on the UI thread itself it runs at once, never
// queued to itself. Once closing has begun every waiting and every later call
// gets the safe answer it was given, so no worker waits for a window that will
// never answer; a call already running on the UI thread must not touch its
// caller's data after a nested event loop once closing() is true.
//
// runOffUiThread does blocking work (joining a worker that may be waiting for
// the UI) on a thread of its own while the UI thread keeps handling events.
//
// A caller whose window runs such work when closing begins waits for that work
// to end before it gets its safe answer, since the work uses the caller's
// objects; the work itself never waits for the UI once closing has begun.
//
// Built and closed on the UI thread; call, post and closing from any thread.

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

namespace vantrel::ui {

class UiDispatcher {
 public:
  UiDispatcher();
  ~UiDispatcher();
  UiDispatcher(const UiDispatcher&) = delete;
  UiDispatcher& operator=(const UiDispatcher&) = delete;

  bool onUiThread() const;
  // The object whose thread runs the queued calls.
  QObject* context() const { return m_context.get(); }
  bool closing() const { return m_closing; }

  // Runs `work` on the UI thread and returns its result, or `safe` once closing.
  template <class R>
  R call(const std::function<R()>& work, R safe);
  // Queues `work` for the UI thread and returns; dropped once closing.
  void post(std::function<void()> work);
  // From now on every question gets its safe answer; waiting callers return.
  // On the UI thread.
  void beginClosing();

  // Runs `work` on a new thread and handles UI events until it has ended.
  // Called on the UI thread (elsewhere it simply runs `work`).
  void runOffUiThread(const std::function<void()>& work);

 private:
  struct Pending {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;       // guarded by mutex
    bool abandoned = false;  // guarded by mutex
    int blockingWork = 0;    // guarded by mutex: runOffUiThread calls made for this caller
  };
  void queue(std::function<void()> work);
  void release(const std::shared_ptr<Pending>& pending);

  std::unique_ptr<QObject> m_context;  // lives on the UI thread; queued calls run in its thread
  std::atomic<bool> m_closing{false};
  std::mutex m_mutex;
  std::set<std::shared_ptr<Pending>> m_pending;  // guarded by m_mutex
  std::shared_ptr<Pending> m_serving;  // UI thread only: the caller whose work runs now
};

template <class R>
R UiDispatcher::call(const std::function<R()>& work, R safe) {
  if (onUiThread()) return m_closing ? safe : work();
  auto pending = std::make_shared<Pending>();
  auto result = std::make_shared<std::optional<R>>();
  {
    std::scoped_lock lock(m_mutex);
    if (m_closing) return safe;
    m_pending.insert(pending);
  }
  queue([this, pending, result, work] {
    {
      std::scoped_lock lock(pending->mutex);
      if (pending->abandoned) return;
    }
    std::shared_ptr<Pending> outer = std::exchange(m_serving, pending);
    R answer = work();
    m_serving = std::move(outer);
    std::scoped_lock lock(pending->mutex);
    if (pending->abandoned) return;
    *result = std::move(answer);
    pending->done = true;
    pending->changed.notify_all();
  });
  bool done = false;
  {
    std::unique_lock lock(pending->mutex);
    pending->changed.wait(lock, [&] { return pending->done || (pending->abandoned && pending->blockingWork == 0); });
    done = pending->done;
  }
  release(pending);
  return done ? std::move(**result) : safe;
}

}  // namespace vantrel::ui
