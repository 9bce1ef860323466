// SPDX-License-Identifier: MIT
#pragma once
// TemplateArchive: the packed page archive "filedata.dat" that holds every page
// template and image the file server sends, read once at start-up and
// read-only afterwards. Also the writing direction, for the packing tool.
//
// File layout (framework archive encoding, see core/archive.h): the version
// (int32, negative read as 0), the entry count, then per entry its name as a
// string and a CFileArchiveEntry object: length, three opaque words and the
// content, scrambled with the running key of kScrambleKey.
//
// Threads: load before any reader exists; after that any number of threads
// may look entries up at once.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive.h"
#include "core/user_interface.h"

namespace vantrel::templates {

// The content key: starts at `start` for every entry, grows by `step` after
// each byte and starts again when it passes `limit`. Reader and packer share it.
struct ScrambleKey {
  uint8_t start;
  uint8_t step;
  uint8_t limit;
};
inline constexpr ScrambleKey kScrambleKey{0x3B, 0x11, 0xE9};

// XORs bytes with the running key; applying it twice gives the bytes back.
void scramble(std::span<uint8_t> bytes, ScrambleKey key = kScrambleKey);

class CFileArchiveEntry : public ArchiveObject {
 public:
  static constexpr ArchiveClass kArchiveClass{"CFileArchiveEntry", 0};

  CFileArchiveEntry() = default;
  explicit CFileArchiveEntry(std::string content) : content(std::move(content)) {}

  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override;
  void load(ArchiveReader& in) override;

  std::string content;  // plain bytes; the length is its size
  // Carried for each entry in the order word1, word2, word3 and kept, unread.
  uint32_t word1 = 0;
  uint32_t word2 = 0;
  uint32_t word3 = 0;
};

class TemplateArchive {
 public:
  // Replaces the contents with the archive in bytes; on error the archive is
  // left empty and the error says what was wrong.
  ArchiveError read(std::span<const uint8_t> bytes);
  // The archive in file form, entries in name order.
  std::vector<uint8_t> write() const;

  // Exact, case-sensitive lookup of the whole name.
  std::optional<std::string_view> FindEntry(std::string_view name) const;
  int32_t TemplateVersion() const { return m_version; }

  void setVersion(int32_t version) { m_version = version; }
  void add(std::string name, CFileArchiveEntry entry);
  const std::map<std::string, CFileArchiveEntry, std::less<>>& entries() const { return m_entries; }

 private:
  int32_t m_version = 0;
  std::map<std::string, CFileArchiveEntry, std::less<>> m_entries;
};

// Loads the archive file into archive. A file that cannot be opened returns
// false quietly; read errors, malformed archives and exhausted memory are
// shown through ui, as a warning, and return false.
bool LoadTemplateArchive(const std::filesystem::path& file, TemplateArchive& archive, UserInterface& ui);

// Where the archive is looked for: the client's home, beside the program,
// then the shared data folder. Returns the first that exists, or the first.
std::filesystem::path findTemplateArchive(const std::filesystem::path& home,
                                          const std::filesystem::path& programDir,
                                          const std::filesystem::path& sharedDataDir);

inline constexpr std::string_view kArchiveFileName = "filedata.dat";

}  // namespace vantrel::templates
