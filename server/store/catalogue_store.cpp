// SPDX-License-Identifier: MIT
#include "server/store/catalogue_store.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>

#include "server/store/names.h"
#include "server/store/server_codes.h"

namespace vantrel::server {

namespace {

constexpr int kHashIterations = 20000;
constexpr size_t kHashSalt = 16;
constexpr size_t kHashSize = 32;

std::string hashGroupPassword(std::string_view password, std::string salt = {}) {
  if (salt.empty()) {
    salt.resize(kHashSalt);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), kHashSalt) != 1) return {};
  }
  std::string out = salt;
  out.resize(kHashSalt + kHashSize);
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()), kHashSalt, kHashIterations, EVP_sha256(),
                        kHashSize, reinterpret_cast<unsigned char*>(out.data()) + kHashSalt) != 1) {
    return {};
  }
  return out;
}

bool groupPasswordMatches(std::string_view password, std::string_view stored) {
  if (stored.size() != kHashSalt + kHashSize) return false;
  const std::string again = hashGroupPassword(password, std::string(stored.substr(0, kHashSalt)));
  return again.size() == stored.size() && CRYPTO_memcmp(again.data(), stored.data(), stored.size()) == 0;
}

std::string fileTypeOf(const NewFile& f) {
  std::string type = f.fileType;
  if (type.empty()) {
    const size_t dot = f.name.rfind('.');
    if (dot != std::string::npos) type = f.name.substr(dot + 1);
  }
  type = asciiLower(cleanName(type, 16));
  return type;
}

constexpr std::string_view kGroupSelect =
    "SELECT n.id, n.name, g.memb, g.perm, COALESCE(m.status, 0), g.personal, "
    "(SELECT COUNT(*) FROM files f WHERE f.group_id = n.id), "
    "(SELECT COUNT(*) FROM members c WHERE c.group_id = n.id AND c.status IN (1, 2, 3)), "
    "n.owner_id, n.parent_id, g.description "
    "FROM nodes n JOIN groups g ON g.id = n.id LEFT JOIN members m ON m.group_id = n.id AND m.user_id = ?1 ";

GroupRow readGroup(Statement& st) {
  GroupRow g;
  g.id = st.integer(0);
  g.name = st.text(1);
  g.memb = static_cast<int>(st.integer(2));
  g.perm = static_cast<int>(st.integer(3));
  g.status = static_cast<int>(st.integer(4));
  g.personal = st.integer(5) != 0;
  g.fileCount = static_cast<int>(st.integer(6));
  g.memberCount = static_cast<int>(st.integer(7));
  g.ownerId = st.integer(8);
  g.parentId = st.integer(9);
  g.description = st.text(10);
  return g;
}

constexpr std::string_view kFileSelect =
    "SELECT f.id, f.name, f.size, f.rating, f.user_id, u.name, f.client_id, f.group_id, f.dir_id, f.added "
    "FROM files f JOIN users u ON u.id = f.user_id ";

bool isMemberStatus(int status) {
  return status == member::kOwner || status == member::kMember || status == member::kAdministrator;
}

}  // namespace

std::optional<Node> CatalogueStore::node(int64_t id) {
  ReadConnection read(m_db);
  Statement st(read, "SELECT id, kind, parent_id, group_id, name, owner_id, has_groups FROM nodes WHERE id = ?");
  st.bind(1, id);
  if (!st.step()) return std::nullopt;
  return Node{st.integer(0), static_cast<int>(st.integer(1)), st.integer(2), st.integer(3), st.text(4), st.integer(5),
              st.integer(6) != 0};
}

int64_t CatalogueStore::createCategory(int64_t parentId, std::string_view name, bool hasGroups) {
  std::scoped_lock lock(m_db.mutex());
  Statement st(m_db,
               "INSERT INTO nodes(kind, parent_id, name, has_groups, created) VALUES (1, ?, ?, ?, ?) RETURNING id");
  st.bind(1, parentId).bind(2, cleanName(name)).bind(3, hasGroups ? 1 : 0);
  st.bind(4, static_cast<int64_t>(std::time(nullptr)));
  return st.runReturningId();
}

