// SPDX-License-Identifier: MIT
#pragma once
// ClientServices: the ports that the file server and the page providers call,
// implemented over the running client: ClientState for sessions, counters and
// limits, the settings store for the switches, the session key for "@"
// parameters and tokens, the contest table for points, and the shared-file list
// of the current login.
//
// Owned by ClientCore for the life of a login; everything it refers to must
// outlive it. Called from file-server connection threads, many at once: it
// keeps no state of its own beyond references.

#include <functional>
#include <string>

#include "catalogue/shared_file_list.h"
#include "core/client_state.h"
#include "core/log.h"
#include "fileserver/file_server_host.h"
#include "fileserver/request_params.h"
#include "protocol/protocol_context.h"
#include "templates/providers/client_facts.h"

namespace vantrel {

class ClientServices : public FileServerHost, public ClientFacts, public ParameterCipher {
 public:
  // `verifyFiles` runs the verification pass of the shared files and
  // `shareWindow` opens the share-files window (either may be empty).
  ClientServices(ProtocolContext& protocol, SharedFileList& files, int port, std::string homeDirectory,
                 std::function<void()> verifyFiles = {}, std::function<bool(RequestParams&)> shareWindow = {});

  // FileServerHost
  std::shared_ptr<UploadSession> newUploadSession() override;
  void removeUploadSession(int32_t sessionId) override;
  int uploadsFromAddress(std::string_view peer) override;
  void uploadStarted() override;
  void uploadEnded() override;
  int activeUploads() override;
  int64_t countSent(uint32_t bytes, std::string_view peer) override;
  void fileSent() override;
  int maxUsers() override;
  int maxPerUser() override;
  int maxUserBand() override;
  int clientVersion() override;
  std::string localAddress() override;
  void setLocalAddress(const std::string& address) override;
  std::optional<std::string> externalAddress() override;
  std::string centralServerHost() override;
  bool remoteSharingAllowed() override;
  bool firstTimeSharing() override;
  void clearFirstTimeSharing() override;
  bool fileSecurity() override;
  bool contestEnabled() override;
  void awardTransfer(int kilobytes, int files, std::string_view peer) override;
  void compareWithServer() override;
  void verifySharedFiles() override;
  bool startShareWindow(RequestParams& params) override;
  Log* log() override;

  // ClientFacts
  std::string ownAddress() const override;
  int fileServerPort() const override;
  std::string userName() const override;
  std::string serverAddress() const override;
  int serverPort() const override;
  int activeUploads() const override;
  int peakUploads() const override;
  int filesSent() const override;
  uint32_t currentRate() const override;
  uint32_t peakRate() const override;
  std::string totalSentText() const override;
  std::optional<int32_t> setting(std::string_view name) const override;
  std::vector<std::shared_ptr<UploadSession>> sessions() const override;
  std::size_t sessionCount() const override;
  SharedFileList& sharedFiles() const override;
  std::string encryptText(std::string_view plain) const override;
  std::string makeToken(std::string_view text) const override;
  std::string homeDirectory() const override;

  // ParameterCipher
  std::string decryptText(std::string_view cipher) const override;

 private:
  ProtocolContext& m_protocol;
  SharedFileList& m_files;
  const int m_port;
  const std::string m_home;
  const std::function<void()> m_verifyFiles;
  const std::function<bool(RequestParams&)> m_shareWindow;
};

}  // namespace vantrel
