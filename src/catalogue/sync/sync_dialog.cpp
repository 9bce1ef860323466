// SPDX-License-Identifier: MIT
#include "catalogue/sync/sync_dialog.h"

#include <chrono>
#include <map>
#include <set>

#include "catalogue/sync/share_run.h"
#include "core/error_table.h"

namespace vantrel {

SyncDialog::SyncDialog(ProtocolContext& ctx, SharedFileList& list, std::vector<CVantreldFile> records,
                       SyncDialogView& view)
    : m_ctx(ctx), m_list(list), m_records(std::move(records)), m_view(view) {}

SyncDialog::~SyncDialog() {
  m_cancel = true;
  if (m_worker.joinable()) m_worker.join();
}

std::string SyncDialog::progressText(int code, int number, const std::string& text) {
  switch (code) {
    case 100:
      return "Receiving server response";
    case share::kCreatingDirectory:
      return "Creating directory - '" + text + "'";
    case 107:
      return "Checking number of files";
    case share::kSharingFiles:
      return "Sharing " + std::to_string(number) + " files into '" + text + "'";
    default:
      return {};
  }
}

void SyncDialog::reshare(std::vector<bool> ticked) {
  if (m_running.exchange(true)) return;
  m_cancel = false;
  if (m_worker.joinable()) m_worker.join();
  m_worker = std::jthread([this, ticked = std::move(ticked)] {
    runReshare(ticked);
    m_running = false;
  });
}

void SyncDialog::stop() {
  m_cancel = true;
  for (int i = 0; i < 10 && m_running; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

void SyncDialog::removeAll() {
  m_view.setStatus("Removing files not selected");
  removeListed();
  m_view.finished();
}

void SyncDialog::removeListed() {
  for (const CVantreldFile& record : m_records) {
    if (m_cancel) return;
    m_list.Remove(record.fileId);
  }
}

void SyncDialog::removeReplaced(const std::vector<bool>& ticked) {
  // A ticked file whose sharing failed or was cancelled keeps its record, to
  // be offered again; one that was shared anew now has a second record under
  // its new ID, and the old one goes.
  std::set<std::string> sharedAnew;
  std::set<int32_t> oldIds;
  for (const CVantreldFile& record : m_records) oldIds.insert(record.fileId);
  m_list.forEach([&](const CVantreldFile& listed) {
    if (oldIds.count(listed.fileId) == 0) sharedAnew.insert(listed.localPath);
  });
  for (std::size_t i = 0; i < m_records.size(); ++i) {
    if (m_cancel) return;
    const bool keep = i < ticked.size() && ticked[i] && sharedAnew.count(m_records[i].localPath) == 0;
    if (!keep) m_list.Remove(m_records[i].fileId);
  }
}

void SyncDialog::runReshare(const std::vector<bool>& ticked) {
  m_view.setProgress(0);
  std::map<int32_t, std::vector<const CVantreldFile*>> byDirectory;
  for (std::size_t i = 0; i < m_records.size() && i < ticked.size(); ++i) {
    if (ticked[i]) byDirectory[m_records[i].dirId].push_back(&m_records[i]);
  }
  ShareRun run(m_ctx, m_list, [this](int code, int number, const std::string& text) {
    if (std::string status = progressText(code, number, text); !status.empty()) m_view.setStatus(status);
  });
  // "Stop" also ends a long group between its folders and requests.
  run.setCancelCheck([this] { return m_cancel.load(); });
  for (const auto& [dirId, group] : byDirectory) {
    if (m_cancel) break;
    const CVantreldFile& first = *group.front();
    std::vector<std::string> paths;
    for (const CVantreldFile* record : group) paths.push_back(record->localPath);
    const ShareDestination to{first.groupId, first.groupName, dirId, first.groupDirPath};
    bool retry = true;
    bool cancelled = false;
    while (retry && !m_cancel) {
      retry = false;
      const int rc = run.ShareLocalPaths(paths, to);
      if (rc == 0 || m_cancel) break;
      MessageBox box;
      box.text = "Error " + std::to_string(rc) + " sharing files - " + errorTitle(rc) +
                 "\n\nTry to share the files again?";
      box.title = "Error";
      box.icon = MessageIcon::Error;
      box.buttons = MessageButtons::RetryCancel;
      retry = m_view.ask(box) == MessageAnswer::Retry;
      cancelled = !retry;
    }
    if (cancelled) break;
  }
  if (m_cancel) return;
  m_view.setStatus("Removing files not selected");
  removeReplaced(ticked);
  if (m_cancel) return;
  m_view.setProgress(kProgressEnd);
  m_view.setStatus("Finished!");
  m_view.finished();
}

}  // namespace vantrel
