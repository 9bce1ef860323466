// SPDX-License-Identifier: MIT
#pragma once
// In-memory fakes of the file server's ports for tests and benchmarks: a host
// with settable limits that keeps its sessions in a map and paces the
// process-wide limit in 4-second windows, a renderer whose pages name the
// template and the code they were asked for, and a file server on loopback
// with a scratch shared-file list. Thread-safe where the server needs it.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "fileserver/file_server.h"
#include "fileserver/file_server_host.h"

namespace vantrel::testing {

class FakeHost : public FileServerHost {
 public:
  std::shared_ptr<UploadSession> newUploadSession() override {
    std::scoped_lock lock(mutex);
    auto session = std::make_shared<UploadSession>(++lastId);
    sessions[session->sessionId()] = session;
    return session;
  }
  void removeUploadSession(int32_t id) override {
    std::scoped_lock lock(mutex);
    sessions.erase(id);
  }
  int uploadsFromAddress(std::string_view peer) override {
    if (peer == "127.0.0.1" || peer == local) return 0;
    std::scoped_lock lock(mutex);
    int count = 0;
    for (const auto& [id, s] : sessions) count += s->peerAddress() == peer ? 1 : 0;
    return count > perUser ? count : 0;
  }
  void uploadStarted() override { ++active; }
  void uploadEnded() override { --active; }
  int activeUploads() override { return active; }
  int64_t countSent(uint32_t bytes, std::string_view peer) override {
    sentBytes += bytes;
    for (uint32_t seen = largestCounted; bytes > seen && !largestCounted.compare_exchange_weak(seen, bytes);) {
    }
    if (peer == "127.0.0.1" || peer == local || band <= 0) return 0;
    std::scoped_lock lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (now - windowStart >= std::chrono::seconds(4)) {
      windowStart = now;
      windowBytes = 0;
    }
    windowBytes += bytes;
    if (windowBytes <= 4LL * band) return 0;
    // Rounded up: a wait that ends a moment before the window does would let
    // the caller through unpaced until the window is renewed.
    return std::max<int64_t>(1, std::chrono::ceil<std::chrono::milliseconds>(windowStart + std::chrono::seconds(4) - now).count());
  }
  void fileSent() override { ++filesSent; }
  int maxUsers() override { return users; }
  int maxPerUser() override { return perUser; }
  int maxUserBand() override { return userBand; }
  int maxBand() override { return band; }
  int clientVersion() override { return 201; }
  std::string localAddress() override {
    std::scoped_lock lock(mutex);
    return local;
  }
  void setLocalAddress(const std::string&) override {}  // tests choose it
  std::optional<std::string> externalAddress() override { return std::nullopt; }
  std::string centralServerHost() override { return "central.example"; }
  bool remoteSharingAllowed() override { return remotes; }
  bool firstTimeSharing() override { return firstTime; }
  void clearFirstTimeSharing() override {
    firstTime = false;
    ++firstTimeCleared;
  }
  bool fileSecurity() override { return security; }
  bool contestEnabled() override { return contest; }
  void awardTransfer(int kilobytes, int files, std::string_view) override {
    std::scoped_lock lock(mutex);
    awards.emplace_back(kilobytes, files);
  }
  void compareWithServer() override { ++comparisons; }
  void verifySharedFiles() override { ++verifications; }
  bool startShareWindow(RequestParams& params) override {
    std::scoped_lock lock(mutex);
    if (!shareWindow) return false;
    shareWindowParams.push_back(std::move(params));
    return true;
  }
  Log* log() override { return nullptr; }

  std::shared_ptr<UploadSession> session(int32_t id) {
    std::scoped_lock lock(mutex);
    const auto it = sessions.find(id);
    return it == sessions.end() ? nullptr : it->second;
  }
  std::vector<std::shared_ptr<UploadSession>> allSessions() {
    std::scoped_lock lock(mutex);
    std::vector<std::shared_ptr<UploadSession>> out;
    for (const auto& [id, s] : sessions) out.push_back(s);
    return out;
  }

  std::mutex mutex;
  std::map<int32_t, std::shared_ptr<UploadSession>> sessions;  // guarded by mutex
  int32_t lastId = 0;                                           // guarded by mutex
  std::string local = "192.0.2.10";                             // guarded by mutex
  std::vector<std::pair<int, int>> awards;                      // guarded by mutex
  std::vector<RequestParams> shareWindowParams;                 // guarded by mutex
  std::chrono::steady_clock::time_point windowStart = std::chrono::steady_clock::now();  // guarded by mutex
  int64_t windowBytes = 0;                                      // guarded by mutex
  std::atomic<int> active{0};
  std::atomic<int> users{15};
  std::atomic<int> perUser{5};
  std::atomic<int> userBand{0};
  std::atomic<int> band{0};
  std::atomic<int> filesSent{0};
  std::atomic<int64_t> sentBytes{0};
  std::atomic<uint32_t> largestCounted{0};  // the largest piece countSent was given
  std::atomic<bool> remotes{true};
  std::atomic<bool> firstTime{false};
  std::atomic<bool> shareWindow{true};  // the front end can open the share window
  std::atomic<int> firstTimeCleared{0};
  std::atomic<bool> security{false};
  std::atomic<bool> contest{false};
  std::atomic<int> comparisons{0};
  std::atomic<int> verifications{0};
};

// Decrypts by reversing the bytes: enough to see that "@" values pass through it.
class ReversingCipher : public ParameterCipher {
 public:
  std::string decryptText(std::string_view cipher) const override { return {cipher.rbegin(), cipher.rend()}; }
};

// Pages read "page <template> code <file ID field>"; templates named in
// `missing` do not exist.
class FakeRenderer : public PageRenderer {
 public:
  int render(const PageContext& context, std::string& page) override {
    if (std::string(context.templateName).find("missing") != std::string::npos) return 400;
    page = "page " + std::string(context.templateName) + " code " + std::to_string(context.session.fileId.load());
    return 0;
  }
  std::span<const uint8_t> image(std::string_view name) override {
    if (name != "logo.gif") return {};
    return {reinterpret_cast<const uint8_t*>(kLogo.data()), kLogo.size()};
  }
  static constexpr std::string_view kLogo = "GIF89a-bytes";
};

}  // namespace vantrel::testing
