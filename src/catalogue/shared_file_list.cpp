// SPDX-License-Identifier: MIT
#include "catalogue/shared_file_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/log.h"
#include "core/user_interface.h"
#include "platform/durable_file.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

constexpr int32_t kFormatNumber = 100;
constexpr int32_t kChecksumModulus = 1000000;
// Smallest entry: a key and a class reference.
constexpr std::size_t kMinEntryBytes = 4 + 2;

// Reads the objects of an embedded array and drops them.
void skipObjectArray(ArchiveReader& in) {
  const uint32_t count = in.readCount(2);
  for (uint32_t i = 0; i < count && in.ok(); ++i) in.readObject();
}

std::string readWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::strerror(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::strerror(errno);
  out.clear();
  out.reserve(static_cast<std::size_t>(info.st_size));
  uint8_t piece[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), piece, sizeof piece);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::strerror(errno);
    if (n == 0) break;
    out.insert(out.end(), piece, piece + n);
  }
  return {};
}

}  // namespace

std::vector<uint8_t> encodeSharedFileArchive(const SharedFileMap& map, int32_t reservedCounter) {
  ArchiveWriter out;
  out.reserve(64 + map.size() * 96);
  out.writeCount(0);
  out.writeI32(reservedCounter);
  out.writeI32(kFormatNumber);
  out.writeCount(static_cast<uint32_t>(map.size()));
  map.forEach([&](uint32_t key, const CVantreldFile& record) {
    out.writeU32(key);
    out.writeObject(record);
  });
  return out.release();
}

ArchiveError decodeSharedFileArchive(std::span<const uint8_t> data, bool legacyLayout, SharedFileMap& map,
                                     int32_t& reservedCounter) {
  ClassRegistry classes;
  classes.add(std::string(CVantreldFile::kArchiveClass.name), CVantreldFile::kArchiveClass.schema,
              [legacyLayout] {
                auto record = std::make_unique<CVantreldFile>();
                record->setLegacyLayout(legacyLayout);
                return record;
              });
  ArchiveReader in(data, &classes);
  if (!legacyLayout) skipObjectArray(in);
  reservedCounter = in.readI32();
  if (!legacyLayout) in.readI32();  // the format number; any value is accepted
  const uint32_t count = in.readCount(kMinEntryBytes);
  map.reserve(count);
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    const uint32_t key = legacyLayout ? in.readU16() : in.readU32();
    auto record = in.readNew<CVantreldFile>();
    if (!in.ok() || !record) break;
    record->setLegacyLayout(false);
    map.set(key, std::move(record));
  }
  // A current archive damaged in its records would otherwise pass as an older
  // one with no entries, and the next save would wipe the user's list: the
  // older layout counts only when it accounts for every byte.
  if (in.ok() && legacyLayout && !in.atEnd()) in.fail(ArchiveError::BadLength);
  if (in.ok() && reservedCounter < 0) reservedCounter = 0;
  return in.error();
}

std::string SharedFileList::archivePathFor(const std::string& home, const std::string& user) {
  return home + user + ".dat";
}

SharedFileList::SharedFileList(std::string archivePath, Log* log, UserInterface* ui)
    : m_archivePath(std::move(archivePath)), m_log(log), m_ui(ui) {}

void SharedFileList::log(const std::string& text, int level) const {
  if (m_log != nullptr) m_log->logText(text, level);
}

