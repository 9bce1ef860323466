// SPDX-License-Identifier: MIT
#pragma once
// CatalogueStore: categories, groups with their members, directories, the
// files that clients share into them, and the search over file names.
// Categories, groups and directories share one ID space ("nodes"), so a
// directory ID sent by a client may name a group's top level.
//
// Thread-safe: every method takes the database mutex; methods that change
// several rows run in one transaction. The Database must outlive the store.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/database.h"

namespace vantrel::server {

struct Node {
  int64_t id = 0;
  int kind = 0;
  int64_t parentId = 0;
  int64_t groupId = 0;
  std::string name;
  int64_t ownerId = 0;
  bool hasGroups = false;
};

struct CategoryRow {
  int64_t id = 0;
  std::string name;
  int numGroups = 0;
  bool hasGroups = false;
};

struct GroupRow {
  int64_t id = 0;
  std::string name;
  int memb = 0;
  int perm = 0;
  int status = 0;  // of the asking user
  bool personal = false;
  int fileCount = 0;
  int memberCount = 0;
  int64_t ownerId = 0;
  int64_t parentId = 0;
  std::string description;
};

struct DirectoryRow {
  int64_t id = 0;
  std::string name;
  int64_t ownerId = 0;
};

struct FileRow {
  int64_t id = 0;
  std::string name;
  int64_t size = 0;
  int rating = 0;
  int64_t ownerId = 0;
  std::string ownerName;
  int64_t clientId = 0;
  int64_t groupId = 0;
  int64_t dirId = 0;
  int64_t added = 0;
};

struct NewGroup {
  std::string name;
  int64_t parentId = 0;
  std::string password;
  std::string description;
  std::string keywords;
  int perm = 0;
  int memb = 0;
  bool personal = false;
};

// What a group's owner and administrators change on its settings page.
struct GroupSettings {
  int memb = 0;
  int perm = 0;
  std::string description;
  std::string keywords;
  bool hasPassword = false;  // read: whether one is set
  std::string newPassword;   // write: "" keeps the one there is
  bool clearPassword = false;
};

// A user who asked to join a group, with what they wrote.
struct Application {
  int64_t userId = 0;
  std::string userName;
  std::string comments;
};

struct NewFile {
  std::string name;
  int64_t size = 0;
  std::string fileType;
  std::string keywords;
};

struct SearchQuery {
  std::string text;
  int64_t groupId = 0;
  int64_t start = 0;
  int64_t fetch = 100;
  int64_t minSize = 0;
  int64_t maxSize = 0;
  int64_t minDate = 0;  // calendar seconds, 0 = any
  int64_t maxDate = 0;
  int fileKind = 0;     // 0 any, 1 MP3, 2 audio, 3 video, 4 graphic, 5 text, 6 source, 7 other
  std::string fileType;
  bool onlineOnly = false;
  int64_t onlineSince = 0;  // with onlineOnly: the oldest last ping that counts as online
  bool wantCount = false;
};

struct SearchResult {
  std::vector<FileRow> files;
  int64_t total = -1;  // only with wantCount; at most kMaxCount + 1
};

class CatalogueStore {
 public:
  static constexpr size_t kMinGroupName = 4;
  static constexpr size_t kMinGroupPassword = 4;
  static constexpr int64_t kMaxFetch = 500;
  // Search counts stop here: a total above it means "more than kMaxCount".
  static constexpr int64_t kMaxCount = 10000;

  explicit CatalogueStore(Database& db) : m_db(db) {}

  std::optional<Node> node(int64_t id);
  int64_t createCategory(int64_t parentId, std::string_view name, bool hasGroups);
  // A directory made by the server itself (no membership check).
  int64_t addDirectory(int64_t parentId, std::string_view name);
  bool isEmpty();

  // Result code of server_codes.h; the new ID in *id.
  int createGroup(const NewGroup& group, int64_t ownerId, int64_t* id);
  int memberStatus(int64_t groupId, int64_t userId);
  int joinGroup(int64_t groupId, int64_t userId, std::string_view password, std::string_view comments);
  bool setMemberStatus(int64_t groupId, int64_t userId, int status);
  // Members and applicants with their status and user name.
  std::vector<std::pair<std::string, int>> members(int64_t groupId, std::vector<int64_t>* userIds = nullptr);
  std::optional<GroupRow> group(int64_t groupId, int64_t userId);
  // Whether the user may download the group's files: anyone when the group
  // allows it, else its members. Cheap: it counts nothing.
  bool mayDownload(int64_t groupId, int64_t userId);
  std::optional<GroupSettings> groupSettings(int64_t groupId);
  // A result code: a policy that takes a password needs one set or given.
  int updateGroupSettings(int64_t groupId, const GroupSettings& settings);
  std::vector<Application> applications(int64_t groupId);
  std::vector<GroupRow> userGroups(int64_t userId);
  // Number of applications waiting in groups that the user owns or administers.
  int pendingApplications(int64_t userId);

  // Whether the user may add to the node (a group or a directory): a result code.
  int mayShareInto(int64_t nodeId, int64_t userId, Node* target);
  int createDirectory(int64_t userId, int64_t parentId, std::string_view name, int64_t* id);
  // Removes the directory tree with its files (reported in *removed).
  int removeDirectory(int64_t userId, int64_t dirId, std::vector<FileRow>* removed);

  // One ID per file, 0 for a file that could not be added.
  int addFiles(int64_t clientId, int64_t userId, int64_t dirId, const std::vector<NewFile>& files,
               std::vector<int64_t>* ids);
  // Removes those of the IDs that belong to the client; the number removed.
  int removeClientFiles(int64_t clientId, const std::vector<int64_t>& ids);
  // Removes files by ID whoever shares them (an owner or administrator of their group).
  std::vector<FileRow> removeFilesAsGroupAdmin(int64_t userId, const std::vector<int64_t>& ids);
  std::vector<int64_t> fileIds(int64_t clientId);
  // Sum of the client's file IDs modulo 1,000,000.
  int64_t checksum(int64_t clientId);

  std::vector<CategoryRow> categories(int64_t parentId);
  std::vector<GroupRow> groupsIn(int64_t categoryId, int64_t userId);
  std::vector<DirectoryRow> directoriesIn(int64_t nodeId);
  std::vector<FileRow> filesIn(int64_t nodeId);
  std::optional<FileRow> file(int64_t fileId);
  // The chain of nodes from the top down to the node.
  std::vector<Node> path(int64_t nodeId);

  SearchResult search(const SearchQuery& query);

 private:
  std::vector<FileRow> readFiles(Statement& st);
  void collectTree(int64_t nodeId, std::vector<int64_t>& ids);

  Database& m_db;
};

}  // namespace vantrel::server
