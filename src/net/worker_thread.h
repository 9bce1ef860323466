// SPDX-License-Identifier: MIT
#pragma once
// WorkerThread: a joining thread with a chosen stack size. The file server runs
// one thread per connection; std::jthread cannot size its stack, and the 8 MiB
// default costs measurably on every accept. Joins on destruction like
// std::jthread; never detaches. Move-only; one owner at a time.

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace vantrel {

class WorkerThread {
 public:
  WorkerThread() = default;
  WorkerThread(WorkerThread&& other) noexcept;
  WorkerThread& operator=(WorkerThread&& other) noexcept;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  ~WorkerThread() { join(); }

  // Starts `body` on a new thread with `stackBytes` of stack (rounded up to the
  // system minimum). Returns false when the thread cannot be created; `body` is
  // then not run.
  bool start(std::function<void()> body, std::size_t stackBytes);

  bool joinable() const { return m_started; }
  // Waits for the thread to end; does nothing when none runs. Never call it from
  // the thread itself.
  void join();

 private:
  pthread_t m_thread{};
  bool m_started = false;
};

}  // namespace vantrel
