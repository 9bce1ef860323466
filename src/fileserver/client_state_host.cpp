// SPDX-License-Identifier: MIT
#include "fileserver/client_state_host.h"

#include "fileserver/request_reader.h"

namespace vantrel {

ClientStateHost::ClientStateHost(ClientState& state, SettingsStore& settings, FileServerHooks hooks)
    : m_state(state), m_settings(settings), m_hooks(std::move(hooks)) {}

std::optional<std::string> ClientStateHost::externalAddress() {
  std::string external = m_state.ExternalAddress();
  // Only an address that differs from the local one counts as external.
  if (external.empty() || equalsNoCase(external, m_state.LocalAddress())) return std::nullopt;
  return external;
}

void ClientStateHost::setLocalAddress(const std::string& address) {
  // The file server offers the host name's address, which is often a loopback
  // alias (127.0.1.1); the login already took the address of the interface
  // that reaches the central server, and that one stays.
  std::string own = m_state.LocalAddress();
  if (own.empty()) {
    own = address;
    m_state.SetLocalAddress(own);
  }
  if (m_hooks.localAddressChanged) m_hooks.localAddressChanged(own);
}

// Read at every request: a redirect may move the client to another server.
std::string ClientStateHost::centralServerHost() {
  return m_hooks.centralServerHost.empty() ? m_settings.GetSettingText("serveraddress") : m_hooks.centralServerHost;
}

void ClientStateHost::awardTransfer(int kilobytes, int files, std::string_view peer) {
  if (m_hooks.awardTransfer) m_hooks.awardTransfer(kilobytes, files, peer);
}

void ClientStateHost::compareWithServer() {
  if (m_hooks.compareWithServer) m_hooks.compareWithServer();
}

void ClientStateHost::verifySharedFiles() {
  if (m_hooks.verifySharedFiles) m_hooks.verifySharedFiles();
}

bool ClientStateHost::startShareWindow(RequestParams& params) {
  return m_hooks.startShareWindow && m_hooks.startShareWindow(params);
}

}  // namespace vantrel
