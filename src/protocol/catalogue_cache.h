// SPDX-License-Identifier: MIT
#pragma once
// CatalogueCache: the catalogue entries the browse views have fetched, kept for
// the life of the process in three maps from ID to entry — categories (the root
// under ID 0), groups and directories — and the fetch that fills them from a
// listing reply. Thread-safe: one lock over the three maps. Entries handed out
// are shared and never changed afterwards: a new listing replaces the cached
// entry with a copy that holds the new children.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "protocol/catalogue_listing.h"
#include "protocol/catalogue_requests.h"
#include "protocol/protocol_context.h"

namespace vantrel {

class CatalogueCache {
 public:
  // GetListing of the kind and ID, ParseListing of the reply, and the entries
  // filed as children of the cached entry (a new root for category 0). A
  // category marked "hasgroups" is fetched with its groups. 0 or the code.
  int FetchListing(ProtocolContext& ctx, ListingKind kind, int32_t id);

  // Files the entries of a listing under their parent, as FetchListing does.
  void storeListing(ListingKind kind, int32_t id, EntryList entries);

  std::shared_ptr<CategoryEntry> category(int32_t id) const;
  std::shared_ptr<GroupEntry> group(int32_t id) const;
  std::shared_ptr<DirectoryEntry> directory(int32_t id) const;
  // Adds or replaces a group (the group cache shares this map).
  void putGroup(std::shared_ptr<GroupEntry> group);

 private:
  void indexLocked(const EntryList& entries);

  mutable std::mutex m_mutex;
  std::map<int32_t, std::shared_ptr<CategoryEntry>> m_categories;  // guarded by m_mutex
  std::map<int32_t, std::shared_ptr<GroupEntry>> m_groups;         // guarded by m_mutex
  std::map<int32_t, std::shared_ptr<DirectoryEntry>> m_directories;  // guarded by m_mutex
};

}  // namespace vantrel
