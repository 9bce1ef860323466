// SPDX-License-Identifier: MIT
#include "server/clients/catalogue_actions.h"

#include <ctime>
#include <map>

#include "server/clients/file_links.h"
#include "server/store/server_codes.h"

namespace vantrel::server {

namespace {

std::string resultOnly(int code) { return "result=" + std::to_string(code) + "&"; }

void appendValue(std::string& entry, std::string_view name, std::string_view value) {
  appendField(entry, name, replyValueEncode(value));
}

// Listing entries follow the result, each opened by "&" so that every entry
// is separated from the one before by "&&".
void appendEntry(std::string& reply, const std::string& entry) {
  reply += '&';
  reply += entry;
}

// The client shows 1 to 3; applicants and banned users are not members.
int visibleStatus(int status) { return status >= member::kOwner && status <= member::kAdministrator ? status : 0; }

}  // namespace

std::optional<int64_t> parseSearchDate(std::string_view text) {
  int month = 0;
  int day = 0;
  int year = 0;
  char tail = 0;
  const std::string owned(text);
  if (std::sscanf(owned.c_str(), "%2d/%2d/%4d%c", &month, &day, &year, &tail) != 3) return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31 || year < 0) return std::nullopt;
  // Two-digit years: the client's "not set" date is 1977, so 77 to 99 are 19xx.
  if (year < 100) year += year >= 70 ? 1900 : 2000;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(t);
}

std::string CatalogueActions::categoryEntry(const CategoryRow& c) {
  std::string e;
  appendField(e, "type", node::kCategory);
  appendValue(e, "name", c.name);
  appendField(e, "numgroups", c.numGroups);
  appendField(e, "hasgroups", c.hasGroups ? 1 : 0);
  appendField(e, "id", c.id);
  return e;
}

std::string CatalogueActions::groupEntry(const GroupRow& g) {
  std::string e;
  appendField(e, "type", node::kGroup);
  appendValue(e, "name", g.name);
  appendField(e, "memb", g.memb);
  appendField(e, "perm", g.perm);
  appendField(e, "status", visibleStatus(g.status));
  appendField(e, "personal", g.personal ? 1 : 0);
  appendField(e, "filecount", std::to_string(g.fileCount) + ":" + std::to_string(g.memberCount));
  appendField(e, "id", g.id);
  appendField(e, "ownerid", g.ownerId);
  return e;
}

std::string CatalogueActions::directoryEntry(const DirectoryRow& d) {
  std::string e;
  appendField(e, "type", node::kDirectory);
  appendValue(e, "name", d.name);
  appendField(e, "id", d.id);
  appendField(e, "ownerid", d.ownerId);
  return e;
}

std::string CatalogueActions::fileEntry(const FileRow& f, const std::string& url) {
  std::string e;
  appendField(e, "type", node::kFile);
  appendValue(e, "name", f.name);
  appendField(e, "id", f.id);
  appendValue(e, "url", url);
  appendField(e, "size", f.size);
  appendField(e, "rating", f.rating);
  appendField(e, "online", m_ctx.sessions.online(f.clientId, m_ctx.now()) ? 1 : 0);
  appendField(e, "ownerid", f.ownerId);
  appendValue(e, "owner", f.ownerName);
  appendField(e, "groupid", f.groupId);
  appendField(e, "dirid", f.dirId);
  return e;
}

