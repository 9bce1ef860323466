// SPDX-License-Identifier: MIT
#include "server/web/catalogue_pages.h"

#include <algorithm>
#include <map>

#include "server/clients/file_links.h"
#include "server/store/server_codes.h"
#include "server/web/form_token.h"

namespace vantrel::server {

namespace {

const char* policyLabel(int memb) {
  switch (memb) {
    case policy::kApply: return "Apply";
    case policy::kPassword: return "Password";
    case policy::kApplyOrPassword: return "Apply/Password";
    case policy::kDenyAll: return "Deny All";
    case policy::kAdmitAll: return "Admit All";
    default: return "Unknown";
  }
}

const char* statusLabel(int status) {
  switch (status) {
    case member::kOwner: return "owner";
    case member::kMember: return "member";
    case member::kAdministrator: return "administrator";
    case member::kApplicant: return "applied";
    case member::kBanned: return "banned";
    default: return "";
  }
}

std::string sizeText(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  if (bytes < 1024 * 1024) return std::to_string(bytes / 1024) + " KB";
  if (bytes < 1024LL * 1024 * 1024) return std::to_string(bytes / (1024 * 1024)) + " MB";
  return std::to_string(bytes / (1024LL * 1024 * 1024)) + " GB";
}

bool manages(int status) { return status == member::kOwner || status == member::kAdministrator; }
bool belongs(int status) { return status >= member::kOwner && status <= member::kAdministrator; }

std::string joinResultText(int code) {
  switch (code) {
    case result::kOk: return "You are now a member of this group.";
    case result::kApplicationSent: return "Your application has been sent; the group's owner will decide.";
    case result::kAlreadyMember: return "You are already a member of this group.";
    case result::kBanned: return "You have been banned from this group, you cannot join.";
    case result::kGroupClosed: return "This group is closed and is not accepting any members.";
    case result::kWrongGroupPassword: return "Incorrect password.";
    case result::kGroupMissing: return "This group does not exist.";
    default: return "The group could not be joined (error " + std::to_string(code) + ").";
  }
}

}  // namespace

std::string CataloguePages::crumbs(int64_t nodeId) {
  std::string html = "<div class=\"crumbs\"><a href=\"/browse.jsp\">Catalogue</a>";
  for (const auto& n : m_ctx.catalogue.path(nodeId)) {
    const std::string href = n.kind == node::kCategory ? "/browse.jsp?categoryid=" + std::to_string(n.id)
                             : n.kind == node::kGroup  ? "/group.jsp?groupid=" + std::to_string(n.id)
                                                       : "/group.jsp?groupid=" + std::to_string(n.groupId) +
                                                             "&amp;dirid=" + std::to_string(n.id);
    html += " &rsaquo; <a href=\"" + href + "\">" + htmlEscape(n.name) + "</a>";
  }
  return html + "</div>";
}

std::string CataloguePages::fileTable(const WebRequest& req, const std::vector<FileRow>& files) {
  if (files.empty()) return "<p class=\"muted\">No files.</p>";
  const std::string who = req.user ? req.user->name : "guest";
  std::string html = "<table><tr><th>File</th><th>Size</th><th>Shared by</th><th></th></tr>";
  std::map<int64_t, bool> allowed;
  for (const auto& f : files) {
    auto it = allowed.find(f.groupId);
    if (it == allowed.end()) {
      it = allowed.emplace(f.groupId, m_ctx.catalogue.mayDownload(f.groupId, req.user ? req.user->id : 0)).first;
    }
    const bool online = m_ctx.sessions.online(f.clientId, m_ctx.now());
    const std::string url = it->second && online ? browserDownloadUrl(m_ctx.sessions, f, req.peerIp, who) : std::string();
    html += "<tr><td>";
    html += url.empty() ? htmlEscape(f.name) : "<a href=\"" + htmlEscape(url) + "\">" + htmlEscape(f.name) + "</a>";
    html += "</td><td>" + sizeText(f.size) + "</td><td>" + htmlEscape(f.ownerName) + "</td><td class=\"muted\">";
    html += !online ? "offline" : (it->second ? "" : "members only");
    html += "</td></tr>";
  }
  return html + "</table>";
}

HttpResponse CataloguePages::browse(const WebRequest& req) {
  const int64_t id = req.form.number("categoryid").value_or(0);
  std::string title = "Catalogue";
  std::string body;
  if (id != 0) {
    const auto n = m_ctx.catalogue.node(id);
    if (!n || n->kind != node::kCategory) return messagePage(req, "Not found", "No such category.", 404);
    title = n->name;
    body += crumbs(id);
  }
  const auto categories = m_ctx.catalogue.categories(id);
  if (!categories.empty()) {
    body += "<table><tr><th>Category</th><th>Groups</th></tr>";
    for (const auto& c : categories) {
      body += "<tr><td><a href=\"/browse.jsp?categoryid=" + std::to_string(c.id) + "\">" + htmlEscape(c.name) +
              "</a></td><td>" + std::to_string(c.numGroups) + "</td></tr>";
    }
    body += "</table>";
  }
  if (id != 0) {
    const auto groups = m_ctx.catalogue.groupsIn(id, req.user ? req.user->id : 0);
    if (!groups.empty()) {
      body += "<h2>Groups</h2><table><tr><th>Group</th><th>Membership</th><th>Download</th><th>Files</th>"
              "<th>Members</th><th></th></tr>";
      for (const auto& g : groups) {
        body += "<tr><td><a href=\"/group.jsp?groupid=" + std::to_string(g.id) + "\">" + htmlEscape(g.name) +
                "</a></td><td>" + policyLabel(g.memb) + "</td><td>" +
                (g.perm == policy::kPublicDownload ? "public" : "members") + "</td><td>" +
                std::to_string(g.fileCount) + "</td><td>" + std::to_string(g.memberCount) + "</td><td>" +
                statusLabel(g.status) + "</td></tr>";
      }
      body += "</table>";
    }
  }
  if (body.empty()) body = "<p class=\"muted\">The catalogue is empty.</p>";
  return htmlResponse(renderPage(title, body, req.user));
}

HttpResponse CataloguePages::group(const WebRequest& req) {
  const auto groupId = req.form.number("groupid");
  if (!groupId) return messagePage(req, "Not found", "No group was named.", 404);
  const int64_t userId = req.user ? req.user->id : 0;
  const auto g = m_ctx.catalogue.group(*groupId, userId);
  if (!g) return messagePage(req, "Not found", "No such group.", 404);
  int64_t dirId = req.form.number("dirid").value_or(*groupId);
  const auto dir = m_ctx.catalogue.node(dirId);
  if (!dir || dir->groupId != *groupId) return messagePage(req, "Not found", "No such directory in this group.", 404);

  std::string body = crumbs(dirId);
  if (!g->description.empty()) body += "<p>" + htmlEscape(g->description) + "</p>";
  body += "<p class=\"muted\">Membership: " + std::string(policyLabel(g->memb)) + " &middot; Download: " +
          (g->perm == policy::kPublicDownload ? "public" : "members only") + " &middot; " +
          std::to_string(g->memberCount) + " members, " + std::to_string(g->fileCount) + " files</p>";
  if (req.user && belongs(g->status)) {
    const auto clientId = m_ctx.accounts.clientIdFor(userId);
    const auto session = clientId && m_ctx.sessions.online(*clientId, m_ctx.now()) ? m_ctx.sessions.find(*clientId)
                                                                                    : nullptr;
    std::string dirName;
    const auto chain = m_ctx.catalogue.path(dirId);
    for (const auto& n : chain) {
      if (n.kind == node::kDirectory) dirName += (dirName.empty() ? "" : "/") + n.name;
    }
    const std::string link = session ? shareFilesUrl(*session, dirId, *groupId, g->name, dirName) : std::string();
    body += link.empty() ? "<p class=\"muted\">Start your File Manager to share files here.</p>"
                         : "<p><a href=\"" + htmlEscape(link) + "\"><b>Share files here</b></a></p>";
    if (manages(g->status)) {
      body += "<p><a href=\"/groupsettings.jsp?groupid=" + std::to_string(*groupId) + "\">Group settings</a></p>";
    }
  } else if (req.user && g->status != member::kApplicant) {
    body += "<form class=\"box\" method=\"post\" action=\"/join.jsp\">" + formTokenField(req) +
            "<input type=\"hidden\" name=\"groupid\" value=\"" + std::to_string(*groupId) + "\">";
    if (g->memb == policy::kPassword || g->memb == policy::kApplyOrPassword) {
      body += "<label for=\"gp\">Group password</label><input id=\"gp\" type=\"password\" name=\"password\">";
    }
    if (g->memb == policy::kApply || g->memb == policy::kApplyOrPassword) {
      body += "<label for=\"c\">Why would you like to join?</label><textarea id=\"c\" name=\"comments\"></textarea>";
    }
    body += "<button type=\"submit\">Join this group</button></form>";
  } else if (req.user) {
    body += "<p class=\"muted\">Your application waits for the group's owner.</p>";
  } else {
    body += "<p><a href=\"/login.jsp?next=" + urlEncode("/group.jsp?groupid=" + std::to_string(*groupId)) +
            "\">Sign in</a> to join this group.</p>";
  }
  const auto dirs = m_ctx.catalogue.directoriesIn(dirId);
  if (!dirs.empty()) {
    body += "<h2>Directories</h2><ul>";
    for (const auto& d : dirs) {
      body += "<li><a href=\"/group.jsp?groupid=" + std::to_string(*groupId) + "&amp;dirid=" + std::to_string(d.id) +
              "\">" + htmlEscape(d.name) + "</a></li>";
    }
    body += "</ul>";
  }
  body += "<h2>Files</h2>" + fileTable(req, m_ctx.catalogue.filesIn(dirId));
  return htmlResponse(renderPage(dir->kind == node::kGroup ? g->name : dir->name, body, req.user));
}

HttpResponse CataloguePages::join(const WebRequest& req) {
  if (!req.user) return redirectTo("/login.jsp");
  if (req.http.method != "POST") return redirectTo("/browse.jsp");
  const auto groupId = req.form.number("groupid");
  if (!groupId) return messagePage(req, "Join", "No group was named.", 400);
  const int code = m_ctx.catalogue.joinGroup(*groupId, req.user->id, req.form.first("password"),
                                             req.form.first("comments"));
  const std::string body = "<p>" + htmlEscape(joinResultText(code)) + "</p><p><a href=\"/group.jsp?groupid=" +
                           std::to_string(*groupId) + "\">Back to the group</a></p>";
  return htmlResponse(renderPage("Join", body, req.user));
}

HttpResponse CataloguePages::search(const WebRequest& req) {
  const std::string text = req.form.first("q");
  const int kind = static_cast<int>(req.form.number("kind").value_or(0));
  const bool onlineOnly = req.form.first("online") == "1";
  static constexpr const char* kKinds[] = {"Any", "MP3", "Audio", "Video", "Graphic", "Text", "Source"};
  std::string body = "<form method=\"get\" action=\"/search.jsp\"><input type=\"text\" name=\"q\" value=\"" +
                     htmlEscape(text) + "\" placeholder=\"File name\" autofocus> <select name=\"kind\">";
  for (int i = 0; i < 7; ++i) {
    body += "<option value=\"" + std::to_string(i) + "\"" + (i == kind ? " selected" : "") + ">" + kKinds[i] +
            "</option>";
  }
  body += std::string("</select> <label><input type=\"checkbox\" name=\"online\" value=\"1\"") +
          (onlineOnly ? " checked" : "") + "> online only</label> <button type=\"submit\">Search</button></form>";
  if (!text.empty()) {
    SearchQuery q;
    q.text = text;
    q.fileKind = kind >= 0 && kind < 7 ? kind : 0;
    q.start = std::max<int64_t>(0, req.form.number("start").value_or(0));
    q.onlineOnly = onlineOnly;
    if (onlineOnly) q.onlineSince = m_ctx.now() - SessionTable::kOnlineSeconds;
    q.wantCount = true;
    const auto found = m_ctx.catalogue.search(q);
    const std::string total = found.total > CatalogueStore::kMaxCount
                                  ? "More than " + std::to_string(CatalogueStore::kMaxCount)
                                  : std::to_string(found.total);
    body += "<p class=\"muted\">" + total + " file(s) found.</p>" + fileTable(req, found.files);
    if (q.start + static_cast<int64_t>(found.files.size()) < found.total) {
      body += "<p><a href=\"/search.jsp?q=" + urlEncode(text) + "&amp;kind=" + std::to_string(q.fileKind) +
              (onlineOnly ? "&amp;online=1" : "") + "&amp;start=" + std::to_string(q.start + 100) + "\">More</a></p>";
    }
  }
  return htmlResponse(renderPage("Search", body, req.user));
}

HttpResponse CataloguePages::groupSettings(const WebRequest& req) {
  const auto groupId = req.form.number("groupid");
  if (!req.user) {
    return redirectTo("/login.jsp?next=" + urlEncode("/groupsettings.jsp?groupid=" + std::to_string(groupId.value_or(0))));
  }
  const auto g = groupId ? m_ctx.catalogue.group(*groupId, req.user->id) : std::nullopt;
  if (!g) return messagePage(req, "Group settings", "No such group.", 404);
  if (!manages(g->status)) {
    return messagePage(req, "Group settings",
                       "You can only administrate a group if you are a group administrator or the group owner.", 403);
  }
  std::string notice;
  if (req.http.method == "POST") {
    const auto userId = req.form.number("userid");
    const std::string action = req.form.first("do");
    if (action == "settings" || action == "approve" || action == "refuse") {
      notice = runGroup(req, *groupId, action);
    } else if (action == "removefiles") {
      std::vector<int64_t> ids;
      for (const auto& v : req.form.all("fileid")) {
        if (const auto id = parseNumber(v)) ids.push_back(*id);
      }
      const auto removed = m_ctx.catalogue.removeFilesAsGroupAdmin(req.user->id, ids);
      std::map<int64_t, std::vector<int64_t>> byClient;
      for (const auto& f : removed) byClient[f.clientId].push_back(f.id);
      for (const auto& [clientId, fileIds] : byClient) {
        if (const auto owner = m_ctx.sessions.find(clientId); owner != nullptr && owner->port > 0) {
          m_ctx.notifier.notify(owner->seenIp, owner->port, fileIds);
        }
      }
      notice = std::to_string(removed.size()) + " file(s) removed.";
    } else if (userId) {
      const int status = action == "admit"     ? member::kMember
                         : action == "admin"   ? member::kAdministrator
                         : action == "ban"     ? member::kBanned
                         : action == "remove"  ? member::kNone
                                               : -1;
      // Only the owner makes administrators; nobody changes the owner.
      if (status >= 0 && (status != member::kAdministrator || g->status == member::kOwner)) {
        m_ctx.catalogue.setMemberStatus(*groupId, *userId, status);
        notice = "Membership updated.";
      }
    }
  }
  std::vector<int64_t> ids;
  const auto people = m_ctx.catalogue.members(*groupId, &ids);
  const std::string gid = std::to_string(*groupId);
  std::string body = crumbs(*groupId) + applicationsSection(req, *groupId) +
                     "<h2>Members</h2><table><tr><th>User</th><th>Status</th><th></th></tr>";
  for (size_t i = 0; i < people.size(); ++i) {
    body += "<tr><td>" + htmlEscape(people[i].first) + "</td><td>" + statusLabel(people[i].second) + "</td><td>";
    if (people[i].second != member::kOwner) {
      body += "<form method=\"post\" action=\"/groupsettings.jsp\">" + formTokenField(req) +
              "<input type=\"hidden\" name=\"groupid\" value=\"" + gid + "\"><input type=\"hidden\" name=\"userid\" value=\"" + std::to_string(ids[i]) +
              "\"><select name=\"do\"><option value=\"admit\">admit as member</option>" +
              (g->status == member::kOwner ? "<option value=\"admin\">make administrator</option>" : "") +
              "<option value=\"ban\">ban</option><option value=\"remove\">remove</option></select> "
              "<button type=\"submit\">Apply</button></form>";
    }
    body += "</td></tr>";
  }
  body += "</table><h2>Files at the top of the group</h2>";
  const auto files = m_ctx.catalogue.filesIn(*groupId);
  if (files.empty()) {
    body += "<p class=\"muted\">No files.</p>";
  } else {
    body += "<form method=\"post\" action=\"/groupsettings.jsp\">" + formTokenField(req) +
            "<input type=\"hidden\" name=\"groupid\" value=\"" + gid + "\"><input type=\"hidden\" name=\"do\" value=\"removefiles\"><table>";
    for (const auto& f : files) {
      body += "<tr><td><label><input type=\"checkbox\" name=\"fileid\" value=\"" + std::to_string(f.id) + "\"> " +
              htmlEscape(f.name) + "</label></td><td>" + htmlEscape(f.ownerName) + "</td></tr>";
    }
    body += "</table><button type=\"submit\">Remove the chosen files</button></form>";
  }
  body += settingsSection(req, *groupId);
  return htmlResponse(renderPage(g->name + " settings", body, req.user, notice));
}

// Every form of the settings page opens here.
std::string CataloguePages::adminForm(const WebRequest& req, int64_t groupId, std::string_view action) {
  return "<form method=\"post\" action=\"/groupsettings.jsp\">" + formTokenField(req) +
         "<input type=\"hidden\" name=\"groupid\" value=\"" +
         std::to_string(groupId) + "\"><input type=\"hidden\" name=\"do\" value=\"" + std::string(action) + "\">";
}

std::string CataloguePages::runGroup(const WebRequest& req, int64_t groupId, const std::string& action) {
  if (action == "settings") {
    GroupSettings s;
    s.memb = static_cast<int>(req.form.number("memb").value_or(-1));
    s.perm = static_cast<int>(req.form.number("perm").value_or(-1));
    s.description = req.form.first("description");
    s.keywords = req.form.first("keywords");
    s.newPassword = req.form.first("grouppassword");
    s.clearPassword = req.form.first("clearpassword") == "1";
    switch (m_ctx.catalogue.updateGroupSettings(groupId, s)) {
      case result::kOk: return "Settings saved.";
      case result::kGroupPasswordTooShort:
        return "A group that admits by password needs a password of at least " +
               std::to_string(CatalogueStore::kMinGroupPassword) + " characters.";
      default: return "The settings could not be saved.";
    }
  }
  // Applications: only a waiting applicant is admitted or refused here.
  const auto userId = req.form.number("userid");
  if (!userId || m_ctx.catalogue.memberStatus(groupId, *userId) != member::kApplicant) {
    return "That application is no longer waiting.";
  }
  const bool approve = action == "approve";
  if (!m_ctx.catalogue.setMemberStatus(groupId, *userId, approve ? member::kMember : member::kNone)) {
    return "The application could not be answered.";
  }
  const auto user = m_ctx.accounts.findUser(*userId);
  const std::string name = user ? user->name : "The applicant";
  return approve ? name + " is now a member." : name + "'s application was refused.";
}

std::string CataloguePages::applicationsSection(const WebRequest& req, int64_t groupId) {
  const auto waiting = m_ctx.catalogue.applications(groupId);
  std::string html = "<h2>Applications</h2>";
  if (waiting.empty()) return html + "<p class=\"muted\">No application is waiting.</p>";
  html += "<table><tr><th>User</th><th>Comments</th><th></th></tr>";
  for (const auto& a : waiting) {
    const std::string user = "<input type=\"hidden\" name=\"userid\" value=\"" + std::to_string(a.userId) + "\">";
    html += "<tr><td>" + htmlEscape(a.userName) + "</td><td>" + htmlEscape(a.comments) + "</td><td>" +
            adminForm(req, groupId, "approve") + user + "<button type=\"submit\">Approve</button></form> " +
            adminForm(req, groupId, "refuse") + user + "<button type=\"submit\">Refuse</button></form></td></tr>";
  }
  return html + "</table>";
}

std::string CataloguePages::settingsSection(const WebRequest& req, int64_t groupId) {
  const auto s = m_ctx.catalogue.groupSettings(groupId);
  if (!s) return {};
  std::string html = "<h2>Settings</h2>" + adminForm(req, groupId, "settings") +
                     "<label for=\"memb\">Membership</label><select id=\"memb\" name=\"memb\">";
  for (const int memb : {policy::kAdmitAll, policy::kApply, policy::kPassword, policy::kApplyOrPassword,
                         policy::kDenyAll}) {
    html += "<option value=\"" + std::to_string(memb) + "\"" + (memb == s->memb ? " selected" : "") + ">" +
            policyLabel(memb) + "</option>";
  }
  html += "</select><label for=\"perm\">Download</label><select id=\"perm\" name=\"perm\">";
  html += std::string("<option value=\"2\"") + (s->perm == policy::kPublicDownload ? " selected" : "") +
          ">anyone may download</option><option value=\"0\"" +
          (s->perm == policy::kMemberDownload ? " selected" : "") + ">members only</option></select>";
  html += "<label for=\"gpw\">New group password" + std::string(s->hasPassword ? " (one is set; empty keeps it)" : "") +
          "</label><input id=\"gpw\" type=\"password\" name=\"grouppassword\" autocomplete=\"new-password\">";
  if (s->hasPassword) {
    html += "<label><input type=\"checkbox\" name=\"clearpassword\" value=\"1\"> remove the password</label>";
  }
  html += "<label for=\"desc\">Description</label><textarea id=\"desc\" name=\"description\" maxlength=\"1000\">" +
          htmlEscape(s->description) + "</textarea><label for=\"kw\">Keywords</label><input id=\"kw\" type=\"text\" "
          "name=\"keywords\" maxlength=\"200\" value=\"" + htmlEscape(s->keywords) +
          "\"><button type=\"submit\">Save the settings</button></form><p><a href=\"/composemessage.jsp?invite=" +
          std::to_string(groupId) + "\">Invite a friend to this group</a></p>";
  return html;
}

HttpResponse CataloguePages::invite(const WebRequest& req) {
  const auto groupId = req.form.number("invite");
  if (!req.user) return redirectTo("/login.jsp");
  const auto g = groupId ? m_ctx.catalogue.group(*groupId, req.user->id) : std::nullopt;
  if (!g) return messagePage(req, "Invite", "No such group.", 404);
  if (!belongs(g->status)) {
    return messagePage(req, "Invite", "You cannot invite someone to a group that you are not a member of.", 403);
  }
  std::string notice;
  if (req.http.method == "POST") {
    const auto friendUser = m_ctx.accounts.findUser(req.form.first("to"));
    if (!friendUser) {
      notice = "There is no user of that name.";
    } else if (const int status = m_ctx.catalogue.memberStatus(*groupId, friendUser->id); belongs(status)) {
      notice = friendUser->name + " is already a member.";
    } else if (status == member::kBanned && !manages(g->status)) {
      // Only the owner or an administrator lifts a ban.
      notice = friendUser->name + " is banned from this group; only its owner or an administrator can lift the ban.";
    } else {
      // The owner's and administrators' invitations admit at once; a member's
      // invitation waits for them as an application.
      m_ctx.catalogue.setMemberStatus(*groupId, friendUser->id, manages(g->status) ? member::kMember : member::kApplicant);
      notice = manages(g->status) ? friendUser->name + " is now a member." : friendUser->name + " has been proposed.";
    }
  }
  const std::string header = req.form.first("msg_header").empty() ? "Check out this group!" : req.form.first("msg_header");
  std::string body = "<form class=\"box\" method=\"post\" action=\"/composemessage.jsp\">" + formTokenField(req) +
                     "<input type=\"hidden\" name=\"invite\" value=\"" + std::to_string(*groupId) + "\"><label for=\"t\">Friend's user name"
                     "</label><input id=\"t\" type=\"text\" name=\"to\" required><label for=\"h\">Subject</label>"
                     "<input id=\"h\" type=\"text\" name=\"msg_header\" value=\"" + htmlEscape(header) +
                     "\"><button type=\"submit\">Invite</button></form>";
  return htmlResponse(renderPage("Invite a friend to " + g->name, body, req.user, notice));
}

std::string CataloguePages::myGroups(const WebRequest& req) {
  const auto groups = m_ctx.catalogue.userGroups(req.user->id);
  if (groups.empty()) return "<p class=\"muted\">You are in no group yet. <a href=\"/browse.jsp\">Find one</a>.</p>";
  std::string html = "<table><tr><th>Group</th><th>Status</th><th>Files</th><th>Members</th></tr>";
  for (const auto& g : groups) {
    html += "<tr><td><a href=\"/group.jsp?groupid=" + std::to_string(g.id) + "\">" + htmlEscape(g.name) +
            "</a></td><td>" + statusLabel(g.status) + "</td><td>" + std::to_string(g.fileCount) + "</td><td>" +
            std::to_string(g.memberCount) + "</td></tr>";
  }
  return html + "</table>";
}

}  // namespace vantrel::server
