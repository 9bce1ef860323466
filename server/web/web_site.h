// SPDX-License-Identifier: MIT
#pragma once
// WebSite: the service's web pages on the server's own port — the discovery
// page the client reads, sign-up, sign-in (also the client's signed links to
// a group's settings and to an invitation), the proxy check, and through
// CataloguePages the catalogue, search and group administration.
//
// Thread-safe: called from the listener's workers at once.

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "server/clients/server_context.h"
#include "server/http/http_request.h"
#include "server/http/login_throttle.h"
#include "server/web/catalogue_pages.h"
#include "server/web/web_page.h"

namespace vantrel::server {

// The one of `hosts` (not empty) that the client at `address` is sent to:
// always the same for one address, the addresses spread evenly, and a host
// taken off the list moves only its own clients (rendezvous hashing).
const std::string& hostFor(const std::vector<std::string>& hosts, std::string_view address);

class WebSite {
 public:
  // `serverHost` is what the discovery page names as the server; with
  // `hosts`, it names the one of them the asking client belongs to.
  WebSite(ServerContext& context, std::string serverHost, std::vector<std::string> hosts = {})
      : m_ctx(context), m_serverHost(std::move(serverHost)), m_hosts(std::move(hosts)), m_catalogue(context) {}

  HttpResponse handle(const HttpRequest& request, const std::string& peerIp);

 private:
  HttpResponse discovery(const WebRequest& req);
  HttpResponse home(const WebRequest& req);
  HttpResponse signup(const WebRequest& req);
  HttpResponse login(const WebRequest& req);
  HttpResponse clientLogin(const WebRequest& req);
  // The post-back of the page clientLogin shows: the only way a link signs in.
  HttpResponse clientLoginHandoff(const WebRequest& req);
  HttpResponse logout(const WebRequest& req);
  HttpResponse proxyCheck(const WebRequest& req);
  // Signs the user in with a fresh cookie and sends the browser on.
  HttpResponse signIn(const UserRecord& user, const std::string& location);

  ServerContext& m_ctx;
  std::string m_serverHost;
  std::vector<std::string> m_hosts;
  CataloguePages m_catalogue;

  // The File Manager's sign-in links: each is good once, for a short time,
  // from the client's own address, and leads to a page whose form posts back
  // a one-time hand-off that sets the session.
  struct Handoff {
    int64_t userId = 0;
    std::string location;
    std::string peerIp;
    int64_t expires = 0;
  };
  std::mutex m_linkMutex;
  std::map<std::string, int64_t> m_usedLinks;  // digest of the sealed text → when to forget it; guarded by m_linkMutex
  std::map<std::string, Handoff> m_handoffs;   // guarded by m_linkMutex
};

}  // namespace vantrel::server