int64_t CatalogueStore::addDirectory(int64_t parentId, std::string_view name) {
  std::scoped_lock lock(m_db.mutex());
  const auto parent = node(parentId);
  if (!parent || (parent->kind != node::kGroup && parent->kind != node::kDirectory)) return 0;
  Statement st(m_db,
               "INSERT INTO nodes(kind, parent_id, group_id, name, created) VALUES (3, ?, ?, ?, ?) RETURNING id");
  st.bind(1, parentId).bind(2, parent->groupId).bind(3, cleanName(name));
  st.bind(4, static_cast<int64_t>(std::time(nullptr)));
  return st.runReturningId();
}

bool CatalogueStore::isEmpty() {
  ReadConnection read(m_db);
  Statement st(read, "SELECT COUNT(*) FROM nodes");
  return st.step() && st.integer(0) == 0;
}

int CatalogueStore::createGroup(const NewGroup& g, int64_t ownerId, int64_t* id) {
  const std::string name = cleanName(g.name, 64);
  if (name.size() < kMinGroupName) return result::kGroupNameTooShort;
  const bool needsPassword = g.memb == policy::kPassword || g.memb == policy::kApplyOrPassword;
  if (needsPassword && g.password.size() < kMinGroupPassword) return result::kGroupPasswordTooShort;
  if (g.memb < policy::kApply || g.memb > policy::kAdmitAll) return result::kMalformedParameter;
  const std::string hash = g.password.empty() ? std::string() : hashGroupPassword(g.password);

  Transaction tx(m_db);
  const auto parent = node(g.parentId);
  // Personal groups may live anywhere; others only in categories made for groups.
  if (!parent || parent->kind != node::kCategory || (!parent->hasGroups && !g.personal)) {
    return result::kMalformedParameter;
  }
  Statement taken(m_db, "SELECT 1 FROM nodes WHERE kind = 2 AND name = ? COLLATE NOCASE");
  taken.bind(1, name);
  if (taken.step()) return result::kGroupNameTaken;
  const int64_t now = std::time(nullptr);
  Statement addNode(m_db,
                    "INSERT INTO nodes(kind, parent_id, name, owner_id, created) VALUES (2, ?, ?, ?, ?) RETURNING id");
  addNode.bind(1, g.parentId).bind(2, name).bind(3, ownerId).bind(4, now);
  const int64_t newId = addNode.runReturningId();
  if (newId == 0) return result::kServerError;
  Statement self(m_db, "UPDATE nodes SET group_id = id WHERE id = ?");
  Statement addGroup(m_db,
                     "INSERT INTO groups(id, memb, perm, personal, password_hash, description, keywords) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?)");
  addGroup.bind(1, newId).bind(2, g.memb).bind(3, g.perm == policy::kPublicDownload ? 2 : 0);
  addGroup.bind(4, g.personal ? 1 : 0);
  if (hash.empty()) {
    addGroup.bindNull(5);
  } else {
    addGroup.bindBlob(5, hash);
  }
  addGroup.bind(6, g.description.substr(0, 1000)).bind(7, g.keywords.substr(0, 200));
  Statement owner(m_db, "INSERT INTO members(group_id, user_id, status) VALUES (?, ?, 1)");
  owner.bind(1, newId).bind(2, ownerId);
  if (!self.bind(1, newId).run() || !addGroup.run() || (ownerId > 0 && !owner.run()) || !tx.commit()) {
    return result::kServerError;
  }
  if (id != nullptr) *id = newId;
  return result::kOk;
}

int CatalogueStore::memberStatus(int64_t groupId, int64_t userId) {
  ReadConnection read(m_db);
  Statement st(read, "SELECT status FROM members WHERE group_id = ? AND user_id = ?");
  st.bind(1, groupId).bind(2, userId);
  return st.step() ? static_cast<int>(st.integer(0)) : member::kNone;
}

