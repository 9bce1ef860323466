// SPDX-License-Identifier: MIT
#pragma once
// SharedFileList: the logged-in user's shared files, a CMapDWordToObj from the
// server's file ID to its record, persisted in the archive "<home><user>.dat"
// and saved again after every change of membership (once per batch). Also the
// list's checksum that the central server keeps too, and the archive codec of
// the list (both layouts).
//
// Thread-safe: every operation holds SharedFileLock, the list's one recursive
// lock, for its whole duration (the save included). Look-ups hand out copies,
// so a record read by one thread stays valid while another removes it. The log
// and the user interface are optional and must outlive the list.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalogue/map_dword_to_obj.h"
#include "catalogue/vantreld_file.h"
#include "core/archive.h"

namespace vantrel {

class Log;
class UserInterface;

using SharedFileMap = CMapDWordToObj<CVantreldFile>;

// The archive of a list: reserved counter, then the entries in map order.
std::vector<uint8_t> encodeSharedFileArchive(const SharedFileMap& map, int32_t reservedCounter);
// Reads an archive in the current layout (or the older one) into `map`.
// Returns ArchiveError::None on success; `map` may hold part of the entries
// otherwise.
ArchiveError decodeSharedFileArchive(std::span<const uint8_t> data, bool legacyLayout, SharedFileMap& map,
                                     int32_t& reservedCounter);

class SharedFileList {
 public:
  // Writes "<home><user>.dat"; `home` ends with "/".
  static std::string archivePathFor(const std::string& home, const std::string& user);

  explicit SharedFileList(std::string archivePath, Log* log = nullptr, UserInterface* ui = nullptr);
  SharedFileList(const SharedFileList&) = delete;
  SharedFileList& operator=(const SharedFileList&) = delete;

  // Replaces the list with the archive's content. False when the file cannot be
  // read or neither layout parses (the user is then told).
  bool Load();
  // Writes the archive crash-safely. False (and the old archive intact) on failure.
  bool Save();

  // Inserts or replaces the record under its fileId and saves. Returns Save's
  // result; when the save fails the list is put back as it was.
  bool Add(CVantreldFile record);
  // Inserts or replaces every record, in order, under one lock and with one save,
  // so sharing n files writes the archive once; the archive is the same as after
  // n single Adds. Returns Save's result; when the save fails the list is put
  // back as it was (lastError() says why).
  bool AddBatch(std::vector<CVantreldFile> records);
  // Removes the record and saves; false when the ID was not listed or the
  // change could not be saved (the record then stays).
  bool Remove(int32_t fileId);
  // Removes every listed one of the IDs under one lock and saves once when any
  // was removed. Returns the removed records in the order of `fileIds`; when
  // the save fails nothing is removed, none is returned and *saved is false.
  std::vector<CVantreldFile> RemoveBatch(std::span<const int32_t> fileIds, bool* saved = nullptr);
  std::optional<CVantreldFile> Lookup(int32_t fileId) const;
  bool Contains(int32_t fileId) const;
  // Empties the list without saving.
  void Clear();
  // Changes a listed record in place under the lock (no save); false when absent.
  bool Update(int32_t fileId, const std::function<void(CVantreldFile&)>& change);

  // Sum of the IDs of every record, missing ones included (wrapping 32-bit),
  // modulo 1,000,000.
  int32_t RecomputeChecksum();
  int32_t listChecksum() const;
  int32_t reservedCounter() const;
  std::size_t size() const;
  const std::string& archivePath() const { return m_archivePath; }
  // The description of the last failed Load or Save, "" after a success.
  std::string lastError() const;

  // Visits every record in map order under the lock; `fn` must not call Add,
  // Remove or Clear on this list.
  void forEach(const std::function<void(const CVantreldFile&)>& fn) const;
  std::vector<CVantreldFile> snapshot() const;

 private:
  int32_t recomputeLocked();
  bool saveLocked();
  void log(const std::string& text, int level) const;

  const std::string m_archivePath;
  Log* const m_log;
  UserInterface* const m_ui;

  mutable std::recursive_mutex m_lock;  // SharedFileLock
  SharedFileMap m_map;                  // guarded by m_lock
  int32_t m_reservedCounter = 0;        // guarded by m_lock
  int32_t m_listChecksum = 0;           // guarded by m_lock
  std::string m_lastError;              // guarded by m_lock
};

}  // namespace vantrel
