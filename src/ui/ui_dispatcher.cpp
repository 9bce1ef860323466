// SPDX-License-Identifier: MIT
#include "ui/ui_dispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <thread>

namespace vantrel::ui {

UiDispatcher::UiDispatcher() : m_context(std::make_unique<QObject>()) {}

UiDispatcher::~UiDispatcher() {
  // Nobody may wait for a queued call that can no longer run.
  m_closing = true;
  std::set<std::shared_ptr<Pending>> pending;
  {
    std::scoped_lock lock(m_mutex);
    pending.swap(m_pending);
  }
  for (const auto& p : pending) {
    std::scoped_lock lock(p->mutex);
    p->abandoned = true;
    p->changed.notify_all();
  }
}

bool UiDispatcher::onUiThread() const { return QThread::currentThread() == m_context->thread(); }

void UiDispatcher::queue(std::function<void()> work) {
  QMetaObject::invokeMethod(m_context.get(), std::move(work), Qt::QueuedConnection);
}

void UiDispatcher::post(std::function<void()> work) {
  if (m_closing) return;
  queue([this, work = std::move(work)] {
    if (!m_closing) work();
  });
}

void UiDispatcher::release(const std::shared_ptr<Pending>& pending) {
  std::scoped_lock lock(m_mutex);
  m_pending.erase(pending);
}

void UiDispatcher::beginClosing() {
  std::set<std::shared_ptr<Pending>> pending;
  {
    std::scoped_lock lock(m_mutex);
    m_closing = true;
    pending = m_pending;
  }
  for (const auto& p : pending) {
    std::scoped_lock lock(p->mutex);
    p->abandoned = true;
    p->changed.notify_all();
  }
}

void UiDispatcher::runOffUiThread(const std::function<void()>& work) {
  if (!onUiThread()) {
    work();
    return;
  }
  // The caller being served waits for this work even once closing has begun.
  const std::shared_ptr<Pending> caller = m_serving;
  if (caller) {
    std::scoped_lock lock(caller->mutex);
    ++caller->blockingWork;
  }
  QEventLoop loop;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
    // Delivered once the loop runs, even when the work ends before it starts.
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  while (!done) {
    // -1: the application is quitting and runs no more loops; then just wait.
    if (loop.exec() < 0) break;
  }
  worker.join();
  if (caller) {
    std::scoped_lock lock(caller->mutex);
    --caller->blockingWork;
    caller->changed.notify_all();
  }
}

}  // namespace vantrel::ui
