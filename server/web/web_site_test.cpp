// SPDX-License-Identifier: MIT
#include "server/web/web_site.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "server/central_server.h"
#include "server/clients/test_fixture.h"
#include "server/store/server_codes.h"
#include "server/store/server_setup.h"

namespace vantrel::server {
namespace {

using testing::ServerFixture;
using testing::TestClient;

class WebSiteTest : public ServerFixture {
 protected:
  HttpResponse get(const std::string& target, const std::string& cookie = "") {
    return request("GET", target, "", cookie);
  }
  HttpResponse post(const std::string& path, const std::string& body, const std::string& cookie = "") {
    return request("POST", path, body, cookie);
  }
  HttpResponse request(const std::string& method, const std::string& target, const std::string& body,
                       const std::string& cookie, const std::string& from = "127.0.0.5") {
    HttpRequest r;
    r.method = method;
    r.target = target;
    r.path = target.substr(0, target.find('?'));
    if (target.find('?') != std::string::npos) r.query = target.substr(target.find('?') + 1);
    r.body = body;
    r.headers.emplace_back("Host", "vantrel.test:7001");
    if (!cookie.empty()) r.headers.emplace_back("Cookie", std::string(kSessionCookie) + "=" + cookie);
    return web.handle(r, from);
  }
  static std::string header(const HttpResponse& r, const std::string& name) {
    for (const auto& h : r.extraHeaders) {
      if (h.rfind(name + ": ", 0) == 0) return h.substr(name.size() + 2);
    }
    return {};
  }
  // The form token of the first form on a page.
  static std::string formTokenOf(const std::string& page) {
    const std::string mark = "name=\"formtoken\" value=\"";
    const size_t at = page.find(mark);
    if (at == std::string::npos) return {};
    return page.substr(at + mark.size(), page.find('"', at + mark.size()) - at - mark.size());
  }
  // The hand-off of the page a sign-in link of the File Manager shows.
  static std::string handoffOf(const std::string& page) {
    const std::string mark = "name=\"handoff\" value=\"";
    const size_t at = page.find(mark);
    if (at == std::string::npos) return {};
    return page.substr(at + mark.size(), page.find('"', at + mark.size()) - at - mark.size());
  }
  static std::string cookieOf(const HttpResponse& r) {
    const std::string set = header(r, "Set-Cookie");
    return set.substr(set.find('=') + 1, set.find(';') - set.find('=') - 1);
  }

  // The form token a page's forms carry, as a body field ("" when there is none).
  static std::string tokenOf(const HttpResponse& page) {
    const std::string marker = "name=\"formtoken\" value=\"";
    const size_t at = page.body.find(marker);
    if (at == std::string::npos) return {};
    const size_t from = at + marker.size();
    return "&formtoken=" + page.body.substr(from, page.body.find('"', from) - from);
  }

