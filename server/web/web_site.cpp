// SPDX-License-Identifier: MIT
#include "server/web/web_site.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "core/base64.h"
#include "server/http/form_fields.h"
#include "server/web/form_token.h"

namespace vantrel::server {

namespace {

// Where a signed-in browser may be sent: a path on this site only. Browsers
// drop tabs and line breaks from a Location before following it, and read "\"
// as "/", so "/\t/host" or "/\\host" would leave the site: any control
// character, and a second "/" or any "\", send the visitor home instead.
std::string safeLocation(const std::string& next) {
  for (const char c : next) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '\\') return "/";
  }
  if (next.empty() || next.front() != '/' || (next.size() > 1 && next[1] == '/')) return "/";
  return next;
}

// How long a sign-in link of the File Manager, and the page it leads to, stay good.
constexpr int64_t kClientLinkSeconds = 120;

std::string sha256Of(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string randomToken() {
  unsigned char bytes[24];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
  return hexEncode(bytes);
}

std::string hostWithoutPort(std::string host) {
  const size_t colon = host.find(':');
  if (colon != std::string::npos) host.resize(colon);
  return host;
}

}  // namespace

HttpResponse WebSite::handle(const HttpRequest& request, const std::string& peerIp) {
  WebRequest req{request, peerIp, FormFields(request.query, FormFields::Decoding::kUrl), std::nullopt, {}};
  if (request.method == "POST") {
    req.form.add(request.body, FormFields::Decoding::kUrl);
  } else if (request.method != "GET" && request.method != "HEAD") {
    return messagePage(req, "Not allowed", "This method is not supported.", 405);
  }
  req.cookie = cookieValue(request.header("Cookie"), kSessionCookie);
  req.user = m_ctx.accounts.webSessionUser(req.cookie, m_ctx.now());
  // Forms from another site must not act for a signed-in user, nor sign anyone in.
  if (request.method == "POST" && !formMayAct(req)) {
    return messagePage(req, "Refused", "Cross-site form refused.", 403);
  }

  // A visitor who is not signed in has changed nothing to look for: the
  // pages may come from a replica. Signed-in people read from the primary,
  // so a page shows what they did a moment ago.
  ReplicaReadScope replica(request.method != "POST" && req.cookie.empty() && m_ctx.replicaWindowMs >= 0);
  const std::string& path = request.path;
  if (path == "/server.html") return discovery(req);
  if (path == "/" || path == "/index.jsp" || path == "/index.html") return home(req);
  if (path == "/signup.jsp") return signup(req);
  if (path == "/login.jsp") {
    if (request.method == "POST" && req.form.has("handoff")) return clientLoginHandoff(req);
    return req.form.has("clientid") ? clientLogin(req) : login(req);
  }
  if (path == "/logout.jsp") return logout(req);
  if (path == "/checkforproxy.jsp") return proxyCheck(req);
  if (path == "/browse.jsp") return m_catalogue.browse(req);
  if (path == "/group.jsp") return m_catalogue.group(req);
  if (path == "/join.jsp") return m_catalogue.join(req);
  if (path == "/search.jsp") return m_catalogue.search(req);
  if (path == "/groupsettings.jsp") return m_catalogue.groupSettings(req);
  if (path == "/composemessage.jsp") return m_catalogue.invite(req);
  return messagePage(req, "Not found", "There is no page at this address.", 404);
}

const std::string& hostFor(const std::vector<std::string>& hosts, std::string_view address) {
  const auto weight = [&](const std::string& host) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a over "host\naddress"
    const auto mix = [&](std::string_view text) {
      for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    };
    mix(host);
    mix("\n");
    mix(address);
    // FNV's high bits move little with the last characters; mixed, they do.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
  };
  size_t best = 0;
  uint64_t bestWeight = weight(hosts[0]);
  for (size_t i = 1; i < hosts.size(); ++i) {
    const uint64_t w = weight(hosts[i]);
    if (w > bestWeight) {
      best = i;
      bestWeight = w;
    }
  }
  return hosts[best];
}

HttpResponse WebSite::discovery(const WebRequest& req) {
  // The client takes the first line holding "&server=HOST&". Sent to one
  // host for good, a client logs in, pings and asks there.
  std::string host = m_hosts.empty() ? m_serverHost : hostFor(m_hosts, req.peerIp);
  if (host.empty() || host == "0.0.0.0") host = hostWithoutPort(req.http.header("Host"));
  if (host.empty()) host = "127.0.0.1";
  HttpResponse r;
  r.contentType = "text/html";
  r.body = "<html><head><title>Vantrel server</title></head><body>\r\n&server=" + host + "&\r\n</body></html>\r\n";
  return r;
}

