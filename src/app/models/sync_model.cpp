// SPDX-License-Identifier: MIT
#include "app/models/sync_model.h"

#include <atomic>
#include <mutex>

namespace vantrel {

namespace {

// One showing of the dialog: the SyncDialog's view on one side, the front
// end's model on the other.
class ShownSyncDialog : public SyncDialogModel, public SyncDialogView {
 public:
  ShownSyncDialog(UserInterface& ui, ProtocolContext& ctx, SharedFileList& list,
                  const std::vector<CVantreldFile>& records)
      : m_ui(ui), m_dialog(ctx, list, records, *this) {}

  // SyncDialogModel
  std::vector<Row> rows() const override {
    std::vector<Row> out;
    for (const CVantreldFile& r : m_dialog.records()) out.push_back({r.fileName, r.localPath, r.groupName, r.groupDirPath});
    return out;
  }
  void reshare(std::vector<bool> ticked) override { m_dialog.reshare(std::move(ticked)); }
  void stop() override { m_dialog.stop(); }
  void removeAll() override {
    m_dialog.removeAll();
    m_close = true;
  }
  bool running() const override { return m_dialog.running(); }
  std::string status() const override {
    std::scoped_lock lock(m_mutex);
    return m_status;
  }
  int progress() const override { return m_progress; }
  int progressEnd() const override { return SyncDialog::kProgressEnd; }
  bool closeRequested() const override { return m_close; }

  // SyncDialogView, called by the dialog's worker
  void showSyncDialog(const std::vector<CVantreldFile>&) override {}
  void setStatus(const std::string& text) override {
    std::scoped_lock lock(m_mutex);
    m_status = text;
  }
  void setProgress(int position) override { m_progress = position; }
  MessageAnswer ask(const MessageBox& box) override { return m_ui.showMessage(box); }

 private:
  UserInterface& m_ui;
  mutable std::mutex m_mutex;
  std::string m_status;  // guarded by m_mutex
  std::atomic<int> m_progress{0};
  std::atomic<bool> m_close{false};
  SyncDialog m_dialog;  // last: its destructor joins the worker while the rest still lives
};

}  // namespace

SyncModel::SyncModel(UserInterface& ui, ProtocolContext& ctx, SharedFileList& list)
    : m_ui(ui), m_ctx(ctx), m_list(list) {}

void SyncModel::showSyncDialog(const std::vector<CVantreldFile>& records) {
  ShownSyncDialog dialog(m_ui, m_ctx, m_list, records);
  m_ui.runSyncDialog(dialog);
}

}  // namespace vantrel