  WebSite web{ctx, "0.0.0.0"};
};

TEST_F(WebSiteTest, DiscoveryPageNamesTheServerOnALineOfItsOwn) {
  const HttpResponse r = get("/server.html");
  EXPECT_EQ(r.contentType.rfind("text/html", 0), 0u);
  EXPECT_NE(r.body.find("\r\n&server=vantrel.test&\r\n"), std::string::npos) << r.body;
}

TEST(DiscoveryHostsTest, EachAddressHasItsHostAndTheAddressesSpread) {
  const std::vector<std::string> three = {"10.0.0.11", "10.0.0.12", "10.0.0.13"};
  const std::vector<std::string> two = {"10.0.0.11", "10.0.0.13"};
  std::map<std::string, int> clients;
  int moved = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string address = "192.0.2." + std::to_string(i % 256) + "." + std::to_string(i / 256);
    const std::string& host = hostFor(three, address);
    EXPECT_EQ(hostFor(three, address), host);  // the same every time
    ++clients[host];
    // With host .12 gone, only its own clients move.
    const std::string& without = hostFor(two, address);
    if (host != "10.0.0.12") {
      EXPECT_EQ(without, host);
    }
    if (without != host) ++moved;
  }
  ASSERT_EQ(clients.size(), 3u);
  for (const auto& [host, count] : clients) EXPECT_GT(count, 800) << host;
  EXPECT_EQ(moved, clients["10.0.0.12"]);
}

TEST_F(WebSiteTest, DiscoveryPageNamesTheHostOfTheAskingAddress) {
  WebSite spread{ctx, "0.0.0.0", {"10.0.0.11", "10.0.0.12", "10.0.0.13"}};
  std::set<std::string> named;
  for (int i = 0; i < 40; ++i) {
    const std::string address = "198.51.100." + std::to_string(i);
    HttpRequest request;
    request.method = "GET";
    request.path = "/server.html";
    const std::string body = spread.handle(request, address).body;
    EXPECT_NE(body.find("\r\n&server=" + hostFor({"10.0.0.11", "10.0.0.12", "10.0.0.13"}, address) + "&\r\n"),
              std::string::npos)
        << body;
    named.insert(body);
  }
  EXPECT_EQ(named.size(), 3u);
}

TEST_F(WebSiteTest, SignUpMakesAnAccountThatTheClientCanLogInWith) {
  const HttpResponse refused = post("/signup.jsp", "username=carol&password=pw12&password2=pw13");
  EXPECT_EQ(refused.status, 400);
  EXPECT_NE(refused.body.find("differ"), std::string::npos);
  EXPECT_EQ(post("/signup.jsp", "username=alice&password=pw12&password2=pw12").status, 400);

  const HttpResponse made = post("/signup.jsp", "username=carol&password=p%26ss+word&password2=p%26ss+word&email=");
  ASSERT_EQ(made.status, 302);
  const std::string cookie = cookieOf(made);
  ASSERT_FALSE(cookie.empty());
  EXPECT_NE(header(made, "Set-Cookie").find("HttpOnly"), std::string::npos);
  EXPECT_NE(get("/", cookie).body.find("Hello, carol"), std::string::npos);

  TestClient carol;
  EXPECT_EQ(ReplyNumber(login(carol, "carol", "p&ss word", 1), "result="), 0);
}

TEST_F(WebSiteTest, SignInChecksThePasswordAndSendsOnlyToOwnPages) {
  EXPECT_EQ(post("/login.jsp", "username=alice&password=wrong").status, 401);
  const HttpResponse ok = post("/login.jsp", "username=alice&password=secret1&next=/browse.jsp");
  EXPECT_EQ(ok.status, 302);
  EXPECT_EQ(header(ok, "Location"), "/browse.jsp");
  for (const char* next : {"//evil.example/", "http://evil.example/", "/x%0d%0aSet-Cookie:%20a=b", "/%09/evil.example",
                           "/%5Cevil.example", "/%5C/evil.example", "%09//evil.example", "/%0a/evil.example",
                           "/%7F/evil.example", "evil.example"}) {
    SCOPED_TRACE(next);
    const HttpResponse r = post("/login.jsp", std::string("username=alice&password=secret1&next=") + next);
    EXPECT_EQ(header(r, "Location"), "/");
  }
}

TEST_F(WebSiteTest, SigningOutTakesTheFormOfTheSession) {
  const std::string cookie = cookieOf(post("/login.jsp", "username=alice&password=secret1"));
  ASSERT_FALSE(cookie.empty());
  const auto signedIn = [&] { return get("/", cookie).body.find("Hello, alice") != std::string::npos; };
  // The header's link, or another site's link or image, only shows the button.
  const HttpResponse page = get("/logout.jsp", cookie);
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(get("/", cookie).body.find("href=\"/logout.jsp\""), std::string::npos);
  ASSERT_FALSE(tokenOf(page).empty());
  EXPECT_TRUE(signedIn());
  // Another site's form, without the token.
  EXPECT_EQ(post("/logout.jsp", "", cookie).status, 403);
  EXPECT_TRUE(signedIn());
  // The button.
  const HttpResponse out = post("/logout.jsp", tokenOf(page).substr(1), cookie);
  EXPECT_EQ(out.status, 302);
  EXPECT_EQ(header(out, "Location"), "/");
  EXPECT_NE(header(out, "Set-Cookie").find("Max-Age=0"), std::string::npos);
  EXPECT_FALSE(signedIn());
  // Signed out already: the link goes home.
  EXPECT_EQ(get("/logout.jsp", cookie).status, 302);
}

TEST_F(WebSiteTest, TheClientsSignedLinksOpenGroupSettingsAndInvitations) {
  ASSERT_TRUE(fillDemoCatalogue(catalogue));
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1), "result="), 0);
  const std::string created = send(alice, "action=creategroup&groupname=Alice Pals&parentid=1&perm=2&memb=4");
  const int64_t group = ReplyNumber(created, "groupid=");
  ASSERT_GT(group, 0);
  // The client does not escape the Base64 nor the invitation's own "&".
  const auto link = [&](const TestClient& who, const std::string& password, int64_t at = 0) {
    return "/login.jsp?clientid=" + std::to_string(who.clientId) + "&password=" +
           base64Encode(who.key.EncryptText(std::to_string(at == 0 ? clock : at) + "$" + password));
  };
  const std::string base = link(alice, "secret1");

  // The link only shows a page; its form posts the hand-off that signs in.
  const HttpResponse shown = get(base + "&redirect=groupsettings.jsp?groupid=" + std::to_string(group));
  ASSERT_EQ(shown.status, 200);
  EXPECT_TRUE(header(shown, "Set-Cookie").empty());
  EXPECT_NE(shown.body.find("Continue as alice"), std::string::npos);
  const HttpResponse settings = post("/login.jsp", "handoff=" + handoffOf(shown.body));
  ASSERT_EQ(settings.status, 302);
  EXPECT_EQ(header(settings, "Location"), "/groupsettings.jsp?groupid=" + std::to_string(group));
  const std::string cookie = cookieOf(settings);
  EXPECT_NE(get(header(settings, "Location"), cookie).body.find("Members"), std::string::npos);
  // Each link and each hand-off is good once.
  EXPECT_EQ(get(base + "&redirect=groupsettings.jsp?groupid=" + std::to_string(group)).status, 401);
  EXPECT_EQ(post("/login.jsp", "handoff=" + handoffOf(shown.body)).status, 401);

  clock += 1;
  const HttpResponse inviteShown =
      get(link(alice, "secret1") + "&redirect=composemessage.jsp?msg_header=Check+out+this+group!&invite=" +
          std::to_string(group));
  const HttpResponse invite = post("/login.jsp", "handoff=" + handoffOf(inviteShown.body));
  EXPECT_EQ(header(invite, "Location"), "/composemessage.jsp?invite=" + std::to_string(group));
  const std::string form = formTokenOf(get(header(invite, "Location"), cookie).body);
  const HttpResponse sent =
      post("/composemessage.jsp", "invite=" + std::to_string(group) + "&to=bob&formtoken=" + form, cookie);
  EXPECT_NE(sent.body.find("bob is now a member"), std::string::npos);
  EXPECT_EQ(catalogue.memberStatus(group, accounts.findUser("bob")->id), 2);

  // A plain member's invitation does not lift a ban; the owner's does.
  const int64_t bobId = accounts.findUser("bob")->id;
  ASSERT_TRUE(accounts.createOrUpdateUser("carol", "carol-pw1") == AccountStore::Result::kOk);
  ASSERT_TRUE(catalogue.setMemberStatus(group, bobId, 5));
  TestClient carol;
  ASSERT_EQ(ReplyNumber(login(carol, "carol", "carol-pw1", 3), "result="), 0);
  ASSERT_TRUE(catalogue.setMemberStatus(group, accounts.findUser("carol")->id, 2));
  const HttpResponse carolShown =
      get(link(carol, "carol-pw1") + "&redirect=composemessage.jsp?invite=" + std::to_string(group));
  const HttpResponse carolIn = post("/login.jsp", "handoff=" + handoffOf(carolShown.body));
  const std::string carolCookie = cookieOf(carolIn);
  const std::string carolForm = formTokenOf(get(header(carolIn, "Location"), carolCookie).body);
  const HttpResponse lifted = post("/composemessage.jsp", "invite=" + std::to_string(group) + "&to=bob&formtoken=" +
                                                              carolForm, carolCookie);
  EXPECT_NE(lifted.body.find("bob is banned from this group"), std::string::npos) << lifted.body;
  EXPECT_EQ(catalogue.memberStatus(group, bobId), 5);
  const HttpResponse byOwner =
      post("/composemessage.jsp", "invite=" + std::to_string(group) + "&to=bob&formtoken=" + form, cookie);
  EXPECT_NE(byOwner.body.find("bob is now a member"), std::string::npos);
  EXPECT_EQ(catalogue.memberStatus(group, bobId), 2);

  struct Case {
    const char* name;
    std::string target;
    const char* from;
  };
  const Case refused[] = {
      {"wrong password", link(alice, "guess") + "&redirect=groupsettings.jsp?groupid=1", "127.0.0.5"},
      {"expired", link(alice, "secret1", clock - 600) + "&redirect=groupsettings.jsp?groupid=1", "127.0.0.5"},
      {"another computer", link(alice, "secret1", clock + 2) + "&redirect=groupsettings.jsp?groupid=1", "127.0.0.9"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(request("GET", c.target, "", "", c.from).status, 401);
  }
  // A hand-off posted from another computer signs nobody in.
  const HttpResponse elsewhere = get(link(alice, "secret1", clock + 3) + "&redirect=groupsettings.jsp?groupid=1");
  EXPECT_EQ(request("POST", "/login.jsp", "handoff=" + handoffOf(elsewhere.body), "", "127.0.0.9").status, 401);
  // An older client seals the password alone: good once per login.
  const std::string older = "/login.jsp?clientid=" + std::to_string(alice.clientId) +
                            "&password=" + base64Encode(alice.key.EncryptText("secret1"));
  EXPECT_EQ(get(older).status, 200);
  EXPECT_EQ(get(older).status, 401);
}

