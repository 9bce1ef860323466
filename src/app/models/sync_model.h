// SPDX-License-Identifier: MIT
#pragma once
// SyncModel: shows the "Files Missing" dialog that a comparison with
// the server asks for through UserInterface. Each showing gets its own
// SyncDialog and the state the front end reads (status, progress, close);
// answers to the dialog's questions go through UserInterface::showMessage.
//
// The user interface, context and list must outlive it. showSyncDialog blocks
// until the front end closes the dialog and the dialog's worker has ended.

#include "catalogue/shared_file_list.h"
#include "catalogue/sync/sync_dialog.h"
#include "core/user_interface.h"
#include "protocol/protocol_context.h"

namespace vantrel {

class SyncModel : public SyncDialogView {
 public:
  SyncModel(UserInterface& ui, ProtocolContext& ctx, SharedFileList& list);

  void showSyncDialog(const std::vector<CVantreldFile>& records) override;
  // Showing goes to the dialog's own state; these are never called here.
  void setStatus(const std::string&) override {}
  void setProgress(int) override {}
  MessageAnswer ask(const MessageBox& box) override { return m_ui.showMessage(box); }

 private:
  UserInterface& m_ui;
  ProtocolContext& m_ctx;
  SharedFileList& m_list;
};

}  // namespace vantrel
