// SPDX-License-Identifier: MIT
#pragma once
// CentralServer: the whole reference server in one object — database and
// server key, stores, client sessions, the HTTP listener that serves
// "/clientrequest", the web site and the offered update's files, the UDP ping
// service and the notifier.
// main() builds one; tests build one on ports the system picks.
//
// start() and stop() from one thread; the parts run their own threads.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/clients/client_protocol.h"
#include "server/clients/firewall_test_pool.h"
#include "server/clients/outbound.h"
#include "server/clients/server_context.h"
#include "server/clients/server_log.h"
#include "server/clients/udp_ping_service.h"
#include "server/clients/update_offer.h"
#include "server/http/http_listener.h"
#include "server/sessions/session_table.h"
#include "server/storage/database.h"
#include "server/store/account_store.h"
#include "server/store/catalogue_store.h"
#include "server/store/password_vault.h"
#include "server/web/web_site.h"

namespace vantrel::server {

struct ServerOptions {
  std::string dbPath;
  std::string keyPath;  // default: dbPath + ".key"
  std::string listenAddress = "127.0.0.1";
  uint16_t port = 7001;
  uint16_t udpPort = 7110;
  std::vector<std::pair<std::string, std::string>> users;  // name, password to create or update
  bool demoCatalogue = false;
  int clientVersion = kDefaultClientVersion;  // announced at login as "clientver"
  std::string updateDir;                      // its files are the update; "" offers none
  std::string updateComment;                  // shown by the client's update window
  std::string logPath;                        // "" logs to standard error
  bool logRequests = false;                   // one line per HTTP request
  // A client session without a ping for this long is dropped (the client's
  // own watchdog gives up on the server after the same time).
  int64_t sessionTimeoutSeconds = 600;
  int probeTimeoutMs = 5000;                  // a firewall test's TCP connect
  // PostgreSQL hot standbys of dbPath for the reads that may lag a little.
  std::vector<std::string> replicas;
  int replicaCheckMs = 1000;  // how often each replica is looked at
  int replicaMaxLagMs = 2000;  // further behind than this, it is skipped
  // "ADDR:PORT" of every server host: the discovery page sends each client
  // to one of them. Empty: to this host.
  std::vector<std::string> hosts;
  // Addresses of the proxies whose PROXY line or X-Forwarded-For header is
  // believed about a connection's real address.
  std::vector<std::string> proxies;
};

class CentralServer {
 public:
  CentralServer();
  ~CentralServer();
  CentralServer(const CentralServer&) = delete;
  CentralServer& operator=(const CentralServer&) = delete;

  bool start(const ServerOptions& options, std::string& error);
  void stop();

  uint16_t httpPort() const { return m_listener ? m_listener->port() : 0; }
  uint16_t udpPort() const { return m_udp ? m_udp->port() : 0; }
  ServerContext& context() { return m_context; }
  ServerLog& log() { return m_log; }
  Database& database() { return m_db; }
  ClientProtocol& protocol() { return *m_protocol; }
  HttpResponse route(const HttpRequest& request, const std::string& peerIp);

 private:
  HttpResponse dispatch(const HttpRequest& request, const std::string& peerIp);
  void sweepSessions(std::stop_token stop, int64_t timeoutSeconds);

  ServerLog m_log;
  bool m_logRequests = false;
  Database m_db;
  PasswordVault m_vault;
  AccountStore m_accounts{m_db, m_vault};
  CatalogueStore m_catalogue{m_db};
  SessionTable m_sessions;
  RemovalNotifier m_notifier;
  ServerContext m_context;
  std::unique_ptr<UpdateOffer> m_update;
  std::unique_ptr<ClientProtocol> m_protocol;
  std::unique_ptr<WebSite> m_web;
  std::unique_ptr<UdpPingService> m_udp;
  std::unique_ptr<FirewallTestPool> m_firewallTests;
  std::unique_ptr<HttpListener> m_listener;
  std::mutex m_sweepMutex;
  std::condition_variable_any m_sweepWake;
  std::jthread m_sweeper;
  bool m_started = false;
};

}  // namespace vantrel::server
