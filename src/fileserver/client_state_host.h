// SPDX-License-Identifier: MIT
#pragma once
// ClientStateHost: the file server's host port over the client's own objects:
// limits, counters, upload sessions and addresses from ClientState, the
// "remotes" and "firstTimeSharing" settings from the SettingsStore, and hooks
// for what other subsystems do on the server's behalf (shared-file checks, the
// share-files window, contest points). The application builds it once; the
// state, the store and every hook must outlive the FileServer. Thread-safe as
// its parts are; hooks are called on connection threads.

#include <functional>

#include "fileserver/file_server_host.h"
#include "settings/settings_store.h"
#include "state/client_state.h"

namespace vantrel {

struct FileServerHooks {
  std::function<void()> compareWithServer;                   // shared IDs against the server's
  std::function<void()> verifySharedFiles;                   // the verification pass
  std::function<bool(RequestParams&)> startShareWindow;      // returns once it took them over
  std::function<void(int kilobytes, int files, std::string_view peer)> awardTransfer;
  std::function<bool()> fileSecurity;                        // none: on
  std::string centralServerHost;                             // empty: the "serveraddress" setting
  Log* log = nullptr;
  std::function<void(const std::string&)> localAddressChanged;  // after the server learnt it
};

class ClientStateHost : public FileServerHost {
 public:
  ClientStateHost(ClientState& state, SettingsStore& settings, FileServerHooks hooks);

  std::shared_ptr<UploadSession> newUploadSession() override { return m_state.NewUploadSession(); }
  void removeUploadSession(int32_t sessionId) override { m_state.RemoveUploadSession(sessionId); }
  int uploadsFromAddress(std::string_view peer) override { return m_state.UploadsFromAddress(peer); }
  void uploadStarted() override { m_state.UploadStarted(); }
  void uploadEnded() override { m_state.UploadEnded(); }
  int activeUploads() override { return m_state.ActiveUploads(); }
  int64_t countSent(uint32_t bytes, std::string_view peer) override { return m_state.CountSent(bytes, peer); }
  void fileSent() override { m_state.FileSent(); }
  int maxUsers() override { return m_state.MaxUsers(); }
  int maxPerUser() override { return m_state.MaxPerUser(); }
  int maxUserBand() override { return m_state.MaxUserBand(); }
  int maxBand() override { return m_state.MaxBand(); }
  int clientVersion() override { return ClientState::kOwnClientVersion; }
  std::string localAddress() override { return m_state.LocalAddress(); }
  void setLocalAddress(const std::string& address) override;
  std::optional<std::string> externalAddress() override;
  std::string centralServerHost() override;
  bool remoteSharingAllowed() override { return m_settings.GetSettingNumber("remotes") == 1; }
  bool firstTimeSharing() override { return m_settings.GetSettingNumber("firstTimeSharing") == 1; }
  void clearFirstTimeSharing() override { m_settings.SetSettingNumber("firstTimeSharing", 0); }
  bool fileSecurity() override { return !m_hooks.fileSecurity || m_hooks.fileSecurity(); }
  bool contestEnabled() override { return m_state.Contest(); }
  void awardTransfer(int kilobytes, int files, std::string_view peer) override;
  void compareWithServer() override;
  void verifySharedFiles() override;
  bool startShareWindow(RequestParams& params) override;
  Log* log() override { return m_hooks.log; }

 private:
  ClientState& m_state;
  SettingsStore& m_settings;
  const FileServerHooks m_hooks;
};

}  // namespace vantrel