HttpResponse WebSite::home(const WebRequest& req) {
  std::string body;
  if (!req.user) {
    body = "<p>Vantrel lets you share files from your own computer with groups of people, and browse and download "
           "what they share.</p><ol><li><a href=\"/signup.jsp\">Create your account</a>.</li>"
           "<li>Start the Vantrel File Manager and sign in with the same name and password.</li>"
           "<li><a href=\"/browse.jsp\">Browse the catalogue</a>, join groups and share files into them.</li></ol>";
    return htmlResponse(renderPage("Welcome to Vantrel", body, req.user));
  }
  const auto clientId = m_ctx.accounts.clientIdFor(req.user->id);
  const bool online = clientId && m_ctx.sessions.online(*clientId, m_ctx.now());
  body += online ? "<p>Your File Manager is connected; use the <em>Share files here</em> links to share into a group.</p>"
                 : "<p class=\"muted\">Your File Manager is not connected. Start it and sign in to share files.</p>";
  const int pending = m_ctx.catalogue.pendingApplications(req.user->id);
  if (pending > 0) body += "<p><b>" + std::to_string(pending) + "</b> application(s) wait in your groups' settings.</p>";
  body += "<h2>My groups</h2>" + m_catalogue.myGroups(req);
  const std::string notice = req.form.first("welcome") == "1" ? "Your account is ready." : "";
  return htmlResponse(renderPage("Hello, " + req.user->name, body, req.user, notice));
}

HttpResponse WebSite::signup(const WebRequest& req) {
  std::string error;
  const std::string name = req.form.first("username");
  if (req.http.method == "POST") {
    const std::string password = req.form.first("password");
    if (password != req.form.first("password2")) {
      error = "The two passwords differ.";
    } else {
      switch (m_ctx.accounts.createUser(name, password, req.form.first("email"))) {
        case AccountStore::Result::kOk:
          if (const auto user = m_ctx.accounts.findUser(name)) return signIn(*user, "/?welcome=1");
          error = "The account was made but signing in failed; please sign in.";
          break;
        case AccountStore::Result::kNameTaken: error = "That name is taken, please choose another."; break;
        case AccountStore::Result::kBadName:
          error = "A name has 3 to 31 letters, digits, \"_\", \"-\" or \".\".";
          break;
        case AccountStore::Result::kBadPassword: error = "A password has 4 to 64 characters."; break;
        case AccountStore::Result::kStorageFailed: error = "The account could not be stored; try again."; break;
      }
    }
  }
  std::string body;
  if (!error.empty()) body += "<div class=\"error\">" + htmlEscape(error) + "</div>";
  body += "<form class=\"box\" method=\"post\" action=\"/signup.jsp\">" + formTokenField(req) +
          "<label for=\"u\">User name</label><input id=\"u\" type=\"text\" name=\"username\" required "
          "minlength=\"3\" maxlength=\"31\" value=\"" + htmlEscape(name) + "\">"
          "<label for=\"p\">Password</label><input id=\"p\" type=\"password\" name=\"password\" required minlength=\"4\">"
          "<label for=\"p2\">Password again</label><input id=\"p2\" type=\"password\" name=\"password2\" required>"
          "<label for=\"e\">E-mail (optional)</label><input id=\"e\" type=\"email\" name=\"email\">"
          "<button type=\"submit\">Create account</button></form>";
  return htmlResponse(renderPage("Sign up", body, req.user), error.empty() ? 200 : 400);
}

HttpResponse WebSite::login(const WebRequest& req) {
  std::string error;
  const std::string next = safeLocation(req.form.first("next"));
  if (req.http.method == "POST") {
    const std::string name = req.form.first("username");
    const int64_t now = m_ctx.now();
    if (!m_ctx.loginThrottle.allowed(name, req.peerIp, now)) {
      error = "Too many failed attempts; please wait a few minutes.";
    } else if (const auto user = m_ctx.accounts.checkPassword(name, req.form.first("password"))) {
      m_ctx.loginThrottle.succeeded(name, req.peerIp);
      return signIn(*user, next);
    } else {
      m_ctx.loginThrottle.failed(name, req.peerIp, now);
      error = "Unknown user name or wrong password.";
    }
  }
  std::string body;
  if (!error.empty()) body += "<div class=\"error\">" + htmlEscape(error) + "</div>";
  body += "<form class=\"box\" method=\"post\" action=\"/login.jsp\">" + formTokenField(req) +
          "<input type=\"hidden\" name=\"next\" value=\"" +
          htmlEscape(next) + "\"><label for=\"u\">User name</label><input id=\"u\" type=\"text\" name=\"username\" "
          "required><label for=\"p\">Password</label><input id=\"p\" type=\"password\" name=\"password\" required>"
          "<button type=\"submit\">Sign in</button></form><p>No account yet? <a href=\"/signup.jsp\">Sign up</a>.</p>";
  return htmlResponse(renderPage("Sign in", body, req.user), error.empty() ? 200 : 401);
}