TEST_F(WebSiteTest, GroupPagesLinkFilesToTheirOwnersAndOfferTheShareLink) {
  ASSERT_TRUE(fillDemoCatalogue(catalogue));
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1, "127.0.0.5", 8400), "result="), 0);
  const int64_t lounge = 7;
  ASSERT_EQ(catalogue.node(lounge)->name, "Open Music Lounge");
  ASSERT_EQ(ReplyNumber(send(alice, "action=joingroup7&groupid=7"), "result="), 0);
  ASSERT_EQ(ReplyNumber(send(alice, "action=add_file&dirid=7&cfileid=0&filename=<b>song</b>.mp3&filesize=10"
                                    "&keywords=&filetype=mp3"),
                        "result="),
            0);
  const std::string cookie = cookieOf(post("/login.jsp", "username=alice&password=secret1"));
  const HttpResponse page = get("/group.jsp?groupid=7", cookie);
  EXPECT_NE(page.body.find("&lt;b&gt;song&lt;/b&gt;.mp3"), std::string::npos);
  EXPECT_EQ(page.body.find("<b>song</b>"), std::string::npos);
  // The download link ends with the file's name, so a browser saves it under that name.
  EXPECT_NE(page.body.find("href=\"http://127.0.0.5:8400/getfile/%3Cb%3Esong%3C%2Fb%3E.mp3?fileid="), std::string::npos)
      << page.body;
  const size_t share = page.body.find("http://127.0.0.1:8400/template/client-share_files_template.html?dirid=7"
                                      "&amp;groupid=7&amp;groupname=Open%20Music%20Lounge&amp;groupdirname=&amp;@token=");
  ASSERT_NE(share, std::string::npos) << page.body;
  // The token is the client's own kind: "r$ADDRESS$r mod 24" under its session key.
  const size_t from = page.body.find("@token=", share) + 7;
  const std::string token = page.body.substr(from, page.body.find('"', from) - from);
  const std::string plain = alice.key.DecryptText(base64Decode(token));
  EXPECT_NE(plain.find("$127.0.0.5$"), std::string::npos) << plain;

  const HttpResponse found = get("/search.jsp?q=song", cookie);
  EXPECT_NE(found.body.find("1 file(s) found"), std::string::npos);
  EXPECT_EQ(get("/group.jsp?groupid=99999").status, 404);
}

