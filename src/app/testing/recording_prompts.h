// SPDX-License-Identifier: MIT
#pragma once
// RecordingPrompts: CommandPrompts that answer as a test scripts and record
// what the commands showed, and DeliveryQueue: a runner's poster that keeps
// the answers until the test hands them over, as a UI thread would.

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "app/models/catalogue_commands_model.h"

namespace vantrel::app_testing {

class DeliveryQueue {
 public:
  CatalogueRunner::Poster poster() {
    return [this](CatalogueRunner::Delivery d) {
      std::scoped_lock lock(m_mutex);
      m_queue.push_back(std::move(d));
    };
  }
  // Waits (bounded) until the runner is idle, then runs what it handed back.
  bool settle(const CatalogueRunner& runner, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (runner.pending() > 0) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::deque<CatalogueRunner::Delivery> ready;
    {
      std::scoped_lock lock(m_mutex);
      ready.swap(m_queue);
    }
    for (auto& d : ready) d();
    return true;
  }

 private:
  std::mutex m_mutex;
  std::deque<CatalogueRunner::Delivery> m_queue;  // guarded by m_mutex
};

class RecordingPrompts : public CommandPrompts {
 public:
  MessageAnswer showMessage(const MessageBox& box) override {
    shown.push_back(box.title + ": " + box.text);
    if (box.buttons == MessageButtons::YesNo) return answerYes ? MessageAnswer::Yes : MessageAnswer::No;
    return safeAnswer(box.buttons);
  }
  std::optional<std::string> chooseDownloadFolder() override { return folder; }
  std::optional<std::string> askDirectoryName() override { return directoryName; }
  std::optional<JoinRequest> askJoin(const std::string& title) override {
    asked.push_back(title);
    return join;
  }
  std::optional<NewGroupRequest> runGroupWizard() override { return wizard; }
  std::optional<std::vector<std::string>> chooseFilesToShare(const std::string& groupName) override {
    asked.push_back("share into " + groupName);
    return files;
  }
  void runProgress(ProgressDialogModel& model) override {
    while (!model.finished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  bool openBrowser(const std::string& url) override {
    opened.push_back(url);
    return browserStarts;
  }
  void setStatus(const std::string& text) override { status = text; }
  void catalogueChanged(bool groups) override { changes.push_back(groups ? "groups" : "listing"); }

  std::optional<std::string> folder = std::string("/downloads");
  std::optional<std::string> directoryName = std::string("New & Improved #2");
  std::optional<JoinRequest> join = JoinRequest{"pw", "let me in"};
  std::optional<NewGroupRequest> wizard;
  std::optional<std::vector<std::string>> files = std::vector<std::string>{"/home/me/Rock & Roll #1"};
  bool browserStarts = true;
  bool answerYes = true;  // to every Yes/No question

  std::vector<std::string> shown;
  std::vector<std::string> asked;
  std::vector<std::string> opened;
  std::vector<std::string> changes;
  std::string status;
};

}  // namespace vantrel::app_testing