int CatalogueStore::joinGroup(int64_t groupId, int64_t userId, std::string_view password, std::string_view comments) {
  Transaction tx(m_db);
  Statement st(m_db, "SELECT memb, password_hash FROM groups WHERE id = ?");
  st.bind(1, groupId);
  if (!st.step()) return result::kGroupMissing;
  const int memb = static_cast<int>(st.integer(0));
  const std::string hash = st.text(1);
  const int status = memberStatus(groupId, userId);
  if (isMemberStatus(status)) return result::kAlreadyMember;
  if (status == member::kBanned) return result::kBanned;

  int outcome = result::kOk;
  switch (memb) {
    case policy::kDenyAll: return result::kGroupClosed;
    case policy::kAdmitAll: break;
    case policy::kPassword:
      if (!groupPasswordMatches(password, hash)) return result::kWrongGroupPassword;
      break;
    case policy::kApplyOrPassword:
      if (!password.empty()) {
        if (!groupPasswordMatches(password, hash)) return result::kWrongGroupPassword;
        break;
      }
      outcome = result::kApplicationSent;
      break;
    default:  // apply, and any policy we do not know
      outcome = result::kApplicationSent;
      break;
  }
  Statement put(m_db,
                "INSERT INTO members(group_id, user_id, status, comments) VALUES (?, ?, ?, ?) "
                "ON CONFLICT(group_id, user_id) DO UPDATE SET status = excluded.status, comments = excluded.comments");
  put.bind(1, groupId).bind(2, userId).bind(3, outcome == result::kOk ? member::kMember : member::kApplicant);
  put.bind(4, comments.substr(0, 500));
  if (!put.run() || !tx.commit()) return result::kServerError;
  return outcome;
}

bool CatalogueStore::setMemberStatus(int64_t groupId, int64_t userId, int status) {
  std::scoped_lock lock(m_db.mutex());
  if (status == member::kNone) {
    Statement st(m_db, "DELETE FROM members WHERE group_id = ? AND user_id = ? AND status <> 1");
    return st.bind(1, groupId).bind(2, userId).run();
  }
  Statement st(m_db,
               "INSERT INTO members(group_id, user_id, status) VALUES (?1, ?2, ?3) ON CONFLICT(group_id, user_id) "
               "DO UPDATE SET status = ?3 WHERE members.status <> 1");
  return st.bind(1, groupId).bind(2, userId).bind(3, status).run();
}

std::vector<std::pair<std::string, int>> CatalogueStore::members(int64_t groupId, std::vector<int64_t>* userIds) {
  ReadConnection read(m_db);
  std::vector<std::pair<std::string, int>> out;
  Statement st(read,
               "SELECT u.name, m.status, u.id FROM members m JOIN users u ON u.id = m.user_id WHERE m.group_id = ? "
               "ORDER BY m.status, u.name");
  st.bind(1, groupId);
  while (st.step()) {
    out.emplace_back(st.text(0), static_cast<int>(st.integer(1)));
    if (userIds != nullptr) userIds->push_back(st.integer(2));
  }
  return out;
}

std::optional<GroupRow> CatalogueStore::group(int64_t groupId, int64_t userId) {
  ReadConnection read(m_db);
  Statement st(read, std::string(kGroupSelect) + "WHERE n.id = ?2");
  st.bind(1, userId).bind(2, groupId);
  if (!st.step()) return std::nullopt;
  return readGroup(st);
}

bool CatalogueStore::mayDownload(int64_t groupId, int64_t userId) {
  ReadConnection read(m_db);
  Statement st(read,
               "SELECT g.perm, COALESCE(m.status, 0) FROM groups g LEFT JOIN members m ON m.group_id = g.id AND "
               "m.user_id = ? WHERE g.id = ?");
  st.bind(1, userId).bind(2, groupId);
  return st.step() && (st.integer(0) == policy::kPublicDownload || isMemberStatus(static_cast<int>(st.integer(1))));
}

std::optional<GroupSettings> CatalogueStore::groupSettings(int64_t groupId) {
  ReadConnection read(m_db);
  Statement st(read, "SELECT memb, perm, description, keywords, password_hash IS NOT NULL FROM groups WHERE id = ?");
  st.bind(1, groupId);
  if (!st.step()) return std::nullopt;
  GroupSettings out;
  out.memb = static_cast<int>(st.integer(0));
  out.perm = static_cast<int>(st.integer(1));
  out.description = st.text(2);
  out.keywords = st.text(3);
  out.hasPassword = st.integer(4) != 0;
  return out;
}