bool SharedFileList::Load() {
  log("Loading shared file list from disk " + m_archivePath, 3);
  // Saves that were cut short leave their temporary files; they would pile up.
  if (const int removed = removeLeftoverTemporaries(m_archivePath); removed > 0) {
    log("Removed " + std::to_string(removed) + " unfinished saves of " + m_archivePath, 1);
  }
  std::vector<uint8_t> data;
  std::scoped_lock lock(m_lock);
  if (const std::string error = readWholeFile(m_archivePath, data); !error.empty()) {
    log("Failed to open shared file list " + m_archivePath, 3);
    m_lastError = "File Exception: Opening Shared File Archive : " + error;
    return false;
  }
  SharedFileMap map;
  int32_t reserved = 0;
  ArchiveError error = decodeSharedFileArchive(data, false, map, reserved);
  bool legacy = false;
  if (error != ArchiveError::None) {
    map.clear();
    legacy = true;
    error = decodeSharedFileArchive(data, true, map, reserved);
  }
  if (error != ArchiveError::None) {
    m_lastError = "Archive Exception: Opening Shared File Archive : " +
                  std::string(archiveErrorText(error)).substr(0, 300);
    log(m_lastError, 1);
    if (m_ui != nullptr) m_ui->showMessage({m_lastError, "Warning", MessageIcon::Warning, MessageButtons::Ok, false});
    return false;
  }
  log("Successfully opened shared file list " + m_archivePath, 3);
  // An entry filed under another key than its record's ID is damage: drop it.
  // The older layout had 16-bit keys, so there only the low 16 bits must agree.
  std::vector<uint32_t> stray;
  map.forEach([&](uint32_t key, const CVantreldFile& record) {
    const uint32_t id = static_cast<uint32_t>(record.fileId);
    if (legacy ? key != (id & 0xFFFFu) : key != id) stray.push_back(key);
  });
  for (const uint32_t key : stray) map.remove(key);
  if (legacy) {
    // Re-file the records under their full IDs.
    SharedFileMap full;
    map.forEach([&](uint32_t, const CVantreldFile& record) {
      full.set(static_cast<uint32_t>(record.fileId), std::make_unique<CVantreldFile>(record));
    });
    map = std::move(full);
  }
  m_map = std::move(map);
  m_reservedCounter = reserved;
  m_lastError.clear();
  recomputeLocked();
  return true;
}

bool SharedFileList::Save() {
  std::scoped_lock lock(m_lock);
  return saveLocked();
}

bool SharedFileList::saveLocked() {
  log("Saving shared file list to disk " + m_archivePath, 3);
  const std::vector<uint8_t> bytes = encodeSharedFileArchive(m_map, m_reservedCounter);
  if (const std::string error = replaceFileDurably(m_archivePath, bytes); !error.empty()) {
    m_lastError = "File Exception: Error creating shared files list file: " + error + " - " + m_archivePath;
    log("Error creating shared file list file " + m_archivePath, 3);
    log(m_lastError, 1);
    if (m_ui != nullptr) m_ui->showMessage({m_lastError, "Warning", MessageIcon::Warning, MessageButtons::Ok, true});
    return false;
  }
  m_lastError.clear();
  log("Successfully saved shared file list to disk " + m_archivePath, 3);
  return true;
}

bool SharedFileList::Add(CVantreldFile record) {
  std::vector<CVantreldFile> one;
  one.push_back(std::move(record));
  return AddBatch(std::move(one));
}

bool SharedFileList::AddBatch(std::vector<CVantreldFile> records) {
  std::scoped_lock lock(m_lock);
  // What the records replace, to put back when the change cannot be saved: a
  // share that is not on disk would vanish at the next start.
  std::vector<std::pair<uint32_t, std::unique_ptr<CVantreldFile>>> before;
  for (CVantreldFile& record : records) {
    const auto key = static_cast<uint32_t>(record.fileId);
    const CVantreldFile* old = m_map.find(key);
    before.emplace_back(key, old != nullptr ? std::make_unique<CVantreldFile>(*old) : nullptr);
    m_map.set(key, std::make_unique<CVantreldFile>(std::move(record)));
  }
  recomputeLocked();
  if (saveLocked()) return true;
  for (auto it = before.rbegin(); it != before.rend(); ++it) {
    if (it->second) {
      m_map.set(it->first, std::move(it->second));
    } else {
      m_map.remove(it->first);
    }
  }
  recomputeLocked();
  return false;
}