HttpResponse WebSite::clientLogin(const WebRequest& req) {
  // The File Manager opens this with its client ID, the time and its password
  // sealed with its session key ("TIME$PASSWORD"; an older client seals the
  // password alone), and the page to go to. The query is read raw so the
  // Base64 keeps its "+".
  const FormFields raw(req.http.query, FormFields::Decoding::kRaw);
  const auto clientId = raw.number("clientid");
  const auto session = clientId ? m_ctx.sessions.find(*clientId) : nullptr;
  if (session == nullptr) {
    return messagePage(req, "Sign in", "Your File Manager is not connected; please sign in here instead.", 401);
  }
  // The link is for the browser beside the File Manager: a copy of it opened
  // anywhere else signs nobody in.
  if (req.peerIp != session->seenIp && req.peerIp != session->reportedIp) {
    return messagePage(req, "Sign in",
                       "This sign-in link works only on the computer where the File Manager runs; please sign in "
                       "here.",
                       401);
  }
  // Percent escapes only: a Base64 value keeps its "+".
  const std::string sealed = base64Decode(decodePercentEscapes(raw.first("password")));
  std::string typed = session->key.DecryptText(sealed);
  const auto stored = m_ctx.accounts.password(session->userId);
  const auto same = [&](std::string_view text) {
    return stored && text.size() == stored->size() && CRYPTO_memcmp(text.data(), stored->data(), text.size()) == 0;
  };
  std::optional<int64_t> issued;
  bool matches = false;
  if (const size_t dollar = typed.find('$'); dollar != std::string::npos && dollar > 0 && dollar <= 12 &&
                                             typed.find_first_not_of("0123456789") == dollar &&
                                             same(std::string_view(typed).substr(dollar + 1))) {
    issued = parseNumber(std::string_view(typed).substr(0, dollar));
    matches = issued.has_value();
  } else {
    matches = same(typed);
  }
  OPENSSL_cleanse(typed.data(), typed.size());
  if (!matches) {
    return messagePage(req, "Sign in", "The File Manager's sign-in could not be checked; please sign in here.", 401);
  }
  const int64_t now = m_ctx.now();
  if (issued && (*issued > now + kClientLinkSeconds || now - *issued > kClientLinkSeconds)) {
    return messagePage(req, "Sign in", "This sign-in link has expired; open it again from the File Manager.", 401);
  }
  const auto user = m_ctx.accounts.findUser(session->userId);
  if (!user) return messagePage(req, "Sign in", "Unknown user.", 401);

  // "redirect" names one of two pages. Clients that escape it carry the
  // invitation's "&invite=" inside it; older ones leave it unescaped, so it
  // arrives as a parameter of this request instead.
  const std::string redirect = req.form.first("redirect");
  const std::string page = redirect.substr(0, redirect.find('?'));
  const FormFields inner(redirect.find('?') == std::string::npos ? "" : redirect.substr(redirect.find('?') + 1),
                         FormFields::Decoding::kRaw);
  std::string location = "/";
  if (page == "groupsettings.jsp") {
    if (const auto g = inner.number("groupid")) location = "/groupsettings.jsp?groupid=" + std::to_string(*g);
  } else if (page == "composemessage.jsp") {
    auto g = req.form.number("invite");
    if (!g) g = inner.number("invite");
    if (g) location = "/composemessage.jsp?invite=" + std::to_string(*g);
  }

  std::string handoff;
  {
    std::scoped_lock lock(m_linkMutex);
    std::erase_if(m_usedLinks, [&](const auto& entry) { return entry.second < now; });
    std::erase_if(m_handoffs, [&](const auto& entry) { return entry.second.expires < now; });
    // Once only. An older client's link has no time and is the same for the
    // whole login: it is good once per login.
    const std::string digest = std::to_string(*clientId) + ":" + sha256Of(sealed);
    const int64_t forgetAt = issued ? now + 2 * kClientLinkSeconds : now + 7 * 24 * 3600;
    if (!m_usedLinks.emplace(digest, forgetAt).second) {
      return messagePage(req, "Sign in", "This sign-in link was used already; open it again from the File Manager.",
                         401);
    }
    handoff = randomToken();
    if (handoff.empty()) return messagePage(req, "Sign in", "Signing in failed; please sign in here.", 500);
    m_handoffs[handoff] = Handoff{user->id, location, req.peerIp, now + kClientLinkSeconds};
  }
  // A link alone changes nothing in the browser: the session is set by the
  // post-back of this page, after the person saw whom they sign in as.
  const std::string body = "<form class=\"box\" method=\"post\" action=\"/login.jsp\">" + formTokenField(req) +
                           "<input type=\"hidden\" name=\"handoff\" value=\"" + handoff + "\"><p>Your File Manager "
                           "signs you in as <b>" + htmlEscape(user->name) + "</b>.</p><button type=\"submit\">Continue "
                           "as " + htmlEscape(user->name) + "</button></form>";
  HttpResponse r = htmlResponse(renderPage("Sign in", body, req.user));
  r.extraHeaders.push_back("Cache-Control: no-store");
  r.extraHeaders.push_back("Referrer-Policy: no-referrer");
  return r;
}