int CatalogueStore::updateGroupSettings(int64_t groupId, const GroupSettings& s) {
  if (s.memb < policy::kApply || s.memb > policy::kAdmitAll) return result::kMalformedParameter;
  if (s.perm != policy::kPublicDownload && s.perm != policy::kMemberDownload) return result::kMalformedParameter;
  if (!s.newPassword.empty() && s.newPassword.size() < kMinGroupPassword) return result::kGroupPasswordTooShort;
  const std::string hash = s.newPassword.empty() ? std::string() : hashGroupPassword(s.newPassword);
  if (!s.newPassword.empty() && hash.empty()) return result::kServerError;
  Transaction tx(m_db);
  const auto current = groupSettings(groupId);
  if (!current) return result::kGroupMissing;
  const bool passwordAfter = !hash.empty() || (current->hasPassword && !s.clearPassword);
  const bool needsPassword = s.memb == policy::kPassword || s.memb == policy::kApplyOrPassword;
  if (needsPassword && !passwordAfter) return result::kGroupPasswordTooShort;
  Statement st(m_db, "UPDATE groups SET memb = ?, perm = ?, description = ?, keywords = ? WHERE id = ?");
  st.bind(1, s.memb).bind(2, s.perm).bind(3, s.description.substr(0, 1000)).bind(4, s.keywords.substr(0, 200));
  st.bind(5, groupId);
  if (!st.run()) return result::kServerError;
  if (!hash.empty() || s.clearPassword) {
    Statement pw(m_db, "UPDATE groups SET password_hash = ? WHERE id = ?");
    if (hash.empty()) {
      pw.bindNull(1);
    } else {
      pw.bindBlob(1, hash);
    }
    if (!pw.bind(2, groupId).run()) return result::kServerError;
  }
  return tx.commit() ? result::kOk : result::kServerError;
}

std::vector<Application> CatalogueStore::applications(int64_t groupId) {
  ReadConnection read(m_db);
  std::vector<Application> out;
  Statement st(read,
               "SELECT u.id, u.name, m.comments FROM members m JOIN users u ON u.id = m.user_id "
               "WHERE m.group_id = ? AND m.status = 4 ORDER BY u.name");
  st.bind(1, groupId);
  while (st.step()) out.push_back({st.integer(0), st.text(1), st.text(2)});
  return out;
}

std::vector<GroupRow> CatalogueStore::userGroups(int64_t userId) {
  ReadConnection read(m_db);
  std::vector<GroupRow> out;
  Statement st(read, std::string(kGroupSelect) + "WHERE m.status IN (1, 2, 3) ORDER BY n.id");
  st.bind(1, userId);
  while (st.step()) out.push_back(readGroup(st));
  return out;
}

int CatalogueStore::pendingApplications(int64_t userId) {
  ReadConnection read(m_db);
  Statement st(read,
               "SELECT COUNT(*) FROM members a JOIN members me ON me.group_id = a.group_id AND me.user_id = ? "
               "AND me.status IN (1, 3) WHERE a.status = 4");
  st.bind(1, userId);
  return st.step() ? static_cast<int>(st.integer(0)) : 0;
}

int CatalogueStore::mayShareInto(int64_t nodeId, int64_t userId, Node* target) {
  std::scoped_lock lock(m_db.mutex());
  const auto n = node(nodeId);
  if (!n || (n->kind != node::kGroup && n->kind != node::kDirectory)) return result::kShareDirectoryMissing;
  const auto g = node(n->groupId);
  if (!g || g->kind != node::kGroup) return result::kGroupMissing;
  if (!isMemberStatus(memberStatus(g->id, userId))) return result::kNotMember;
  if (target != nullptr) *target = *n;
  return result::kOk;
}

int CatalogueStore::createDirectory(int64_t userId, int64_t parentId, std::string_view name, int64_t* id) {
  const std::string clean = cleanName(name);
  if (clean.empty()) return result::kMissingParameter;
  Transaction tx(m_db);
  Node parent;
  const int allowed = mayShareInto(parentId, userId, &parent);
  if (allowed == result::kShareDirectoryMissing) return result::kDirectoryNotFound;
  if (allowed != result::kOk) return allowed;
  // Sharing a tree asks for its directories as it goes; one of the same name
  // under the same parent is handed back rather than made twice.
  Statement same(m_db, "SELECT id FROM nodes WHERE kind = 3 AND parent_id = ? AND name = ?");
  same.bind(1, parentId).bind(2, clean);
  if (same.step()) {
    if (id != nullptr) *id = same.integer(0);
    return result::kOk;
  }
  Statement st(m_db,
               "INSERT INTO nodes(kind, parent_id, group_id, name, owner_id, created) VALUES (3, ?, ?, ?, ?, ?) "
               "RETURNING id");
  st.bind(1, parentId).bind(2, parent.groupId).bind(3, clean).bind(4, userId);
  st.bind(5, static_cast<int64_t>(std::time(nullptr)));
  const int64_t newId = st.runReturningId();
  if (newId == 0) return result::kServerError;
  if (!tx.commit()) return result::kServerError;
  if (id != nullptr) *id = newId;
  return result::kOk;
}

