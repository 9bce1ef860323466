// SPDX-License-Identifier: MIT
#pragma once
// The client update: whether to offer a newer version, the "action=getupdate"
// request, and the update window's download worker, which fetches every file
// into the program directory with progress and leaves "ClientUpdate" = 1 for the
// launcher after a complete download.
//
// RunUpdate runs on the login worker and blocks while the window is open; the
// download runs on a worker thread of its own and reports to the window's view
// under a lock, until RunUpdate takes the view away when the window closes.

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/protocol_context.h"
#include "protocol/session_ui.h"

namespace vantrel {

namespace update {
inline constexpr int kCheckingOff = 200;
inline constexpr int kOffer = 201;
inline constexpr int kNoUpdate = 202;
inline constexpr int kNotUpdated = -1;
inline constexpr int kNotStarted = -1;  // UpdateDownload::error() before a run
}  // namespace update

// 200 when "checkforupdates" is not 1, 201 to offer an update, 202 otherwise.
int CheckForUpdate(SettingsStore& settings, int ownVersion, int latestVersion);

// Asks the server for the update files and shows the update window. 0 when
// every file arrived and the user chose to go on; otherwise non-zero.
int RunUpdate(ProtocolContext& ctx, SessionUi& ui, int latestVersion, const std::filesystem::path& programDirectory);

// The URLs of a getupdate reply: every "url" value split at ";".
std::vector<std::string> updateUrls(const std::vector<std::string>& urlValues);
// "%.0f%% %dk of %dk".
std::string updateProgressLine(long received, long total);

// The window's logic: button 1 starts the download, stops it while it runs,
// and closes the window once it has finished.
class UpdateDownload : public UpdatePrompt {
 public:
  UpdateDownload(std::vector<std::string> urls, std::filesystem::path directory, std::atomic<int>* loginAbort = nullptr);
  ~UpdateDownload() override;

  bool pressUpdate(UpdateView& view) override;

  // -1 before a run, 0 when every file arrived, else the failing result.
  int error() const { return m_error; }
  bool downloading() const { return m_downloading; }
  // No more calls to the view after this returns; stops and joins the worker.
  void detachView();

 private:
  void run(std::stop_token st);
  template <class F>
  void withView(F&& f) {
    std::scoped_lock lock(m_viewMutex);
    if (m_view != nullptr) f(*m_view);
  }

  const std::vector<std::string> m_urls;
  const std::filesystem::path m_directory;
  std::atomic<int>* m_loginAbort;
  std::atomic<int> m_error{update::kNotStarted};
  std::atomic<bool> m_downloading{false};
  std::atomic<bool> m_stopRequest{false};
  std::mutex m_viewMutex;
  UpdateView* m_view = nullptr;  // guarded by m_viewMutex
  std::jthread m_worker;
};

}  // namespace vantrel