std::string CatalogueActions::getListing(const ClientSession& session, const FormFields& form,
                                         const std::string& peerIp) {
  std::string reply = resultOnly(result::kOk);
  if (const auto categoryId = form.number("categoryid")) {
    std::optional<Node> category;
    if (*categoryId != 0) {
      category = m_ctx.catalogue.node(*categoryId);
      if (!category || category->kind != node::kCategory) return resultOnly(result::kDirectoryNotFound);
    }
    for (const auto& c : m_ctx.catalogue.categories(*categoryId)) appendEntry(reply, categoryEntry(c));
    if (*categoryId != 0) {
      for (const auto& g : m_ctx.catalogue.groupsIn(*categoryId, session.userId)) appendEntry(reply, groupEntry(g));
    }
    return reply;
  }
  if (const auto fileId = form.number("fileid")) {
    // One file, with a fresh link: a client tries a download again with it
    // after the sharer logged in anew.
    const auto f = m_ctx.catalogue.file(*fileId);
    if (!f) return resultOnly(result::kDirectoryNotFound);
    const bool mayDownload = m_ctx.catalogue.mayDownload(f->groupId, session.userId);
    appendEntry(reply, fileEntry(*f, mayDownload ? downloadUrl(m_ctx.sessions, *f, peerIp, session.userName) : ""));
    return reply;
  }
  const auto dirId = form.number("dirid");
  if (!dirId) return resultOnly(result::kMissingParameter);
  const auto target = m_ctx.catalogue.node(*dirId);
  if (!target || (target->kind != node::kGroup && target->kind != node::kDirectory)) {
    return resultOnly(result::kDirectoryNotFound);
  }
  const bool download = m_ctx.catalogue.mayDownload(target->groupId, session.userId);
  for (const auto& d : m_ctx.catalogue.directoriesIn(*dirId)) appendEntry(reply, directoryEntry(d));
  for (const auto& f : m_ctx.catalogue.filesIn(*dirId)) {
    const std::string url = download ? downloadUrl(m_ctx.sessions, f, peerIp, session.userName) : std::string();
    appendEntry(reply, fileEntry(f, url));
  }
  return reply;
}

std::string CatalogueActions::getDirectoryNames(const FormFields& form) {
  const auto dirId = form.number("dirid");
  if (!dirId) return resultOnly(result::kMissingParameter);
  const auto target = m_ctx.catalogue.node(*dirId);
  if (!target || (target->kind != node::kGroup && target->kind != node::kDirectory)) {
    return resultOnly(result::kDirectoryNotFound);
  }
  // Read by the client as "NAME:ID", cut at the first ":": the name is
  // encoded as the other reply values are, its ":" too, so that neither an
  // "&" nor a ":" in it breaks the pair (the client decodes it).
  std::string reply = resultOnly(result::kOk);
  int k = 0;
  for (const auto& d : m_ctx.catalogue.directoriesIn(*dirId)) {
    std::string name;
    for (const char c : replyValueEncode(d.name)) name += c == ':' ? std::string("%3A") : std::string(1, c);
    appendField(reply, "d" + std::to_string(k++), name + ":" + std::to_string(d.id));
  }
  return reply;
}

std::string CatalogueActions::createDirectory(const ClientSession& session, const FormFields& form) {
  const auto parent = form.number("parent");
  const std::string name = form.first("dirname");
  if (!parent || name.empty()) return resultOnly(result::kMissingParameter);
  int64_t id = 0;
  const int code = m_ctx.catalogue.createDirectory(session.userId, *parent, name, &id);
  if (code != result::kOk) return resultOnly(code);
  std::string reply = resultOnly(result::kOk);
  appendField(reply, "dirid", id);
  return reply;
}

std::string CatalogueActions::removeDirectories(const ClientSession& session, const FormFields& form) {
  const auto values = form.all("dirid");
  if (values.empty()) return resultOnly(result::kMissingParameter);
  int firstFailure = result::kOk;
  std::vector<FileRow> removed;
  for (const auto& value : values) {
    const auto id = parseNumber(value);
    const int code = id ? m_ctx.catalogue.removeDirectory(session.userId, *id, &removed)
                        : result::kMalformedParameter;
    if (code != result::kOk && firstFailure == result::kOk) firstFailure = code;
  }
  notifyOwners(removed, -1);
  return resultOnly(firstFailure);
}

std::string CatalogueActions::joinGroup(const ClientSession& session, const FormFields& form) {
  const auto groupId = form.number("groupid");
  if (!groupId) return resultOnly(result::kMissingParameter);
  return resultOnly(m_ctx.catalogue.joinGroup(*groupId, session.userId, form.first("password"), form.first("comments")));
}

