// SPDX-License-Identifier: MIT
#pragma once
// AdminStore: what the operator's commands change and count beyond the
// accounts: the category tree, groups as a whole, deleting users with what
// they own, and the totals.
//
// Deleting a user removes the files they share, their memberships and their
// client; each group they own passes to its first administrator, else its
// first member (by account age), and a group with neither is removed with its
// directories and files.
//
// Thread-safe like the other stores: every change runs in one transaction.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/database.h"

namespace vantrel::server {

struct CategoryInfo {
  int64_t id = 0;
  int64_t parentId = 0;
  std::string path;  // "Music / Jazz"
  bool hasGroups = false;
  int64_t groups = 0;
  int64_t subcategories = 0;
};

struct GroupInfo {
  int64_t id = 0;
  std::string name;
  std::string categoryPath;
  std::string ownerName;  // "" when the server owns it
  int memb = 0;
  int perm = 0;
  bool personal = false;
  int64_t members = 0;
  int64_t applicants = 0;
  int64_t files = 0;
};

struct Totals {
  int64_t users = 0;
  int64_t onlineClients = 0;  // sessions the server holds
  int64_t files = 0;
  int64_t groups = 0;
  int64_t categories = 0;
};

class AdminStore {
 public:
  enum class Result { kOk, kNotFound, kBadName, kNotEmpty, kLoop, kStorageFailed };

  explicit AdminStore(Database& db) : m_db(db) {}

  // Depth-first, each category after its parent.
  std::vector<CategoryInfo> categories();
  Result addCategory(int64_t parentId, std::string_view name, bool hasGroups, int64_t* id);
  Result renameCategory(int64_t id, std::string_view name);
  // Under another category (0: the top); never under itself or its own subtree.
  Result moveCategory(int64_t id, int64_t newParentId);
  Result setCategoryHoldsGroups(int64_t id, bool hasGroups);
  // Only an empty category: no groups and no subcategories.
  Result removeCategory(int64_t id);

  std::vector<GroupInfo> groups();
  // The group with its directories, files and memberships.
  Result removeGroup(int64_t id);

  // The rule above; the user's name is gone afterwards.
  Result deleteUser(int64_t userId);

  Totals totals();

 private:
  bool isCategory(int64_t id);
  bool removeGroupRows(int64_t id);  // inside a transaction

  Database& m_db;
};

}  // namespace vantrel::server
