// SPDX-License-Identifier: MIT
#include "app/models/share_model.h"

#include <cstdlib>

#include "catalogue/sync/share_run.h"
#include "core/error_table.h"

namespace vantrel {

namespace {

// The progress dialog's side of a sharing run on its worker thread.
class ShareProgressModel : public ProgressDialogModel {
 public:
  explicit ShareProgressModel(const std::atomic<bool>& closing) : m_closing(closing) {}
  std::string text() const override { return ShareModel::kProgressText; }
  bool finished() const override { return m_finished; }
  void cancel() override { m_cancel = true; }

  // The run stops when the person cancels or the client closes.
  bool stopRequested() const { return m_cancel || m_closing; }
  void finish() { m_finished = true; }

 private:
  const std::atomic<bool>& m_closing;
  std::atomic<bool> m_cancel{false};
  std::atomic<bool> m_finished{false};
};

MessageBox errorBox(std::string text) { return {std::move(text), "Error", MessageIcon::Error, MessageButtons::Ok}; }

int32_t numberOf(const std::string& text) { return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10)); }

}  // namespace

ShareModel::ShareModel(UserInterface& ui, ProtocolContext& ctx, SharedFileList& list)
    : m_ui(ui), m_ctx(ctx), m_list(list) {}

ShareModel::~ShareModel() {
  m_closing = true;
  std::list<Window> windows;
  {
    std::scoped_lock lock(m_mutex);
    windows.swap(m_windows);
  }
  // jthread joins as the list goes.
}

void ShareModel::reapFinished() {
  m_windows.remove_if([](const Window& w) { return w.done.load(); });
}

bool ShareModel::start(RequestParams& params) {
  if (!m_ui.canOpenShareWindow()) return false;
  std::scoped_lock lock(m_mutex);
  if (m_closing) return false;
  reapFinished();
  Window& window = m_windows.emplace_back();
  window.thread = std::jthread([this, &window, taken = std::move(params)] {
    run(taken);
    window.done = true;
  });
  params = RequestParams();
  return true;
}

int ShareModel::run(const RequestParams& params) {
  const std::string* dirId = params.first("dirid");
  if (dirId == nullptr) {
    m_ui.showMessage(errorBox("No directory ID in request"));
    return 0;
  }
  const std::string* groupId = params.first("groupid");
  if (groupId == nullptr) {
    m_ui.showMessage(errorBox("No group ID in request"));
    return 0;
  }
  const std::string* groupName = params.first("groupname");
  if (groupName == nullptr) {
    m_ui.showMessage(errorBox("No groupname in request"));
    return 0;
  }
  const ShareDestination to{numberOf(*groupId), *groupName, numberOf(*dirId), params.firstOr("groupdirname", "")};

  const auto chosen = m_ui.chooseFilesToShare(*groupName);
  if (!chosen || chosen->empty()) return 0;
  for (const char* title : kLoadingWindowTitles) m_ui.closeBrowserWindow(title);

  ShareProgressModel progress(m_closing);
  int result = 0;
  std::string shortened;
  std::jthread worker([&] {
    ShareRun share(m_ctx, m_list);
    share.setCancelCheck([&] { return progress.stopRequested(); });
    result = share.ShareLocalPaths(*chosen, to);
    shortened = shortenedNamesText(share.shortenedNames());
    progress.finish();
  });
  m_ui.runProgressDialog(progress);
  worker.join();

  if (result != 0) {
    m_ui.showMessage(errorBox("Error " + std::to_string(result) + " sharing files\n" + errorTitle(result)));
  } else {
    std::string text = "Your files are now shared in the group '" + to.groupName + "'.";
    if (!shortened.empty()) text += "\n\n" + shortened;
    m_ui.showMessage({text, "Files Shared", MessageIcon::Information, MessageButtons::Ok});
  }
  return result;
}

}  // namespace vantrel
