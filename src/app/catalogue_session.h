// SPDX-License-Identifier: MIT
#pragma once
// CatalogueSession: the catalogue as the window sees it during one login — a
// CatalogueCache and the user's GroupCache ("<home><user>groups.dat"), the
// CatalogueService over the real central server, and the runner that does
// its requests off the UI thread. The user's groups are refreshed after each
// login and whenever the server's checksum in the ping changes.
//
// One per process, owned by the application; beginLogin swaps in fresh
// caches. Everything given to the constructor must outlive the session; the
// destructor joins the runner, so the session goes before the download
// manager and the client core. beginLogin and the listeners: UI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/catalogue_runner.h"
#include "app/catalogue_service.h"
#include "catalogue/shared_file_list.h"
#include "core/timer_service.h"
#include "protocol/protocol_context.h"

namespace vantrel {

class DownloadManager;

class CatalogueSession {
 public:
  static constexpr std::chrono::milliseconds kChecksumPeriod{5000};

  // `files` gives the logged-in user's shared-file list (null when there is none).
  CatalogueSession(ProtocolContext& ctx, DownloadManager& downloads, TimerService& timers, std::string home,
                   std::function<SharedFileList*()> files, CatalogueRunner::Poster post);
  ~CatalogueSession();
  CatalogueSession(const CatalogueSession&) = delete;
  CatalogueSession& operator=(const CatalogueSession&) = delete;

  // A login was made for `user`: fresh caches, the user's group file, and a
  // refresh of the groups on the runner.
  void beginLogin(const std::string& user);
  bool loggedIn() const;

  CatalogueService& service();
  CatalogueRunner& runner() { return *m_runner; }
  // Called on the UI thread after a refresh brought the user's groups.
  void setGroupsListener(std::function<void()> listener);
  // The timer's body: a changed server checksum refreshes the groups.
  void checksumTick();
  // Queues a refresh of the user's groups; `force` asks for every group and
  // its counts (a login, "Refresh", a join), not only for changed IDs.
  void syncGroups(bool force = true);

 private:
  class Service;

  ProtocolContext& m_ctx;
  TimerService& m_timers;
  const CatalogueRunner::Poster m_post;
  std::unique_ptr<Service> m_service;
  TimerService::TimerId m_timer = TimerService::kNoTimer;
  mutable std::mutex m_mutex;
  std::function<void()> m_groupsListener;  // guarded by m_mutex
  int32_t m_lastChecksum = 0;              // guarded by m_mutex
  bool m_loggedIn = false;                 // guarded by m_mutex
  std::unique_ptr<CatalogueRunner> m_runner;  // last: its jobs use everything above
};

}  // namespace vantrel
