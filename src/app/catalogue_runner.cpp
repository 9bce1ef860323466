// SPDX-License-Identifier: MIT
#include "app/catalogue_runner.h"

namespace vantrel {

CatalogueRunner::CatalogueRunner(Poster post, int workers) : m_post(std::move(post)) {
  for (int i = 0; i < workers; ++i) m_workers.emplace_back([this](std::stop_token stop) { loop(stop); });
}

CatalogueRunner::~CatalogueRunner() {
  {
    std::scoped_lock lock(m_mutex);
    m_jobs.clear();
  }
  for (auto& worker : m_workers) worker.request_stop();
  m_wake.notify_all();
  m_workers.clear();  // joins
}

void CatalogueRunner::run(Job job) {
  {
    std::scoped_lock lock(m_mutex);
    m_jobs.push_back(std::move(job));
  }
  m_wake.notify_one();
}

int CatalogueRunner::pending() const {
  std::scoped_lock lock(m_mutex);
  return static_cast<int>(m_jobs.size()) + m_running;
}

void CatalogueRunner::loop(std::stop_token stop) {
  while (true) {
    Job job;
    {
      std::unique_lock lock(m_mutex);
      if (!m_wake.wait(lock, stop, [this] { return !m_jobs.empty(); })) return;
      job = std::move(m_jobs.front());
      m_jobs.pop_front();
      ++m_running;
    }
    Delivery delivery = job();
    // Handed over before the job counts as done, so that whoever waits for
    // pending() == 0 finds the delivery already posted.
    if (delivery && m_post && !stop.stop_requested()) m_post(std::move(delivery));
    std::scoped_lock lock(m_mutex);
    --m_running;
  }
}

}  // namespace vantrel
