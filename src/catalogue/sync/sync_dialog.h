// SPDX-License-Identifier: MIT
#pragma once
// SyncDialog: the logic of the "Files Missing" dialog, which offers to share
// again the files that the server has no record of, or to stop sharing them.
// The front end draws it through SyncDialogView and forwards the buttons; the
// resharing runs on the dialog's own worker thread, which the "Stop" button
// cancels. The view, list and context must outlive the dialog; the destructor
// cancels and joins the worker.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "core/user_interface.h"
#include "protocol/protocol_context.h"

namespace vantrel {

class SyncDialogView {
 public:
  virtual ~SyncDialogView() = default;
  // Opens the dialog over these records (modal; the front end makes a
  // SyncDialog and forwards the buttons to it).
  virtual void showSyncDialog(const std::vector<CVantreldFile>& records) = 0;
  // Called on the worker thread.
  virtual void setStatus(const std::string& text) = 0;
  virtual void setProgress(int position) = 0;
  virtual MessageAnswer ask(const MessageBox& box) = 0;
  // The work ended (finished, stopped or "Remove All"); the dialog may close.
  virtual void finished() {}
};

class SyncDialog {
 public:
  static constexpr const char* kTitle = "Files Missing";
  static constexpr const char* kTexts[3] = {
      "You are sharing some files that the server has no record of.",
      "To reshare the files select the checkboxes of the files you want to re-share and then click 'Continue'.",
      "Note:  It is possible that these files were removed by the administrator of a group."};
  static constexpr int kProgressEnd = 40;

  SyncDialog(ProtocolContext& ctx, SharedFileList& list, std::vector<CVantreldFile> records, SyncDialogView& view);
  ~SyncDialog();
  SyncDialog(const SyncDialog&) = delete;
  SyncDialog& operator=(const SyncDialog&) = delete;

  const std::vector<CVantreldFile>& records() const { return m_records; }

  // "Reshare": shares the ticked records (one flag per record) anew on the worker.
  void reshare(std::vector<bool> ticked);
  // "Stop": cancels the worker; waits at most 2 seconds for it to notice.
  void stop();
  // "Remove All": stops sharing every listed record.
  void removeAll();
  bool running() const { return m_running; }

  // The work of "Reshare", on the calling thread.
  void runReshare(const std::vector<bool>& ticked);
  // The status text of a sharing progress code, or "" for codes not shown.
  static std::string progressText(int code, int number, const std::string& text);

 private:
  void removeListed();
  // After "Reshare": removes the unticked records and the old records of the
  // files that were shared anew.
  void removeReplaced(const std::vector<bool>& ticked);

  ProtocolContext& m_ctx;
  SharedFileList& m_list;
  const std::vector<CVantreldFile> m_records;
  SyncDialogView& m_view;
  std::atomic<bool> m_cancel{false};
  std::atomic<bool> m_running{false};
  std::jthread m_worker;
};

}  // namespace vantrel