void CatalogueStore::collectTree(int64_t nodeId, std::vector<int64_t>& ids) {
  ids.push_back(nodeId);
  std::vector<int64_t> children;
  {
    Statement st(m_db, "SELECT id FROM nodes WHERE parent_id = ? AND kind = 3");
    st.bind(1, nodeId);
    while (st.step()) children.push_back(st.integer(0));
  }
  for (const int64_t child : children) collectTree(child, ids);
}

int CatalogueStore::removeDirectory(int64_t userId, int64_t dirId, std::vector<FileRow>* removed) {
  Transaction tx(m_db);
  const auto dir = node(dirId);
  if (!dir || dir->kind != node::kDirectory) return result::kDirectoryNotFound;
  const int status = memberStatus(dir->groupId, userId);
  const bool manages = status == member::kOwner || status == member::kAdministrator;
  // A directory's maker removes it only while still a member: one banned or
  // gone from the group changes nothing in it, and the tree holds the files of
  // other members too.
  const bool ownsIt = dir->ownerId == userId && status == member::kMember;
  if (!manages && !ownsIt) return result::kNotMember;
  std::vector<int64_t> ids;
  collectTree(dirId, ids);
  Statement files(m_db, std::string(kFileSelect) + "WHERE f.dir_id = ?");
  Statement dropFiles(m_db, "DELETE FROM files WHERE dir_id = ?");
  Statement dropNode(m_db, "DELETE FROM nodes WHERE id = ?");
  for (const int64_t id : ids) {
    files.reset();
    files.bind(1, id);
    auto rows = readFiles(files);
    if (removed != nullptr) removed->insert(removed->end(), rows.begin(), rows.end());
    dropFiles.reset();
    dropNode.reset();
    if (!dropFiles.bind(1, id).run() || !dropNode.bind(1, id).run()) return result::kServerError;
  }
  return tx.commit() ? result::kOk : result::kServerError;
}

int CatalogueStore::addFiles(int64_t clientId, int64_t userId, int64_t dirId, const std::vector<NewFile>& files,
                             std::vector<int64_t>* ids) {
  Transaction tx(m_db);
  Node target;
  const int allowed = mayShareInto(dirId, userId, &target);
  if (allowed != result::kOk) return allowed;
  const int64_t now = std::time(nullptr);
  Statement st(m_db,
               "INSERT INTO files(client_id, user_id, dir_id, group_id, name, size, filetype, keywords, added) "
               "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id");
  // A file this client already registered in this directory, by the same
  // name and size, keeps its ID: a request sent again (the client's own retry,
  // or one recorded and replayed) adds no second row. Read once, so that a
  // request of thousands of files stays linear.
  std::map<std::pair<std::string, int64_t>, int64_t> known;
  {
    Statement listed(m_db, "SELECT id, name, size FROM files WHERE client_id = ? AND dir_id = ?");
    listed.bind(1, clientId).bind(2, dirId);
    while (listed.step()) known.emplace(std::make_pair(listed.text(1), listed.integer(2)), listed.integer(0));
  }
  std::vector<int64_t> out;
  for (const auto& f : files) {
    const std::string name = cleanName(f.name);
    if (name.empty() || f.size < 0) {
      out.push_back(0);
      continue;
    }
    auto [at, added] = known.emplace(std::make_pair(name, f.size), 0);
    if (!added) {
      out.push_back(at->second);
      continue;
    }
    st.reset();
    st.bind(1, clientId).bind(2, userId).bind(3, dirId).bind(4, target.groupId).bind(5, name).bind(6, f.size);
    st.bind(7, fileTypeOf(f)).bind(8, cleanName(f.keywords, 200)).bind(9, now);
    at->second = st.runReturningId();
    if (at->second == 0) return result::kServerError;
    out.push_back(at->second);
  }
  if (!tx.commit()) return result::kServerError;
  if (ids != nullptr) *ids = std::move(out);
  return result::kOk;
}

int CatalogueStore::removeClientFiles(int64_t clientId, const std::vector<int64_t>& ids) {
  Transaction tx(m_db);
  Statement st(m_db, "DELETE FROM files WHERE id = ? AND client_id = ?");
  int removed = 0;
  for (const int64_t id : ids) {
    st.reset();
    if (st.bind(1, id).bind(2, clientId).run()) removed += m_db.changes();
  }
  return tx.commit() ? removed : 0;
}

