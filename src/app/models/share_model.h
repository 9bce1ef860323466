// SPDX-License-Identifier: MIT
#pragma once
// ShareModel: the share-files window. When this computer's browser asks for
// the share page, the file server hands the request's parameters over and the
// window's flow runs on a thread of its own: the file-selection dialog, then a
// sharing run on a worker thread under a progress dialog that can stop it, then
// the outcome in a message box. Everything shown goes through UserInterface.
//
// Owned by the client for the life of a login; the context, list and user
// interface must outlive it. The destructor stops running shares and waits
// for every window thread, so the front end must let its dialogs return.

#include <atomic>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "catalogue/shared_file_list.h"
#include "core/user_interface.h"
#include "fileserver/request_params.h"
#include "protocol/protocol_context.h"

namespace vantrel {

class ShareModel {
 public:
  static constexpr const char* kProgressText =
      "Adding files.. this can take a while if there are a lot of directories or subdirectories";
  static constexpr const char* kLoadingWindowTitles[2] = {
      "Loading window to share Files - Microsoft Internet Explorer", "Loading window to share Files - Netscape"};

  ShareModel(UserInterface& ui, ProtocolContext& ctx, SharedFileList& list);
  ~ShareModel();
  ShareModel(const ShareModel&) = delete;
  ShareModel& operator=(const ShareModel&) = delete;

  // The file server's hook: false when the front end cannot open the window
  // (the parameters stay with the caller); otherwise takes the parameters
  // over, starts the window's thread and returns.
  bool start(RequestParams& params);

  // The window's flow on the calling thread; returns the sharing run's result
  // (0 also when the person chose nothing or the request lacked a field).
  int run(const RequestParams& params);

 private:
  struct Window {
    std::jthread thread;
    std::atomic<bool> done{false};
  };
  void reapFinished();

  UserInterface& m_ui;
  ProtocolContext& m_ctx;
  SharedFileList& m_list;
  std::atomic<bool> m_closing{false};
  std::mutex m_mutex;
  std::list<Window> m_windows;  // guarded by m_mutex
};

}  // namespace vantrel