TEST_F(WebSiteTest, ProxyCheckShowsTheAddressAndProxyHeaders) {
  HttpRequest r;
  r.method = "GET";
  r.path = "/checkforproxy.jsp";
  EXPECT_NE(web.handle(r, "127.0.0.5").body.find("No proxy was detected"), std::string::npos);
  r.headers.emplace_back("Via", "1.1 squid<script>");
  const std::string body = web.handle(r, "127.0.0.5").body;
  EXPECT_NE(body.find("A proxy sits between"), std::string::npos);
  EXPECT_NE(body.find("squid&lt;script&gt;"), std::string::npos);
}

TEST_F(WebSiteTest, FormsPostedFromAnotherSiteAreRefused) {
  ASSERT_TRUE(fillDemoCatalogue(catalogue));
  const std::string cookie = cookieOf(post("/login.jsp", "username=bob&password=hunter22"));
  ASSERT_FALSE(cookie.empty());
  const std::string token = formTokenOf(get("/group.jsp?groupid=7", cookie).body);
  ASSERT_EQ(token.size(), 64u);
  const std::string otherCookie = cookieOf(post("/login.jsp", "username=alice&password=secret1"));
  const std::string otherToken = formTokenOf(get("/group.jsp?groupid=7", otherCookie).body);
  ASSERT_NE(otherToken, token);

  struct Case {
    const char* name;
    const char* origin;  // nullptr: none sent
    std::string token;   // "" : none sent
    bool signedIn;
    int want;
  };
  const Case cases[] = {
      {"null origin", "null", token, true, 403},
      {"other host", "http://evil.example", token, true, 403},
      {"our host as a prefix", "http://vantrel.test:7001.evil.example", token, true, 403},
      {"other scheme", "https://vantrel.test:7001", token, true, 403},
      {"other port", "http://vantrel.test:7002", token, true, 403},
      {"no port", "http://vantrel.test", token, true, 403},
      {"no token", "http://vantrel.test:7001", "", true, 403},
      {"no origin, no token", nullptr, "", true, 403},
      {"another session's token", nullptr, otherToken, true, 403},
      {"token cut short", nullptr, token.substr(0, 32), true, 403},
      {"signed out, null origin", "null", "", false, 403},
      {"our origin and token", "http://VANTREL.test:7001", token, true, 200},
      {"no origin, token", nullptr, token, true, 200},
  };
  const int64_t bob = accounts.findUser("bob")->id;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpRequest r;
    r.method = "POST";
    r.path = "/join.jsp";
    r.body = "groupid=7" + (c.token.empty() ? "" : "&formtoken=" + c.token);
    r.headers.emplace_back("Host", "vantrel.test:7001");
    if (c.origin != nullptr) r.headers.emplace_back("Origin", c.origin);
    if (c.signedIn) r.headers.emplace_back("Cookie", std::string(kSessionCookie) + "=" + cookie);
    const HttpResponse answer = web.handle(r, "127.0.0.5");
    EXPECT_EQ(answer.status, c.want);
    if (c.want == 403) {
      EXPECT_NE(answer.body.find("Cross-site form refused."), std::string::npos);
      EXPECT_NE(catalogue.memberStatus(7, bob), member::kMember);
    }
  }
  EXPECT_EQ(catalogue.memberStatus(7, bob), member::kMember);

  // Signing in from another site is refused too: no cookie is handed out.
  HttpRequest r;
  r.method = "POST";
  r.path = "/login.jsp";
  r.body = "username=alice&password=secret1";
  r.headers.emplace_back("Host", "vantrel.test:7001");
  r.headers.emplace_back("Origin", "http://evil.example");
  const HttpResponse signIn = web.handle(r, "127.0.0.5");
  EXPECT_EQ(signIn.status, 403);
  EXPECT_TRUE(header(signIn, "Set-Cookie").empty());
}

