// SPDX-License-Identifier: MIT
#pragma once
// CatalogueService: every catalogue operation the window's views use, as one
// interface, so that the views and their commands run against the real
// central server (ClientCatalogueService) or against a scripted catalogue in
// tests. Listing, search and change operations talk to the network and run on
// a CatalogueRunner worker, never on the UI thread; the cache readers are
// cheap and may be called anywhere. Implementations are thread-safe.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/sync/share_run.h"
#include "protocol/catalogue_listing.h"
#include "protocol/catalogue_requests.h"
#include "transfers/group_entry.h"

namespace vantrel {

namespace catalogue_view {
// A listed name that cannot name a local file ("", ".", "..").
inline constexpr int kUnusableName = 231;
// A folder to download that holds no files, in it or below.
inline constexpr int kNothingToDownload = 232;
}  // namespace catalogue_view

class CatalogueService {
 public:
  virtual ~CatalogueService() = default;

  // Who is logged in: the user ID owns entries ("ownerid"), 0 before a login.
  virtual int32_t userId() const = 0;

  // Network: 0 or the code.
  virtual int fetchListing(ListingKind kind, int32_t id) = 0;
  virtual int search(const SearchCriteria& criteria, EntryList& results) = 0;
  virtual int createDirectory(const std::string& name, int32_t parentId, int32_t& newId) = 0;
  // 0 when every entry went; the first code otherwise.
  virtual int removeFiles(const std::vector<int32_t>& fileIds) = 0;
  virtual int removeDirectories(const std::vector<int32_t>& directoryIds) = 0;
  // 500 when joined, as the request answers; 600 when the application was
  // sent, and the group is then listed as pending among the user's groups.
  virtual int joinGroup(int32_t groupId, const std::string& password, const std::string& comments) = 0;
  // 0 with group.id set, or the code.
  virtual int createGroup(GroupEntry& group, int32_t parentCategoryId) = 0;
  virtual int shareFiles(const std::vector<std::string>& paths, const ShareDestination& to,
                         const ShareProgress& progress, const std::function<bool()>& cancelled) = 0;
  // Refreshes the user's groups (and their file); 0 or the code. With `force`
  // every group comes again, with its counts, even when the IDs are current.
  virtual int syncGroups(bool force) = 0;
  // Queues a file, or the files of a directory tree, into `folder` (ending in "/");
  // a directory's own folder is the caller's to add.
  virtual int downloadFile(const FileEntry& file, const std::string& folder) = 0;
  virtual int downloadDirectory(const DirectoryEntry& directory, const std::string& folder) = 0;

  // The cache: what the last listings brought; null when never listed.
  virtual std::shared_ptr<CategoryEntry> category(int32_t id) const = 0;
  virtual std::shared_ptr<GroupEntry> group(int32_t id) const = 0;
  virtual std::shared_ptr<DirectoryEntry> directory(int32_t id) const = 0;
  // The groups of the user's group file, in its order.
  virtual std::vector<CGroupEntry> myGroups() const = 0;

  // The service's web site, signed in as this client, at the page `redirect`.
  virtual std::string webLoginUrl(const std::string& redirect) const = 0;
};

}  // namespace vantrel
