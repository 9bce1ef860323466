// SPDX-License-Identifier: MIT
#include "fileserver/file_server.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include "fileserver/file_server_connection.h"
#include "net/socket_io.h"
#include "templates/template_limits.h"

namespace vantrel {
namespace {

// Rendering a page nests as deep as the template limits allow; the request
// handling around it needs far less than this margin.
constexpr std::size_t kConnectionStackBytes = templates::kRenderStackBytes + 1024 * 1024;

std::vector<std::string> interfaceAddresses() {
  std::vector<std::string> out{"127.0.0.1"};
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if (auto text = peerAddressText(*reinterpret_cast<const sockaddr_in*>(i->ifa_addr))) out.push_back(*text);
  }
  ::freeifaddrs(list);
  return out;
}

}  // namespace

FileServer::FileServer(FileServerHost& host, PageRenderer& renderer, SharedFileList& files, CommandHandlers* commands,
                       const ParameterCipher* cipher)
    : m_host(host),
      m_renderer(renderer),
      m_files(files),
      m_commands(commands),
      m_cipher(cipher),
      m_ownAddresses(interfaceAddresses()) {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) == 0) m_hostName = name;
  setConnectionStackBytes(kConnectionStackBytes);
  setConnectionsPerAddress(kConnectionsPerAddress);
  // Senders on many addresses trickling their heads: when full, the one
  // longest at its head gives its place to a newcomer.
  setSlowHeadEviction(true);
}

FileServer::~FileServer() { stopAndJoin(); }

std::unique_ptr<TcpConnection> FileServer::createConnection() {
  return std::make_unique<FileServerConnection>(*this);
}

void FileServer::ownAddressFound(const std::string& address) { m_host.setLocalAddress(address); }

TrustedHosts FileServer::trustedHosts() const {
  TrustedHosts trusted{m_ownAddresses, m_hostName, m_host.centralServerHost()};
  const std::string own = m_host.localAddress();
  if (!own.empty()) trusted.ownAddresses.push_back(own);
  return trusted;
}

}  // namespace vantrel