// An "Apply" group run from its settings page: the owner sees the
// application with its comments and approves it, after which the applicant's
// search shows download links; a second application is refused; the policy,
// permission, password, description and keywords change; members who do not
// run the group cannot.
TEST_F(WebSiteTest, OwnersRunTheirGroupFromTheSettingsPage) {
  const int64_t aliceId = accounts.findUser("alice")->id;
  const int64_t bobId = accounts.findUser("bob")->id;
  ASSERT_EQ(accounts.createUser("carol", "carolpw", ""), AccountStore::Result::kOk);
  NewGroup g;
  g.name = "Jazz Club";
  g.parentId = catalogue.createCategory(0, "Music", true);
  g.memb = policy::kApply;
  g.perm = policy::kMemberDownload;
  int64_t group = 0;
  ASSERT_EQ(catalogue.createGroup(g, aliceId, &group), 0);
  const std::string gid = std::to_string(group);
  TestClient alice;
  ASSERT_EQ(ReplyNumber(login(alice, "alice", "secret1", 1, "127.0.0.5", 8400), "result="), 0);
  ASSERT_EQ(ReplyNumber(send(alice, "action=add_file&dirid=" + gid +
                                        "&cfileid=0&filename=needle.mp3&filesize=10&keywords=&filetype=mp3"),
                        "result="),
            0);
  TestClient bob;
  ASSERT_EQ(ReplyNumber(login(bob, "bob", "hunter22", 2, "127.0.0.6"), "result="), 0);
  const auto bobSearch = [&] { return send(bob, "action=search&string=needle", "127.0.0.6"); };
  EXPECT_EQ(bobSearch().find("getfile"), std::string::npos);
  EXPECT_EQ(ReplyNumber(send(bob, "action=joingroup" + gid + "&groupid=" + gid + "&comments=<i>let me in</i>",
                             "127.0.0.6"),
                        "result="),
            100);
  ASSERT_EQ(catalogue.joinGroup(group, accounts.findUser("carol")->id, "", "me too"), 100);

  const std::string cookie = cookieOf(post("/login.jsp", "username=alice&password=secret1"));
  const HttpResponse page = get("/groupsettings.jsp?groupid=" + gid, cookie);
  EXPECT_NE(page.body.find("&lt;i&gt;let me in&lt;/i&gt;"), std::string::npos) << page.body;
  EXPECT_NE(page.body.find("me too"), std::string::npos);
  const std::string token = tokenOf(page);
  const auto act = [&](const std::string& fields) {
    return post("/groupsettings.jsp", "groupid=" + gid + "&" + fields + token, cookie);
  };
  EXPECT_NE(act("do=approve&userid=" + std::to_string(bobId)).body.find("bob is now a member."), std::string::npos);
  EXPECT_EQ(catalogue.memberStatus(group, bobId), member::kMember);
  const std::string found = bobSearch();
  EXPECT_NE(found.find("getfile"), std::string::npos) << found;
  // Approving again, or refusing someone who is a member, changes nothing.
  EXPECT_NE(act("do=refuse&userid=" + std::to_string(bobId)).body.find("no longer waiting"), std::string::npos);
  EXPECT_EQ(catalogue.memberStatus(group, bobId), member::kMember);
  act("do=refuse&userid=" + std::to_string(accounts.findUser("carol")->id));
  EXPECT_EQ(catalogue.memberStatus(group, accounts.findUser("carol")->id), member::kNone);

  struct Case {
    std::string fields;
    std::string notice;
    int memb;
    bool hasPassword;
  };
  const Case cases[] = {
      {"memb=1&perm=2&description=d&keywords=k", "needs a password", policy::kApply, false},
      {"memb=1&perm=2&grouppassword=abc&description=d&keywords=k", "needs a password", policy::kApply, false},
      {"memb=1&perm=2&grouppassword=abcd&description=%3Cb%3Ebold&keywords=jazz", "Settings saved.", policy::kPassword,
       true},
      {"memb=4&perm=0&clearpassword=1&description=&keywords=", "Settings saved.", policy::kAdmitAll, false},
      {"memb=9&perm=0&description=&keywords=", "could not be saved", policy::kAdmitAll, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    EXPECT_NE(act("do=settings&" + c.fields).body.find(c.notice), std::string::npos);
    const auto now = catalogue.groupSettings(group);
    EXPECT_EQ(now->memb, c.memb);
    EXPECT_EQ(now->hasPassword, c.hasPassword);
  }
  ASSERT_EQ(act("do=settings&memb=1&perm=2&grouppassword=abcd&description=%3Cb%3Ebold&keywords=jazz").status, 200);
  EXPECT_EQ(catalogue.groupSettings(group)->perm, policy::kPublicDownload);
  EXPECT_EQ(catalogue.groupSettings(group)->keywords, "jazz");
  EXPECT_NE(get("/groupsettings.jsp?groupid=" + gid, cookie).body.find("&lt;b&gt;bold</textarea>"), std::string::npos);
  TestClient carol;
  ASSERT_EQ(ReplyNumber(login(carol, "carol", "carolpw", 3), "result="), 0);
  EXPECT_EQ(ReplyNumber(send(carol, "action=joingroup" + gid + "&groupid=" + gid + "&password=abcd"), "result="), 0);

  // A plain member sees no settings and cannot post them.
  const std::string bobCookie = cookieOf(post("/login.jsp", "username=bob&password=hunter22"));
  const HttpResponse bobPage = get("/groupsettings.jsp?groupid=" + gid, bobCookie);
  EXPECT_EQ(bobPage.status, 403);
  EXPECT_EQ(post("/groupsettings.jsp", "groupid=" + gid + "&do=settings&memb=4&perm=2", bobCookie).status, 403);
  EXPECT_EQ(catalogue.groupSettings(group)->memb, policy::kPassword);
}

}  // namespace
}  // namespace vantrel::server
