// SPDX-License-Identifier: MIT
#pragma once
// ClientStateFacts: ClientFacts over the running client: the client state
// (counters, rates, the session map under its lock, the login texts), the
// settings store, the session key and the shared-file list. What the client
// state does not hold (the file server's port, the central server's address)
// comes from the endpoints the application gives.
//
// Thread-safe as the parts it reads are; all of them must outlive it.

#include <functional>
#include <string>

#include "fileserver/request_params.h"
#include "providers/client_facts.h"

namespace vantrel {

class ClientState;
class SessionKey;
class SettingsStore;

struct ClientEndpoints {
  std::function<int()> fileServerPort;          // default 8323 when empty
  std::function<std::string()> serverAddress;   // "" when empty
  std::function<int()> serverPort;              // default 80 when empty
  std::string homeDirectory;                    // where the directory browser starts
};

// Also the file server's cipher for "@" parameters, with the same session key.
class ClientStateFacts : public ClientFacts, public ParameterCipher {
 public:
  ClientStateFacts(ClientState& state, SettingsStore& settings, const SessionKey& key, SharedFileList& files,
                   ClientEndpoints endpoints);

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
  int64_t totalBytesSent() const override;
  int maxUsersEnforced() const override;
  int maxPerUserEnforced() const override;
  std::optional<int32_t> setting(std::string_view name) const override;
  std::vector<std::shared_ptr<UploadSession>> sessions() const override;
  std::size_t sessionCount() const override;
  SharedFileList& sharedFiles() const override { return m_files; }
  std::string encryptText(std::string_view plain) const override;
  std::string makeToken(std::string_view text) const override;
  std::string homeDirectory() const override { return m_endpoints.homeDirectory; }

  // ParameterCipher
  std::string decryptText(std::string_view cipher) const override;

 private:
  ClientState& m_state;
  SettingsStore& m_settings;
  const SessionKey& m_key;
  SharedFileList& m_files;
  const ClientEndpoints m_endpoints;
};

}  // namespace vantrel
