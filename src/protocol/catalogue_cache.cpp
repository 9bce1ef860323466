// SPDX-License-Identifier: MIT
#include "protocol/catalogue_cache.h"

namespace vantrel {

namespace {

// A cached entry is never changed in place, since readers may hold it without
// the lock: a listing replaces it with a copy that carries the new children.
template <class T>
std::shared_ptr<T> withChildren(const T& entry, EntryList children) {
  auto copy = std::make_shared<T>(entry);
  copy->children = std::move(children);
  return copy;
}

}  // namespace

int CatalogueCache::FetchListing(ProtocolContext& ctx, ListingKind kind, int32_t id) {
  if (kind == ListingKind::Category) {
    if (const auto cached = category(id); cached && cached->hasGroups) kind = ListingKind::CategoryWithGroups;
  }
  std::string reply;
  const int code = GetListing(ctx, kind, id, reply);
  if (code != catalogue::kListingOk) return code;
  storeListing(kind, id, ParseListing(reply));
  return 0;
}

void CatalogueCache::storeListing(ListingKind kind, int32_t id, EntryList entries) {
  std::scoped_lock lock(m_mutex);
  indexLocked(entries);
  switch (kind) {
    case ListingKind::Category:
    case ListingKind::CategoryWithGroups:
      if (id == 0) {
        auto root = std::make_shared<CategoryEntry>();
        root->children = std::move(entries);
        m_categories[0] = std::move(root);
      } else if (const auto it = m_categories.find(id); it != m_categories.end()) {
        it->second = withChildren(*it->second, std::move(entries));
      }
      break;
    case ListingKind::Group:
      if (const auto it = m_groups.find(id); it != m_groups.end()) {
        it->second = withChildren(*it->second, std::move(entries));
      }
      break;
    case ListingKind::Directory:
      if (const auto it = m_directories.find(id); it != m_directories.end()) {
        it->second = withChildren(*it->second, std::move(entries));
      }
      break;
  }
}

void CatalogueCache::indexLocked(const EntryList& entries) {
  // Entries become reachable by ID so that the next listing of one of them
  // finds its record (and its "hasgroups" mark). The root keeps ID 0.
  for (const auto& e : entries) {
    switch (e->type) {
      case EntryType::Category:
        if (e->id != 0) m_categories[e->id] = std::static_pointer_cast<CategoryEntry>(e);
        break;
      case EntryType::Group:
        m_groups[e->id] = std::static_pointer_cast<GroupEntry>(e);
        break;
      case EntryType::Directory:
        m_directories[e->id] = std::static_pointer_cast<DirectoryEntry>(e);
        break;
      case EntryType::File:
        break;
    }
  }
}

std::shared_ptr<CategoryEntry> CatalogueCache::category(int32_t id) const {
  std::scoped_lock lock(m_mutex);
  const auto it = m_categories.find(id);
  return it == m_categories.end() ? nullptr : it->second;
}

std::shared_ptr<GroupEntry> CatalogueCache::group(int32_t id) const {
  std::scoped_lock lock(m_mutex);
  const auto it = m_groups.find(id);
  return it == m_groups.end() ? nullptr : it->second;
}

std::shared_ptr<DirectoryEntry> CatalogueCache::directory(int32_t id) const {
  std::scoped_lock lock(m_mutex);
  const auto it = m_directories.find(id);
  return it == m_directories.end() ? nullptr : it->second;
}

void CatalogueCache::putGroup(std::shared_ptr<GroupEntry> group) {
  if (!group) return;
  std::scoped_lock lock(m_mutex);
  m_groups[group->id] = std::move(group);
}

}  // namespace vantrel
