// SPDX-License-Identifier: MIT
#include "server/store/admin_store.h"

#include <ctime>
#include <functional>
#include <map>

#include "server/store/names.h"
#include "server/store/server_codes.h"

namespace vantrel::server {

bool AdminStore::isCategory(int64_t id) {
  Statement st(m_db, "SELECT 1 FROM nodes WHERE id = ? AND kind = 1");
  st.bind(1, id);
  return st.step();
}

std::vector<CategoryInfo> AdminStore::categories() {
  std::scoped_lock lock(m_db.mutex());
  std::map<int64_t, std::vector<CategoryInfo>> children;
  Statement st(m_db,
               "SELECT n.id, n.parent_id, n.name, n.has_groups, "
               "(SELECT COUNT(*) FROM nodes g WHERE g.parent_id = n.id AND g.kind = 2), "
               "(SELECT COUNT(*) FROM nodes c WHERE c.parent_id = n.id AND c.kind = 1) "
               "FROM nodes n WHERE n.kind = 1 ORDER BY n.name COLLATE NOCASE, n.id");
  while (st.step()) {
    CategoryInfo c{st.integer(0), st.integer(1), st.text(2), st.integer(3) != 0, st.integer(4), st.integer(5)};
    children[c.parentId].push_back(std::move(c));
  }
  std::vector<CategoryInfo> out;
  std::function<void(int64_t, const std::string&, int)> walk = [&](int64_t parent, const std::string& prefix,
                                                                    int depth) {
    const auto it = children.find(parent);
    if (it == children.end() || depth > 64) return;
    for (CategoryInfo c : it->second) {
      c.path = prefix.empty() ? c.path : prefix + " / " + c.path;
      const int64_t id = c.id;
      const std::string path = c.path;
      out.push_back(std::move(c));
      walk(id, path, depth + 1);
    }
  };
  walk(0, "", 0);
  return out;
}

AdminStore::Result AdminStore::addCategory(int64_t parentId, std::string_view name, bool hasGroups, int64_t* id) {
  const std::string clean = cleanName(name, 64);
  if (clean.empty()) return Result::kBadName;
  Transaction tx(m_db);
  if (parentId != 0 && !isCategory(parentId)) return Result::kNotFound;
  Statement st(m_db,
               "INSERT INTO nodes(kind, parent_id, name, has_groups, created) VALUES (1, ?, ?, ?, ?) RETURNING id");
  st.bind(1, parentId).bind(2, clean).bind(3, hasGroups ? 1 : 0).bind(4, static_cast<int64_t>(std::time(nullptr)));
  const int64_t newId = st.runReturningId();
  if (newId == 0) return Result::kStorageFailed;
  if (!tx.commit()) return Result::kStorageFailed;
  if (id != nullptr) *id = newId;
  return Result::kOk;
}

AdminStore::Result AdminStore::renameCategory(int64_t id, std::string_view name) {
  const std::string clean = cleanName(name, 64);
  if (clean.empty()) return Result::kBadName;
  Transaction tx(m_db);
  if (!isCategory(id)) return Result::kNotFound;
  Statement st(m_db, "UPDATE nodes SET name = ? WHERE id = ?");
  return st.bind(1, clean).bind(2, id).run() && tx.commit() ? Result::kOk : Result::kStorageFailed;
}

AdminStore::Result AdminStore::moveCategory(int64_t id, int64_t newParentId) {
  Transaction tx(m_db);
  if (!isCategory(id) || (newParentId != 0 && !isCategory(newParentId))) return Result::kNotFound;
  // Walk up from the new parent: meeting the category itself would make a loop.
  Statement up(m_db, "SELECT parent_id FROM nodes WHERE id = ?");
  for (int64_t at = newParentId, steps = 0; at != 0; ++steps) {
    if (at == id || steps > 10000) return Result::kLoop;
    up.reset();
    up.bind(1, at);
    at = up.step() ? up.integer(0) : 0;
  }
  Statement st(m_db, "UPDATE nodes SET parent_id = ? WHERE id = ?");
  return st.bind(1, newParentId).bind(2, id).run() && tx.commit() ? Result::kOk : Result::kStorageFailed;
}

AdminStore::Result AdminStore::setCategoryHoldsGroups(int64_t id, bool hasGroups) {
  Transaction tx(m_db);
  if (!isCategory(id)) return Result::kNotFound;
  Statement st(m_db, "UPDATE nodes SET has_groups = ? WHERE id = ?");
  return st.bind(1, hasGroups ? 1 : 0).bind(2, id).run() && tx.commit() ? Result::kOk : Result::kStorageFailed;
}

AdminStore::Result AdminStore::removeCategory(int64_t id) {
  Transaction tx(m_db);
  if (!isCategory(id)) return Result::kNotFound;
  Statement children(m_db, "SELECT 1 FROM nodes WHERE parent_id = ? LIMIT 1");
  children.bind(1, id);
  if (children.step()) return Result::kNotEmpty;
  Statement st(m_db, "DELETE FROM nodes WHERE id = ?");
  return st.bind(1, id).run() && tx.commit() ? Result::kOk : Result::kStorageFailed;
}

std::vector<GroupInfo> AdminStore::groups() {
  std::scoped_lock lock(m_db.mutex());
  std::map<int64_t, std::string> paths;
  for (const auto& c : categories()) paths[c.id] = c.path;
  std::vector<GroupInfo> out;
  Statement st(m_db,
               "SELECT n.id, n.name, n.parent_id, COALESCE(u.name, ''), g.memb, g.perm, g.personal, "
               "(SELECT COUNT(*) FROM members m WHERE m.group_id = n.id AND m.status IN (1, 2, 3)), "
               "(SELECT COUNT(*) FROM members m WHERE m.group_id = n.id AND m.status = 4), "
               "(SELECT COUNT(*) FROM files f WHERE f.group_id = n.id) "
               "FROM nodes n JOIN groups g ON g.id = n.id LEFT JOIN users u ON u.id = n.owner_id "
               "WHERE n.kind = 2 ORDER BY n.name COLLATE NOCASE");
  while (st.step()) {
    GroupInfo g;
    g.id = st.integer(0);
    g.name = st.text(1);
    g.categoryPath = paths[st.integer(2)];
    g.ownerName = st.text(3);
    g.memb = static_cast<int>(st.integer(4));
    g.perm = static_cast<int>(st.integer(5));
    g.personal = st.integer(6) != 0;
    g.members = st.integer(7);
    g.applicants = st.integer(8);
    g.files = st.integer(9);
    out.push_back(std::move(g));
  }
  return out;
}

bool AdminStore::removeGroupRows(int64_t id) {
  Statement files(m_db, "DELETE FROM files WHERE group_id = ?");
  Statement dirs(m_db, "DELETE FROM nodes WHERE kind = 3 AND group_id = ?");
  Statement group(m_db, "DELETE FROM nodes WHERE id = ? AND kind = 2");  // groups and members follow
  return files.bind(1, id).run() && dirs.bind(1, id).run() && group.bind(1, id).run();
}

AdminStore::Result AdminStore::removeGroup(int64_t id) {
  Transaction tx(m_db);
  Statement is(m_db, "SELECT 1 FROM nodes WHERE id = ? AND kind = 2");
  is.bind(1, id);
  if (!is.step()) return Result::kNotFound;
  return removeGroupRows(id) && tx.commit() ? Result::kOk : Result::kStorageFailed;
}

AdminStore::Result AdminStore::deleteUser(int64_t userId) {
  Transaction tx(m_db);
  Statement is(m_db, "SELECT 1 FROM users WHERE id = ?");
  is.bind(1, userId);
  if (!is.step()) return Result::kNotFound;
  std::vector<int64_t> owned;
  {
    Statement st(m_db, "SELECT id FROM nodes WHERE kind = 2 AND owner_id = ?");
    st.bind(1, userId);
    while (st.step()) owned.push_back(st.integer(0));
  }
  Statement heir(m_db,
                 "SELECT user_id FROM members WHERE group_id = ? AND user_id <> ? AND status IN (3, 2) "
                 "ORDER BY CASE status WHEN 3 THEN 0 ELSE 1 END, user_id LIMIT 1");
  Statement handNode(m_db, "UPDATE nodes SET owner_id = ? WHERE id = ?");
  Statement handMember(m_db, "UPDATE members SET status = 1 WHERE group_id = ? AND user_id = ?");
  for (const int64_t group : owned) {
    heir.reset();
    heir.bind(1, group).bind(2, userId);
    if (heir.step()) {
      const int64_t next = heir.integer(0);
      handNode.reset();
      handMember.reset();
      if (!handNode.bind(1, next).bind(2, group).run() || !handMember.bind(1, group).bind(2, next).run()) {
        return Result::kStorageFailed;
      }
    } else if (!removeGroupRows(group)) {
      return Result::kStorageFailed;
    }
  }
  // Directories the user made stay with their groups; the files go. The
  // client, its session, memberships and web sign-ins follow the user.
  Statement files(m_db, "DELETE FROM files WHERE user_id = ?");
  Statement salts(m_db, "DELETE FROM login_salts WHERE user_id = ?");
  Statement sessions(m_db, "DELETE FROM sessions WHERE user_id = ?");
  Statement user(m_db, "DELETE FROM users WHERE id = ?");
  if (!files.bind(1, userId).run() || !salts.bind(1, userId).run() || !sessions.bind(1, userId).run() ||
      !user.bind(1, userId).run()) {
    return Result::kStorageFailed;
  }
  return tx.commit() ? Result::kOk : Result::kStorageFailed;
}

Totals AdminStore::totals() {
  std::scoped_lock lock(m_db.mutex());
  Statement st(m_db,
               "SELECT (SELECT COUNT(*) FROM users), (SELECT COUNT(*) FROM sessions), (SELECT COUNT(*) FROM files), "
               "(SELECT COUNT(*) FROM nodes WHERE kind = 2), (SELECT COUNT(*) FROM nodes WHERE kind = 1)");
  if (!st.step()) return {};
  return {st.integer(0), st.integer(1), st.integer(2), st.integer(3), st.integer(4)};
}

}  // namespace vantrel::server