std::string CatalogueActions::createGroup(const ClientSession& session, const FormFields& form) {
  NewGroup g;
  g.name = form.first("groupname");
  const auto parent = form.number("parentid");
  if (g.name.empty() || !parent) return resultOnly(result::kMissingParameter);
  g.parentId = *parent;
  g.password = form.first("password");
  g.description = form.first("description");
  g.keywords = form.first("keywords");
  g.perm = static_cast<int>(form.number("perm").value_or(policy::kPublicDownload));
  g.memb = static_cast<int>(form.number("memb").value_or(policy::kAdmitAll));
  g.personal = form.first("personal") == "1";
  int64_t id = 0;
  const int code = m_ctx.catalogue.createGroup(g, session.userId, &id);
  if (code != result::kOk) return resultOnly(code);
  std::string reply = resultOnly(result::kOk);
  appendField(reply, "groupid", id);
  return reply;
}

std::string CatalogueActions::allGroups(const ClientSession& session, const FormFields& form) {
  const auto groups = m_ctx.catalogue.userGroups(session.userId);
  // The client's checksum of its cached group IDs: their sum modulo
  // 1,000,000 for 1 to 9,999 IDs, else 0.
  int64_t sum = 0;
  if (!groups.empty() && groups.size() < 10000) {
    for (const auto& g : groups) sum += g.id;
  }
  sum %= 1000000;
  std::string reply = resultOnly(result::kOk);
  if (form.number("checksum") == sum) {
    appendField(reply, "matches", 1);
    return reply;
  }
  appendField(reply, "checksum", sum);
  for (const auto& g : groups) appendEntry(reply, groupEntry(g));
  return reply;
}

std::string CatalogueActions::search(const ClientSession& session, const FormFields& form,
                                     const std::string& peerIp) {
  SearchQuery q;
  q.text = form.first("string");
  if (q.text.empty()) return resultOnly(result::kMissingParameter);
  q.groupId = form.number("groupid").value_or(0);
  q.start = form.number("start").value_or(0);
  q.fetch = form.number("fetch").value_or(100);
  q.minSize = form.number("minsize").value_or(0);
  q.maxSize = form.number("maxsize").value_or(0);
  if (form.has("mindate")) q.minDate = parseSearchDate(form.first("mindate")).value_or(0);
  if (form.has("maxdate")) {
    // The day named is included.
    if (const auto d = parseSearchDate(form.first("maxdate"))) q.maxDate = *d + 24 * 3600 - 1;
  }
  q.fileKind = static_cast<int>(form.number("filekind").value_or(0));
  q.fileType = form.first("filetype");
  q.onlineOnly = form.first("onlineonly") == "1";
  if (q.onlineOnly) q.onlineSince = m_ctx.now() - SessionTable::kOnlineSeconds;
  q.wantCount = form.number("returncount").value_or(0) > 0;
  const SearchResult found = m_ctx.catalogue.search(q);

  std::string reply = resultOnly(result::kOk);
  if (q.wantCount) appendField(reply, "count", found.total);
  std::map<int64_t, bool> downloadable;  // per group, asked once
  for (const auto& f : found.files) {
    auto it = downloadable.find(f.groupId);
    if (it == downloadable.end()) {
      it = downloadable.emplace(f.groupId, m_ctx.catalogue.mayDownload(f.groupId, session.userId)).first;
    }
    const std::string url = it->second ? downloadUrl(m_ctx.sessions, f, peerIp, session.userName) : std::string();
    appendEntry(reply, fileEntry(f, url));
  }
  return reply;
}

void CatalogueActions::notifyOwners(const std::vector<FileRow>& removed, int64_t exceptClientId) {
  std::map<int64_t, std::vector<int64_t>> byClient;
  for (const auto& f : removed) {
    if (f.clientId != exceptClientId) byClient[f.clientId].push_back(f.id);
  }
  for (const auto& [clientId, ids] : byClient) {
    const auto owner = m_ctx.sessions.find(clientId);
    if (owner == nullptr || owner->port <= 0) continue;
    m_ctx.notifier.notify(owner->seenIp, owner->port, ids);
  }
}

}  // namespace vantrel::server
