// SPDX-License-Identifier: MIT
#include "protocol/server_target.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <memory>

namespace vantrel {

std::string ServerTarget::resolve(std::string_view host) {
  const std::string text(host);
  in_addr parsed{};
  if (::inet_pton(AF_INET, text.c_str(), &parsed) == 1) return text;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (text.empty() || ::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
  char out[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, out, sizeof out);
  return out;
}

int ServerTarget::SetServer(std::string_view host, int port) {
  if (host.size() > kMaxHost) return 0;
  std::string address = resolve(host);  // outside the lock: a look-up may take long
  std::scoped_lock lock(m_mutex);
  m_host = std::string(host);
  m_address = std::move(address);
  m_port = port > 0 && port <= 65535 ? port : kDefaultPort;
  return 1;
}

void ServerTarget::setPort(int port) {
  std::scoped_lock lock(m_mutex);
  m_port = port > 0 && port <= 65535 ? port : kDefaultPort;
}

std::string ServerTarget::host() const {
  std::scoped_lock lock(m_mutex);
  return m_host;
}

std::string ServerTarget::address() const {
  std::scoped_lock lock(m_mutex);
  return m_address;
}

int ServerTarget::port() const {
  std::scoped_lock lock(m_mutex);
  return m_port;
}

std::string ServerTarget::loginUrl() const {
  std::scoped_lock lock(m_mutex);
  return "http:\\\\" + m_host + ":" + std::to_string(m_port) + "\\clientrequest";
}

std::string ServerTarget::requestUrl(int32_t clientId) const {
  return loginUrl() + "?clientid=" + std::to_string(clientId);
}

}  // namespace vantrel
