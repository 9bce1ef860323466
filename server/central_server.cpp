// SPDX-License-Identifier: MIT
#include "server/central_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "server/storage/replica_set.h"
#include "server/store/server_codes.h"
#include "server/store/server_setup.h"
#include "server/web/web_page.h"

namespace vantrel::server {

CentralServer::CentralServer()
    : m_context{m_accounts, m_catalogue, m_sessions, m_notifier, kDefaultClientVersion,
                [] { return static_cast<int64_t>(std::time(nullptr)); },
                [this](LogLevel level, const std::string& line) { m_log.write(level, line); }} {}

CentralServer::~CentralServer() { stop(); }

bool CentralServer::start(const ServerOptions& options, std::string& error) {
  if (!options.logPath.empty() && !m_log.openFile(options.logPath, error)) return false;
  m_logRequests = options.logRequests;
  m_db.setReport([this](bool failed, const std::string& line) {
    m_log.write(failed ? LogLevel::kError : LogLevel::kInfo, line);
  });
  if (!m_db.open(options.dbPath)) {
    error = "cannot open the database " + options.dbPath + ": " + m_db.error();
    return false;
  }
  m_db.addReplicas(options.dbPath, options.replicas, options.replicaCheckMs, options.replicaMaxLagMs);
  if (m_db.replicas() != nullptr) m_context.replicaWindowMs = m_db.replicas()->ownChangeWindow().count();
  if (!openServerKey(m_accounts, m_vault, options.dbPath, options.keyPath, error)) return false;
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
  if (options.demoCatalogue) {
    fillDemoCatalogue(m_catalogue);
  } else if (m_db.created()) {
    fillDefaultCatalogue(m_catalogue);
  }
  m_context.clientVersion = options.clientVersion;
  if (!options.updateDir.empty()) {
    m_update = std::make_unique<UpdateOffer>(options.updateDir, options.updateComment);
    if (!m_update->check(error)) return false;
    m_context.update = m_update.get();
  }

  m_firewallTests = std::make_unique<FirewallTestPool>();
  m_context.firewallTests = m_firewallTests.get();
  m_context.probeTimeoutMs = options.probeTimeoutMs;
  // Stored sessions (from before a restart, or made by another server
  // process on the database) are loaded when their clients first show up.
  m_protocol = std::make_unique<ClientProtocol>(m_context);
  m_web = std::make_unique<WebSite>(m_context, options.listenAddress, options.hosts);
  m_udp = std::make_unique<UdpPingService>(*m_protocol);
  if (!m_udp->bind(options.listenAddress, options.udpPort, error)) return false;
  m_listener = std::make_unique<HttpListener>(
      [this](const HttpRequest& request, const std::string& peerIp) { return route(request, peerIp); });
  m_listener->setProxies(options.proxies);
  if (!m_listener->listen(options.listenAddress, options.port, error)) return false;
  if (m_update) m_update->setAddress(options.listenAddress, m_listener->port());
  m_udp->start();
  m_listener->start();
  const int64_t timeout = options.sessionTimeoutSeconds;
  m_sweeper = std::jthread([this, timeout](std::stop_token st) { sweepSessions(st, timeout); });
  m_started = true;
  const bool v6 = options.listenAddress.find(':') != std::string::npos;
  m_log.info("vantrel-server started: http on " + (v6 ? "[" + options.listenAddress + "]" : options.listenAddress) +
             ":" + std::to_string(httpPort()) +
             ", UDP port " + std::to_string(udpPort()) + ", database " + options.dbPath);
  return true;
}

void CentralServer::stop() {
  if (m_sweeper.joinable()) {
    m_sweeper.request_stop();
    m_sweepWake.notify_all();
    m_sweeper.join();
  }
  if (m_listener) m_listener->stop();
  if (m_firewallTests) m_firewallTests->stop();
  if (m_udp) m_udp->stop();
  if (m_started) {
    m_started = false;
    m_log.info("vantrel-server stopped");
  }
}

void CentralServer::sweepSessions(std::stop_token stop, int64_t timeoutSeconds) {
  // Pings go to the database in batches once a second, which keeps a client
  // online for every server process on it, and the logins made through other
  // processes come in as often. Sessions are swept often enough that one goes
  // within a few per cent of its time-out.
  const auto flushEvery = std::chrono::seconds(1);
  const auto sweepEvery = std::chrono::seconds(std::clamp<int64_t>(timeoutSeconds / 20, 1, 30));
  auto nextSweep = std::chrono::steady_clock::now() + sweepEvery;
  while (!stop.stop_requested()) {
    {
      std::unique_lock lock(m_sweepMutex);
      m_sweepWake.wait_for(lock, stop, flushEvery, [] { return false; });
    }
    if (stop.stop_requested()) break;
    m_protocol->pickUpSessions();
    if (std::chrono::steady_clock::now() < nextSweep) {
      m_protocol->flushPings();
      continue;
    }
    nextSweep = std::chrono::steady_clock::now() + sweepEvery;
    m_protocol->expireSessions(timeoutSeconds);
  }
  m_protocol->flushPings();
}

HttpResponse CentralServer::route(const HttpRequest& request, const std::string& peerIp) {
  if (!m_logRequests) return dispatch(request, peerIp);
  const auto began = std::chrono::steady_clock::now();
  HttpResponse response = dispatch(request, peerIp);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began).count();
  // The path only: queries and bodies may carry tokens and passwords.
  char took[32];
  std::snprintf(took, sizeof took, "%.1f ms", static_cast<double>(micros) / 1000.0);
  m_log.info("request " + request.method + " " + request.path + " from " + peerIp + ": " +
             (response.handOff ? std::string("handed to the firewall-test pool") : std::to_string(response.status)) +
             " in " + took);
  return response;
}

HttpResponse CentralServer::dispatch(const HttpRequest& request, const std::string& peerIp) {
  if (m_update && request.method == "GET" && request.path.rfind(UpdateOffer::kPathPrefix, 0) == 0) {
    return m_update->serve(request.path);
  }
  const bool client = request.path == "/clientrequest" || request.path == "/clientrequest/";
  storage_fault::clear();
  HttpResponse response = client ? m_protocol->handle(request, peerIp) : m_web->handle(request, peerIp);
  if (!storage_fault::noted() || response.handOff) return response;
  // What the reads seemed to say while the database was away (no such user,
  // no files) is not the answer: the request could not be served.
  storage_fault::clear();
  HttpResponse failed;
  if (client) {
    failed.body = "result=" + std::to_string(result::kServerError) + "&";
  } else {
    // No user: who is signed in could not be read either.
    failed = htmlResponse(renderPage("Service unavailable",
                                     "<p>The service is not available for a moment. Please try again shortly.</p>",
                                     std::nullopt),
                          503);
    failed.extraHeaders.push_back("Retry-After: 5");
  }
  return failed;
}

}  // namespace vantrel::server
