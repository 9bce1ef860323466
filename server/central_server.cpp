// SPDX-License-Identifier: MIT
#include "server/central_server.h"

#include <cstdio>
#include <filesystem>
#include <ctime>

#include "server/server_codes.h"

namespace vantrel::server {

CentralServer::CentralServer()
    : m_context{m_accounts, m_catalogue, m_sessions, m_notifier, kDefaultClientVersion,
                [] { return static_cast<int64_t>(std::time(nullptr)); },
                [](const std::string& line) { std::fprintf(stderr, "vantrel-server: %s\n", line.c_str()); }} {}

CentralServer::~CentralServer() { stop(); }

bool CentralServer::start(const ServerOptions& options, std::string& error) {
  if (!m_db.open(options.dbPath)) {
    error = "cannot open the database " + options.dbPath + ": " + m_db.error();
    return false;
  }
  const std::string keyPath = options.keyPath.empty() ? options.dbPath + ".key" : options.keyPath;
  // A fresh key would make every stored password unreadable, so a database
  // that holds accounts never gets one silently.
  std::error_code ec;
  if (!std::filesystem::exists(keyPath, ec) && m_accounts.userCount() > 0) {
    error = "the server key " + keyPath + " is missing: the " + std::to_string(m_accounts.userCount()) +
            " accounts in " + options.dbPath + " cannot be read without it; restore it from a backup";
    return false;
  }
  if (!m_vault.openKeyFile(keyPath, error)) return false;
  if (m_accounts.userCount() > 0 && !m_accounts.anyPasswordReadable()) {
    error = "the server key " + keyPath + " does not open the passwords stored in " + options.dbPath +
            "; it belongs to another database";
    return false;
  }
  for (const auto& [name, password] : options.users) {
    switch (m_accounts.createOrUpdateUser(name, password)) {
      case AccountStore::Result::kOk: break;
      case AccountStore::Result::kNameTaken:
      case AccountStore::Result::kBadName:
        error = "bad user name \"" + name + "\" (3 to 31 letters, digits, _ - .)";
        return false;
      case AccountStore::Result::kBadPassword:
        error = "the password of \"" + name + "\" must have 4 to 64 characters";
        return false;
      case AccountStore::Result::kStorageFailed: error = "cannot store the user \"" + name + "\""; return false;
    }
  }
  if (options.demoCatalogue) fillDemoCatalogue(m_catalogue);
  m_context.clientVersion = options.clientVersion;
  if (!options.updateDir.empty()) {
    m_update = std::make_unique<UpdateOffer>(options.updateDir, options.updateComment);
    if (!m_update->check(error)) return false;
    m_context.update = m_update.get();
  }

  m_protocol = std::make_unique<ClientProtocol>(m_context);
  m_protocol->restoreSessions();
  m_web = std::make_unique<WebSite>(m_context, options.listenAddress);
  m_udp = std::make_unique<UdpPingService>(*m_protocol);
  if (!m_udp->bind(options.listenAddress, options.udpPort, error)) return false;
  m_listener = std::make_unique<HttpListener>(
      [this](const HttpRequest& request, const std::string& peerIp) { return route(request, peerIp); });
  if (!m_listener->listen(options.listenAddress, options.port, error)) return false;
  if (m_update) m_update->setAddress(options.listenAddress, m_listener->port());
  m_udp->start();
  m_listener->start();
  return true;
}

void CentralServer::stop() {
  if (m_listener) m_listener->stop();
  if (m_udp) m_udp->stop();
}

HttpResponse CentralServer::route(const HttpRequest& request, const std::string& peerIp) {
  if (request.path == "/clientrequest" || request.path == "/clientrequest/") return m_protocol->handle(request, peerIp);
  if (m_update && request.method == "GET" && request.path.rfind(UpdateOffer::kPathPrefix, 0) == 0) {
    return m_update->serve(request.path);
  }
  return m_web->handle(request, peerIp);
}

bool fillDemoCatalogue(CatalogueStore& catalogue) {
  if (!catalogue.isEmpty()) return false;
  auto group = [&](int64_t parent, const char* name, int memb, int perm, const char* password,
                   const char* description) {
    NewGroup g;
    g.name = name;
    g.parentId = parent;
    g.memb = memb;
    g.perm = perm;
    g.password = password;
    g.description = description;
    int64_t id = 0;
    catalogue.createGroup(g, 0, &id);
    return id;
  };
  const int64_t music = catalogue.createCategory(0, "Music", true);
  const int64_t video = catalogue.createCategory(0, "Video", true);
  const int64_t software = catalogue.createCategory(0, "Software", false);
  const int64_t documents = catalogue.createCategory(0, "Documents", true);
  const int64_t linux = catalogue.createCategory(software, "Linux", true);
  const int64_t archive = catalogue.createCategory(software, "Archive", true);

  const int64_t lounge = group(music, "Open Music Lounge", policy::kAdmitAll, policy::kPublicDownload, "",
                               "Anyone may join and share; anyone may download.");
  group(music, "Jazz Collectors", policy::kApply, policy::kMemberDownload, "",
        "Apply to join; only members download.");
  group(video, "Home Movies", policy::kPassword, policy::kPublicDownload, "demo",
        "Join with the password \"demo\"; anyone may download.");
  group(video, "Film Club", policy::kApplyOrPassword, policy::kMemberDownload, "club",
        "Apply, or join with the password \"club\"; only members download.");
  const int64_t tools = group(linux, "Linux Tools", policy::kAdmitAll, policy::kPublicDownload, "",
                              "Scripts and small programs.");
  group(archive, "Closed Archive", policy::kDenyAll, policy::kPublicDownload, "", "Closed to new members.");
  const int64_t reading = group(documents, "Reading Room", policy::kAdmitAll, policy::kMemberDownload, "",
                                "Papers and books; members download.");
  catalogue.addDirectory(lounge, "Rock");
  catalogue.addDirectory(lounge, "Classical");
  catalogue.addDirectory(tools, "Scripts");
  catalogue.addDirectory(reading, "Papers");
  return true;
}

}  // namespace vantrel::server