bool SharedFileList::Remove(int32_t fileId) {
  log("Removing file from shared list " + std::to_string(fileId), 1);
  const int32_t ids[] = {fileId};
  bool saved = true;
  const bool removed = !RemoveBatch(ids, &saved).empty();
  log(removed ? "File removed successfully" : "File does not exist", 2);
  return removed;
}

std::vector<CVantreldFile> SharedFileList::RemoveBatch(std::span<const int32_t> fileIds, bool* saved) {
  std::vector<CVantreldFile> removed;
  if (saved != nullptr) *saved = true;
  std::scoped_lock lock(m_lock);
  for (const int32_t fileId : fileIds) {
    const auto key = static_cast<uint32_t>(fileId);
    const CVantreldFile* record = m_map.find(key);
    if (record == nullptr) continue;
    if (fileIds.size() > 1) log("Removing file from shared list " + std::to_string(fileId), 1);
    removed.push_back(*record);
    m_map.remove(key);
  }
  if (!removed.empty()) {
    recomputeLocked();
    if (!saveLocked()) {
      // Not on disk, not done: the files stay shared, here and at the next start.
      for (CVantreldFile& record : removed) {
        const auto key = static_cast<uint32_t>(record.fileId);
        m_map.set(key, std::make_unique<CVantreldFile>(std::move(record)));
      }
      recomputeLocked();
      removed.clear();
      if (saved != nullptr) *saved = false;
    }
  }
  return removed;
}

std::optional<CVantreldFile> SharedFileList::Lookup(int32_t fileId) const {
  std::scoped_lock lock(m_lock);
  const CVantreldFile* record = m_map.find(static_cast<uint32_t>(fileId));
  if (record == nullptr) return std::nullopt;
  return *record;
}

bool SharedFileList::Contains(int32_t fileId) const {
  std::scoped_lock lock(m_lock);
  return m_map.find(static_cast<uint32_t>(fileId)) != nullptr;
}

void SharedFileList::Clear() {
  std::scoped_lock lock(m_lock);
  m_map.clear();
  recomputeLocked();
}

bool SharedFileList::Update(int32_t fileId, const std::function<void(CVantreldFile&)>& change) {
  std::scoped_lock lock(m_lock);
  CVantreldFile* record = m_map.find(static_cast<uint32_t>(fileId));
  if (record == nullptr) return false;
  change(*record);
  return true;
}

int32_t SharedFileList::RecomputeChecksum() {
  std::scoped_lock lock(m_lock);
  return recomputeLocked();
}

int32_t SharedFileList::recomputeLocked() {
  // Missing files count too: the server keeps their IDs until the person
  // stops sharing them, and a sum without them would differ from the
  // server's at every ping.
  uint32_t sum = 0;  // wraps like the 32-bit signed sum it stands for
  m_map.forEach([&](uint32_t key, const CVantreldFile&) { sum += key; });
  m_listChecksum = static_cast<int32_t>(sum) % kChecksumModulus;
  return m_listChecksum;
}

int32_t SharedFileList::listChecksum() const {
  std::scoped_lock lock(m_lock);
  return m_listChecksum;
}

int32_t SharedFileList::reservedCounter() const {
  std::scoped_lock lock(m_lock);
  return m_reservedCounter;
}

std::size_t SharedFileList::size() const {
  std::scoped_lock lock(m_lock);
  return m_map.size();
}

std::string SharedFileList::lastError() const {
  std::scoped_lock lock(m_lock);
  return m_lastError;
}

void SharedFileList::forEach(const std::function<void(const CVantreldFile&)>& fn) const {
  std::scoped_lock lock(m_lock);
  m_map.forEach([&](uint32_t, const CVantreldFile& record) { fn(record); });
}

std::vector<CVantreldFile> SharedFileList::snapshot() const {
  std::vector<CVantreldFile> out;
  std::scoped_lock lock(m_lock);
  out.reserve(m_map.size());
  m_map.forEach([&](uint32_t, const CVantreldFile& record) { out.push_back(record); });
  return out;
}

}  // namespace vantrel
