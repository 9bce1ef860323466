// SPDX-License-Identifier: MIT
#include "net/worker_thread.h"

#include <limits.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace vantrel {
namespace {

void* runBody(void* raw) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(raw));
  (*body)();
  return nullptr;
}

}  // namespace

WorkerThread::WorkerThread(WorkerThread&& other) noexcept
    : m_thread(other.m_thread), m_started(std::exchange(other.m_started, false)) {}

WorkerThread& WorkerThread::operator=(WorkerThread&& other) noexcept {
  if (this != &other) {
    join();
    m_thread = other.m_thread;
    m_started = std::exchange(other.m_started, false);
  }
  return *this;
}

bool WorkerThread::start(std::function<void()> body, std::size_t stackBytes) {
  if (m_started) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  const std::size_t stack = std::max<std::size_t>(stackBytes, PTHREAD_STACK_MIN);
  pthread_attr_setstacksize(&attr, stack);
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  const int rc = pthread_create(&m_thread, &attr, runBody, owned.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) return false;
  owned.release();  // the thread owns it now
  m_started = true;
  return true;
}

void WorkerThread::join() {
  if (!m_started) return;
  pthread_join(m_thread, nullptr);
  m_started = false;
}

}  // namespace vantrel