std::vector<FileRow> CatalogueStore::removeFilesAsGroupAdmin(int64_t userId, const std::vector<int64_t>& ids) {
  Transaction tx(m_db);
  std::vector<FileRow> removed;
  Statement drop(m_db, "DELETE FROM files WHERE id = ?");
  for (const int64_t id : ids) {
    const auto f = file(id);
    if (!f) continue;
    const int status = memberStatus(f->groupId, userId);
    if (status != member::kOwner && status != member::kAdministrator && f->ownerId != userId) continue;
    drop.reset();
    if (drop.bind(1, id).run()) removed.push_back(*f);
  }
  if (!tx.commit()) return {};
  return removed;
}

std::vector<int64_t> CatalogueStore::fileIds(int64_t clientId) {
  ReadConnection read(m_db);
  std::vector<int64_t> out;
  Statement st(read, "SELECT id FROM files WHERE client_id = ? ORDER BY id");
  st.bind(1, clientId);
  while (st.step()) out.push_back(st.integer(0));
  return out;
}

int64_t CatalogueStore::checksum(int64_t clientId) {
  ReadConnection read(m_db);
  Statement st(read, "SELECT COALESCE(SUM(id % 1000000), 0) % 1000000 FROM files WHERE client_id = ?");
  st.bind(1, clientId);
  return st.runReturningId();
}

std::vector<CategoryRow> CatalogueStore::categories(int64_t parentId) {
  ReadConnection read(m_db);
  std::vector<CategoryRow> out;
  Statement st(read,
               "SELECT n.id, n.name, n.has_groups, (SELECT COUNT(*) FROM nodes g WHERE g.parent_id = n.id AND "
               "g.kind = 2) FROM nodes n WHERE n.kind = 1 AND n.parent_id = ? ORDER BY n.name");
  st.bind(1, parentId);
  while (st.step()) {
    out.push_back({st.integer(0), st.text(1), static_cast<int>(st.integer(3)), st.integer(2) != 0});
  }
  return out;
}

std::vector<GroupRow> CatalogueStore::groupsIn(int64_t categoryId, int64_t userId) {
  ReadConnection read(m_db);
  std::vector<GroupRow> out;
  Statement st(read, std::string(kGroupSelect) + "WHERE n.parent_id = ?2 ORDER BY n.name");
  st.bind(1, userId).bind(2, categoryId);
  while (st.step()) out.push_back(readGroup(st));
  return out;
}

std::vector<DirectoryRow> CatalogueStore::directoriesIn(int64_t nodeId) {
  ReadConnection read(m_db);
  std::vector<DirectoryRow> out;
  Statement st(read, "SELECT id, name, owner_id FROM nodes WHERE kind = 3 AND parent_id = ? ORDER BY name");
  st.bind(1, nodeId);
  while (st.step()) out.push_back({st.integer(0), st.text(1), st.integer(2)});
  return out;
}

std::vector<FileRow> CatalogueStore::filesIn(int64_t nodeId) {
  ReadConnection read(m_db);
  Statement st(read, std::string(kFileSelect) + "WHERE f.dir_id = ? ORDER BY f.name");
  st.bind(1, nodeId);
  return readFiles(st);
}

std::optional<FileRow> CatalogueStore::file(int64_t fileId) {
  ReadConnection read(m_db);
  Statement st(read, std::string(kFileSelect) + "WHERE f.id = ?");
  st.bind(1, fileId);
  auto rows = readFiles(st);
  if (rows.empty()) return std::nullopt;
  return rows.front();
}

std::vector<Node> CatalogueStore::path(int64_t nodeId) {
  ReadConnection read(m_db);
  std::vector<Node> out;
  for (int depth = 0; depth < 64 && nodeId != 0; ++depth) {
    const auto n = node(nodeId);
    if (!n) break;
    out.push_back(*n);
    nodeId = n->parentId;
  }
  std::reverse(out.begin(), out.end());
  return out;
}

std::vector<FileRow> CatalogueStore::readFiles(Statement& st) {
  std::vector<FileRow> out;
  while (st.step()) {
    out.push_back({st.integer(0), st.text(1), st.integer(2), static_cast<int>(st.integer(3)), st.integer(4),
                   st.text(5), st.integer(6), st.integer(7), st.integer(8), st.integer(9)});
  }
  return out;
}

}  // namespace vantrel::server
