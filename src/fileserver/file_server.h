// SPDX-License-Identifier: MIT
#pragma once
// FileServer: the client's HTTP/1.0 server for other users' browsers and
// download managers, the central server and the client's own pages. A TcpServer
// whose connections are FileServerConnections. Holds the ports it serves
// through (host, renderer, commands), the optional "@" parameter cipher and the
// recent-uploads list. Created and started by the application; the ports must
// outlive it. Thread-safe as TcpServer is.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "fileserver/file_server_host.h"
#include "fileserver/recent_uploads.h"
#include "fileserver/token_check.h"
#include "net/tcp_server.h"

namespace vantrel {

class SharedFileList;

class FileServer : public TcpServer {
 public:
  // Connections served at once from one remote address: a browser opens a few,
  // a download manager some more; one sender cannot hold the whole server.
  static constexpr std::size_t kConnectionsPerAddress = 16;

  // `commands` and `cipher` may be null: commands then answer "Unrecognized
  // command" and "@" parameters decrypt to nothing.
  FileServer(FileServerHost& host, PageRenderer& renderer, SharedFileList& files, CommandHandlers* commands,
             const ParameterCipher* cipher);
  ~FileServer() override;

  FileServerHost& host() const { return m_host; }
  PageRenderer& renderer() const { return m_renderer; }
  SharedFileList& files() const { return m_files; }
  CommandHandlers* commands() const { return m_commands; }
  const ParameterCipher* cipher() const { return m_cipher; }
  RecentUploads& recentUploads() { return m_recent; }
  // Hosts whose pages may drive this server through a browser.
  TrustedHosts trustedHosts() const;

  // A download whose reader takes nothing for this long gives its slot up.
  static constexpr std::chrono::seconds kStalledDownload{15};
  std::chrono::milliseconds stalledDownloadLimit() const { return m_stalledLimit.load(); }
  void setStalledDownloadLimit(std::chrono::milliseconds limit) { m_stalledLimit = limit; }
  // Downloads to this computer running now: they never take a peer's slot.
  std::atomic<int>& localUploads() { return m_localUploads; }

 protected:
  std::unique_ptr<TcpConnection> createConnection() override;
  void ownAddressFound(const std::string& address) override;

 private:
  FileServerHost& m_host;
  PageRenderer& m_renderer;
  SharedFileList& m_files;
  CommandHandlers* const m_commands;
  const ParameterCipher* const m_cipher;
  RecentUploads m_recent;
  std::vector<std::string> m_ownAddresses;  // read-only after construction
  std::string m_hostName;                   // read-only after construction
  std::atomic<std::chrono::milliseconds> m_stalledLimit{kStalledDownload};
  std::atomic<int> m_localUploads{0};
};

}  // namespace vantrel
