// SPDX-License-Identifier: MIT
#include "platform/stop_signals.h"

#include <pthread.h>
#include <signal.h>

namespace vantrel {

namespace {

sigset_t stopSet() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

static_assert(StopSignals::kInterrupt == SIGINT && StopSignals::kTerminate == SIGTERM);

void StopSignals::blockInThisProcess() {
  const sigset_t signals = stopSet();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A program started in the background by a script inherits SIGINT ignored,
  // and an ignored signal never reaches sigwait. Blocked, the default action
  // cannot run either: the waiting thread takes the signal.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGPIPE, SIG_IGN);
}

StopSignals::StopSignals(std::function<void()> onSignal)
    : m_onSignal(std::move(onSignal)), m_thread([this] { run(); }) {}

StopSignals::~StopSignals() {
  // Ending without a signal: wake the waiting thread with one of its own.
  if (m_received == 0) pthread_kill(m_thread.native_handle(), SIGTERM);
  m_thread.join();
}

int StopSignals::wait() {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return m_received != 0; });
  return m_received;
}

void StopSignals::run() {
  const sigset_t signals = stopSet();
  int signal = 0;
  sigwait(&signals, &signal);
  {
    std::scoped_lock lock(m_mutex);
    m_received = signal;
  }
  if (m_onSignal) m_onSignal();
  m_changed.notify_all();
}

}  // namespace vantrel