HttpResponse WebSite::clientLoginHandoff(const WebRequest& req) {
  Handoff handoff;
  {
    std::scoped_lock lock(m_linkMutex);
    const auto it = m_handoffs.find(req.form.first("handoff"));
    if (it == m_handoffs.end()) {
      return messagePage(req, "Sign in", "This sign-in has expired; open it again from the File Manager.", 401);
    }
    handoff = it->second;
    m_handoffs.erase(it);
  }
  if (handoff.expires < m_ctx.now() || handoff.peerIp != req.peerIp) {
    return messagePage(req, "Sign in", "This sign-in has expired; open it again from the File Manager.", 401);
  }
  const auto user = m_ctx.accounts.findUser(handoff.userId);
  if (!user) return messagePage(req, "Sign in", "Unknown user.", 401);
  return signIn(*user, handoff.location);
}

HttpResponse WebSite::signIn(const UserRecord& user, const std::string& location) {
  const std::string token = m_ctx.accounts.newWebSession(user.id, m_ctx.now());
  HttpResponse r = redirectTo(location);
  if (!token.empty()) {
    r.extraHeaders.push_back(std::string("Set-Cookie: ") + kSessionCookie + "=" + token +
                             "; Path=/; HttpOnly; SameSite=Lax; Max-Age=604800");
  }
  return r;
}

HttpResponse WebSite::logout(const WebRequest& req) {
  // Signing out is a change like any other: it takes the form with the
  // session's token, so a link or an image on another site reaches only the
  // page with the button.
  if (req.http.method != "POST" && req.user) {
    const std::string body = "<form class=\"box\" method=\"post\" action=\"/logout.jsp\">" + formTokenField(req) +
                             "<p>Sign out of Vantrel in this browser?</p><button type=\"submit\">Sign out</button>"
                             "</form>";
    return htmlResponse(renderPage("Sign out", body, req.user));
  }
  if (!req.cookie.empty()) m_ctx.accounts.endWebSession(req.cookie);
  HttpResponse r = redirectTo("/");
  r.extraHeaders.push_back(std::string("Set-Cookie: ") + kSessionCookie + "=; Path=/; HttpOnly; Max-Age=0");
  return r;
}

HttpResponse WebSite::proxyCheck(const WebRequest& req) {
  static constexpr const char* kProxyHeaders[] = {"Via", "X-Forwarded-For", "Forwarded", "X-Real-IP", "Client-IP",
                                                  "X-Proxy-ID"};
  std::string found;
  for (const char* name : kProxyHeaders) {
    const std::string value = req.http.header(name);
    if (!value.empty()) found += "<tr><td>" + std::string(name) + "</td><td>" + htmlEscape(value) + "</td></tr>";
  }
  std::string body = "<p>The Vantrel server sees your computer at <b>" + htmlEscape(req.peerIp) + "</b>.</p>";
  if (found.empty()) {
    body += "<p>No proxy was detected between your browser and the server. If pages of File Managers still say "
            "that the security token expired, a firewall may be rewriting requests; the File Manager's firewall "
            "check tells more.</p>";
  } else {
    body += "<p><b>A proxy sits between your browser and the server.</b> Pages that other File Managers serve "
            "check where a request comes from, so downloads through this proxy may be refused. Set your browser "
            "to connect directly, or ask your network administrator.</p><table><tr><th>Header</th><th>Value</th>"
            "</tr>" + found + "</table>";
  }
  return htmlResponse(renderPage("Proxy check", body, req.user));
}

}  // namespace vantrel::server
