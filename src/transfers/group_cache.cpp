// SPDX-License-Identifier: MIT
#include "transfers/group_cache.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "core/archive_reader.h"
#include "core/archive_writer.h"
#include "platform/durable_file.h"
#include "protocol/catalogue_cache.h"
#include "protocol/catalogue_requests.h"

namespace vantrel {

namespace {
// Two empty strings and ten 32-bit numbers: the smallest body in the file.
constexpr std::size_t kMinBodyBytes = 2 + 10 * 4;
}  // namespace

int32_t GroupCacheChecksum(std::span<const int32_t> ids) {
  if (ids.empty() || ids.size() > GroupCache::kMaxChecksummedIds) return 0;
  int64_t sum = 0;
  for (const int32_t id : ids) sum += id;
  const int64_t rest = sum % 1000000;
  return static_cast<int32_t>(rest);
}

std::string GroupCache::pathFor(const std::string& home, const std::string& user) {
  return home + user + "groups.dat";
}

GroupCache::GroupCache(std::string path, CatalogueCache* catalogue)
    : m_path(std::move(path)), m_catalogue(catalogue) {}

std::vector<uint8_t> GroupCache::encode() const {
  std::scoped_lock lock(m_mutex);
  return encodeLocked();
}

std::vector<uint8_t> GroupCache::encodeLocked() const {
  ArchiveWriter out;
  out.writeU32(static_cast<uint32_t>(m_map.size()));
  m_map.forEach([&](uint32_t, const CGroupEntry& entry) { entry.store(out); });
  return out.release();
}

bool GroupCache::decode(std::span<const uint8_t> bytes, CMapDWordToObj<CGroupEntry>& map) {
  ArchiveReader in(bytes);
  const uint32_t count = in.readU32();
  if (!in.requireElements(count, kMinBodyBytes)) return false;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    auto entry = std::make_unique<CGroupEntry>();
    entry->load(in);
    if (!in.ok()) break;
    const auto key = static_cast<uint32_t>(entry->id);
    map.set(key, std::move(entry));
  }
  return in.ok();
}

void GroupCache::Load() {
  std::scoped_lock lock(m_mutex);
  loadLocked();
}

void GroupCache::loadLocked() const {
  if (m_loaded) return;
  m_loaded = true;
  std::ifstream file(m_path, std::ios::binary);
  if (!file) {
    rebuildIdsLocked();
    return;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (decode(bytes, m_map)) {
    rebuildIdsLocked();
  } else {
    m_ids.clear();
  }
}

void GroupCache::rebuildIdsLocked() const {
  m_ids.clear();
  m_map.forEach([&](uint32_t key, const CGroupEntry&) { m_ids.push_back(static_cast<int32_t>(key)); });
}

bool GroupCache::Save() {
  std::scoped_lock lock(m_mutex);
  return saveLocked();
}

bool GroupCache::saveLocked() {
  return replaceFileDurably(m_path, encodeLocked()).empty();
}

int GroupCache::SyncGroups(ProtocolContext& ctx, bool force) {
  int32_t sum = checksum();  // loads the cache on first use
  if (force) sum = kMatchesNothing;
  std::string reply;
  const int rc = GetAllGroups(ctx, sum, reply);
  if (rc == catalogue::kGroupsCurrent) return 0;
  if (rc != 0) return rc;
  storeReply(reply);
  return 0;
}

void GroupCache::storeReply(std::string_view reply) {
  const EntryList entries = ParseListing(reply);
  std::scoped_lock lock(m_mutex);
  loadLocked();
  m_ids.clear();
  for (const auto& listed : entries) {
    if (listed->type != EntryType::Group) continue;
    const auto& group = static_cast<const GroupEntry&>(*listed);
    auto entry = std::make_unique<CGroupEntry>(CGroupEntry::fromListing(group));
    // A group listed again starts over at the map's chain head, as a new one would.
    m_map.remove(static_cast<uint32_t>(group.id));
    m_map.set(static_cast<uint32_t>(group.id), std::move(entry));
    m_ids.push_back(group.id);
    if (m_catalogue != nullptr) m_catalogue->putGroup(std::make_shared<GroupEntry>(group));
  }
  saveLocked();
}

int32_t GroupCache::checksum() const {
  std::scoped_lock lock(m_mutex);
  loadLocked();
  return GroupCacheChecksum(m_ids);
}

std::vector<int32_t> GroupCache::ids() const {
  std::scoped_lock lock(m_mutex);
  loadLocked();
  return m_ids;
}

std::optional<CGroupEntry> GroupCache::group(int32_t id) const {
  std::scoped_lock lock(m_mutex);
  loadLocked();
  const CGroupEntry* entry = m_map.find(static_cast<uint32_t>(id));
  if (entry == nullptr) return std::nullopt;
  return *entry;
}

std::vector<CGroupEntry> GroupCache::listedGroups() const {
  std::scoped_lock lock(m_mutex);
  loadLocked();
  std::vector<CGroupEntry> out;
  for (const int32_t id : m_ids) {
    if (const CGroupEntry* entry = m_map.find(static_cast<uint32_t>(id))) out.push_back(*entry);
  }
  m_map.forEach([&](uint32_t key, const CGroupEntry& entry) {
    if (entry.secondNumber != kPendingApplication) return;
    if (std::find(m_ids.begin(), m_ids.end(), static_cast<int32_t>(key)) == m_ids.end()) out.push_back(entry);
  });
  return out;
}

void GroupCache::markPending(const GroupEntry& group) {
  std::scoped_lock lock(m_mutex);
  loadLocked();
  // A group the server lists already is the user's; nothing is pending.
  if (std::find(m_ids.begin(), m_ids.end(), group.id) != m_ids.end()) return;
  auto entry = std::make_unique<CGroupEntry>(CGroupEntry::fromListing(group));
  entry->status = 0;
  entry->secondNumber = kPendingApplication;
  m_map.remove(static_cast<uint32_t>(group.id));
  m_map.set(static_cast<uint32_t>(group.id), std::move(entry));
  saveLocked();
}

std::size_t GroupCache::size() const {
  std::scoped_lock lock(m_mutex);
  return m_map.size();
}

}  // namespace vantrel
