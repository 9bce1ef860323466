// SPDX-License-Identifier: MIT
#include "providers/client_state_facts.h"

#include "crypto/session_key.h"
#include "settings/settings_store.h"
#include "state/client_state.h"

namespace vantrel {

ClientStateFacts::ClientStateFacts(ClientState& state, SettingsStore& settings, const SessionKey& key,
                                   SharedFileList& files, ClientEndpoints endpoints)
    : m_state(state), m_settings(settings), m_key(key), m_files(files), m_endpoints(std::move(endpoints)) {}

std::string ClientStateFacts::ownAddress() const {
  std::string address = m_state.LocalAddress();
  return address.empty() ? std::string("127.0.0.1") : address;
}

int ClientStateFacts::fileServerPort() const { return m_endpoints.fileServerPort ? m_endpoints.fileServerPort() : 8323; }

// "Not logged into server" until a login sets the user's name.
std::string ClientStateFacts::userName() const {
  std::string name = m_state.UserName();
  return name.empty() ? m_state.StatusText() : name;
}

std::string ClientStateFacts::serverAddress() const {
  return m_endpoints.serverAddress ? m_endpoints.serverAddress() : std::string();
}

int ClientStateFacts::serverPort() const { return m_endpoints.serverPort ? m_endpoints.serverPort() : 80; }
int ClientStateFacts::activeUploads() const { return m_state.ActiveUploads(); }
int ClientStateFacts::peakUploads() const { return m_state.PeakUploads(); }
int ClientStateFacts::filesSent() const { return m_state.FilesSent(); }
uint32_t ClientStateFacts::currentRate() const { return m_state.CurrentRate(); }
uint32_t ClientStateFacts::peakRate() const { return m_state.PeakRate(); }
std::string ClientStateFacts::totalSentText() const { return m_state.FormatTotalSent(); }

int ClientStateFacts::maxUsersEnforced() const { return m_state.MaxUsers(); }
int ClientStateFacts::maxPerUserEnforced() const { return m_state.MaxPerUser(); }

int64_t ClientStateFacts::totalBytesSent() const {
  // The totals count in units of 1024, each below the next.
  const SentTotals t = m_state.Totals();
  int64_t total = t.terabytes;
  for (const uint32_t part : {t.gigabytes, t.megabytes, t.kilobytes, t.bytes}) total = total * 1024 + part;
  return total;
}

std::optional<int32_t> ClientStateFacts::setting(std::string_view name) const {
  const int32_t value = m_settings.GetSettingNumber(name);
  if (value == -1) return std::nullopt;  // missing or not a number
  return value;
}

std::vector<std::shared_ptr<UploadSession>> ClientStateFacts::sessions() const { return m_state.Sessions(); }
std::size_t ClientStateFacts::sessionCount() const { return m_state.SessionCount(); }
std::string ClientStateFacts::encryptText(std::string_view plain) const { return m_key.EncryptText(plain); }
std::string ClientStateFacts::makeToken(std::string_view text) const { return m_key.MakeToken(text); }
std::string ClientStateFacts::decryptText(std::string_view cipher) const { return m_key.DecryptText(cipher); }

}  // namespace vantrel
