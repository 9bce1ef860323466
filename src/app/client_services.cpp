// SPDX-License-Identifier: MIT
#include "app/client_services.h"

#include "platform/app_paths.h"

namespace vantrel {

ClientServices::ClientServices(ProtocolContext& protocol, SharedFileList& files, int port, std::string homeDirectory,
                               std::function<void()> verifyFiles, std::function<bool(RequestParams&)> shareWindow)
    : m_protocol(protocol),
      m_files(files),
      m_port(port),
      m_home(std::move(homeDirectory)),
      m_verifyFiles(std::move(verifyFiles)),
      m_shareWindow(std::move(shareWindow)) {}

std::shared_ptr<UploadSession> ClientServices::newUploadSession() { return m_protocol.state.NewUploadSession(); }
void ClientServices::removeUploadSession(int32_t sessionId) { m_protocol.state.RemoveUploadSession(sessionId); }
int ClientServices::uploadsFromAddress(std::string_view peer) { return m_protocol.state.UploadsFromAddress(peer); }
void ClientServices::uploadStarted() { m_protocol.state.UploadStarted(); }
void ClientServices::uploadEnded() { m_protocol.state.UploadEnded(); }
int ClientServices::activeUploads() { return m_protocol.state.ActiveUploads(); }
int64_t ClientServices::countSent(uint32_t bytes, std::string_view peer) { return m_protocol.state.CountSent(bytes, peer); }
void ClientServices::fileSent() { m_protocol.state.FileSent(); }
int ClientServices::maxUsers() { return m_protocol.state.MaxUsers(); }
int ClientServices::maxPerUser() { return m_protocol.state.MaxPerUser(); }
int ClientServices::maxUserBand() { return m_protocol.state.MaxUserBand(); }
int ClientServices::clientVersion() { return ClientState::kOwnClientVersion; }
std::string ClientServices::localAddress() { return m_protocol.state.LocalAddress(); }
void ClientServices::setLocalAddress(const std::string& address) {
  m_protocol.state.SetLocalAddress(address);
  m_protocol.contest.setLocalAddress(address);
}
std::optional<std::string> ClientServices::externalAddress() {
  std::string external = m_protocol.state.ExternalAddress();
  if (external.empty() || external == m_protocol.state.LocalAddress()) return std::nullopt;
  return external;
}
std::string ClientServices::centralServerHost() { return m_protocol.settings.GetSettingText("serveraddress"); }
bool ClientServices::remoteSharingAllowed() { return m_protocol.settings.GetSettingNumber("remotes") == 1; }
bool ClientServices::firstTimeSharing() { return m_protocol.settings.GetSettingNumber("firstTimeSharing") == 1; }
void ClientServices::clearFirstTimeSharing() { m_protocol.settings.SetSettingNumber("firstTimeSharing", 0); }
// Download tokens are always checked: turning the check off would let anyone
// who guesses a file ID fetch the file.
bool ClientServices::fileSecurity() { return true; }
bool ClientServices::contestEnabled() { return m_protocol.state.Contest(); }
void ClientServices::awardTransfer(int kilobytes, int files, std::string_view peer) {
  m_protocol.contest.AwardTransfer(kilobytes, files, peer);
}
void ClientServices::compareWithServer() {
  if (m_protocol.compareWithServer) m_protocol.compareWithServer();
}
void ClientServices::verifySharedFiles() {
  if (m_verifyFiles) m_verifyFiles();
}
bool ClientServices::startShareWindow(RequestParams& params) { return m_shareWindow && m_shareWindow(params); }
Log* ClientServices::log() { return m_protocol.log; }

std::string ClientServices::ownAddress() const { return m_protocol.state.LocalAddress(); }
int ClientServices::fileServerPort() const { return m_port; }
std::string ClientServices::userName() const {
  std::string name = m_protocol.state.UserName();
  return name.empty() ? std::string(ClientLogin::kNotLoggedIn) : name;
}
std::string ClientServices::serverAddress() const { return m_protocol.target.host(); }
int ClientServices::serverPort() const { return m_protocol.target.port(); }
int ClientServices::activeUploads() const { return m_protocol.state.ActiveUploads(); }
int ClientServices::peakUploads() const { return m_protocol.state.PeakUploads(); }
int ClientServices::filesSent() const { return m_protocol.state.FilesSent(); }
uint32_t ClientServices::currentRate() const { return m_protocol.state.CurrentRate(); }
uint32_t ClientServices::peakRate() const { return m_protocol.state.PeakRate(); }
std::string ClientServices::totalSentText() const { return m_protocol.state.FormatTotalSent(); }
std::optional<int32_t> ClientServices::setting(std::string_view name) const {
  const int32_t value = m_protocol.settings.GetSettingNumber(name);
  if (value == -1) return std::nullopt;
  return value;
}
std::vector<std::shared_ptr<UploadSession>> ClientServices::sessions() const { return m_protocol.state.Sessions(); }
std::size_t ClientServices::sessionCount() const { return m_protocol.state.SessionCount(); }
SharedFileList& ClientServices::sharedFiles() const { return m_files; }
std::string ClientServices::encryptText(std::string_view plain) const { return m_protocol.key.EncryptText(plain); }
std::string ClientServices::makeToken(std::string_view text) const { return m_protocol.key.MakeToken(text); }
std::string ClientServices::homeDirectory() const { return withTrailingSlash(userHomeDirectory()); }
std::string ClientServices::decryptText(std::string_view cipher) const { return m_protocol.key.DecryptText(cipher); }

}  // namespace vantrel
