// SPDX-License-Identifier: MIT
#pragma once
// GroupCache: the groups the client knows, kept per user in
// "<home><user>groups.dat" and refreshed from the central server with the
// getallgroups request, which carries a checksum of the cached IDs so that the
// server can answer that nothing changed.
//
// The map holds every group ever seen (in the 17-bucket iteration order the
// file records); the ID list holds the groups that the file and the last
// server answer named, and is what the "My Groups" window shows.
// Thread-safe: one lock over the map and the list. The catalogue cache, when
// given, must outlive this object; refreshed groups are filed there too.

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalogue/map_dword_to_obj.h"
#include "protocol/protocol_context.h"
#include "transfers/group_entry.h"

namespace vantrel {

class CatalogueCache;

// The checksum the server compares: the sum of the IDs when there are 1 to
// 9,999 of them (0 otherwise), modulo 1,000,000.
int32_t GroupCacheChecksum(std::span<const int32_t> ids);

class GroupCache {
 public:
  static constexpr std::size_t kMaxChecksummedIds = 9999;
  // Sent by a forced refresh: no sum of IDs is negative.
  static constexpr int32_t kMatchesNothing = -1;

  // "<home><user>groups.dat"; `home` ends with "/".
  static std::string pathFor(const std::string& home, const std::string& user);

  explicit GroupCache(std::string path, CatalogueCache* catalogue = nullptr);

  // Reads the file (the first call only). A missing or broken file leaves the
  // ID list empty, so that the next refresh fetches every group.
  void Load();
  // Writes the file crash-safely; false when it could not be written.
  bool Save();
  // getallgroups with the checksum: 0 when current or refreshed (and saved),
  // or the request's code. With `force` the checksum matches nothing, so the
  // server sends every group and the counts are fresh even when the IDs are
  // the same.
  int SyncGroups(ProtocolContext& ctx, bool force = false);
  // The user applied to join this group: it is kept, marked pending, and
  // listed until a server answer lists it (the owner admitted the user).
  void markPending(const GroupEntry& group);
  // Files the groups of a getallgroups reply: replaces their entries, makes
  // them the ID list, and saves.
  void storeReply(std::string_view reply);

  int32_t checksum() const;
  std::vector<int32_t> ids() const;
  std::optional<CGroupEntry> group(int32_t id) const;
  // The groups of the ID list, in its order, then the pending applications.
  std::vector<CGroupEntry> listedGroups() const;
  std::size_t size() const;

  // The file's bytes for the map, and the reading of them (false on a malformed file).
  std::vector<uint8_t> encode() const;
  static bool decode(std::span<const uint8_t> bytes, CMapDWordToObj<CGroupEntry>& map);

 private:
  // The cache is loaded on first use, by readers too.
  void loadLocked() const;
  void rebuildIdsLocked() const;
  std::vector<uint8_t> encodeLocked() const;
  bool saveLocked();

  const std::string m_path;
  CatalogueCache* const m_catalogue;

  mutable std::mutex m_mutex;
  mutable bool m_loaded = false;              // guarded by m_mutex
  mutable CMapDWordToObj<CGroupEntry> m_map;  // guarded by m_mutex
  mutable std::vector<int32_t> m_ids;         // guarded by m_mutex
};

}  // namespace vantrel
