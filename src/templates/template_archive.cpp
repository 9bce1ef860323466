// SPDX-License-Identifier: MIT
#include "templates/template_archive.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace vantrel::templates {
namespace {

// Longest system or archive description a message box shows.
constexpr size_t kDescriptionMax = 300;

// Bytes an entry takes at least: a one-byte name length, an object tag and
// the length with the three words.
constexpr size_t kMinEntryBytes = 1 + 2 + 16;

std::string describe(std::string_view text) { return std::string(text.substr(0, kDescriptionMax)); }

void warn(UserInterface& ui, std::string_view prefix, std::string_view description, std::string_view title) {
  MessageBox box;
  box.text = std::string(prefix) + describe(description);
  box.title = std::string(title);
  box.icon = MessageIcon::Warning;
  box.foreground = true;
  ui.showMessage(box);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void scramble(std::span<uint8_t> bytes, ScrambleKey key) {
  uint8_t k = key.start;
  for (uint8_t& b : bytes) {
    b ^= k;
    k = static_cast<uint8_t>(k + key.step);
    if (k > key.limit) k = key.start;
  }
}

void CFileArchiveEntry::store(ArchiveWriter& out) const {
  out.writeI32(static_cast<int32_t>(content.size()));
  out.writeU32(word2);
  out.writeU32(word3);
  out.writeU32(word1);
  std::vector<uint8_t> bytes(content.begin(), content.end());
  scramble(bytes);
  out.writeBytes(bytes);
}

void CFileArchiveEntry::load(ArchiveReader& in) {
  const int32_t length = in.readI32();
  word2 = in.readU32();
  word3 = in.readU32();
  word1 = in.readU32();
  if (!in.ok()) return;
  if (length < 0 || static_cast<size_t>(length) > in.remaining()) {
    in.fail(ArchiveError::BadLength);  // before anything is allocated for it
    return;
  }
  const std::span<const uint8_t> bytes = in.readBytes(static_cast<size_t>(length));
  content.assign(bytes.begin(), bytes.end());
  scramble(std::span(reinterpret_cast<uint8_t*>(content.data()), content.size()));
}

ArchiveError TemplateArchive::read(std::span<const uint8_t> bytes) {
  m_entries.clear();
  m_version = 0;
  ClassRegistry classes;
  classes.add<CFileArchiveEntry>();
  ArchiveReader in(bytes, &classes);
  const int32_t version = in.readI32();
  const uint32_t count = in.readCount(kMinEntryBytes);
  std::map<std::string, CFileArchiveEntry, std::less<>> entries;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    std::string name = in.readString();
    std::unique_ptr<CFileArchiveEntry> entry = in.readNew<CFileArchiveEntry>();
    if (!in.ok()) break;
    entries.insert_or_assign(std::move(name), std::move(*entry));  // a later entry replaces an earlier one
  }
  if (!in.ok()) return in.error();
  m_version = version < 0 ? 0 : version;
  m_entries = std::move(entries);
  return ArchiveError::None;
}

std::vector<uint8_t> TemplateArchive::write() const {
  ArchiveWriter out;
  out.writeI32(m_version);
  out.writeCount(static_cast<uint32_t>(m_entries.size()));
  for (const auto& [name, entry] : m_entries) {
    out.writeString(name);
    out.writeObject(entry);
  }
  return out.release();
}

std::optional<std::string_view> TemplateArchive::FindEntry(std::string_view name) const {
  auto it = m_entries.find(name);
  if (it == m_entries.end()) return std::nullopt;
  return std::string_view(it->second.content);
}

void TemplateArchive::add(std::string name, CFileArchiveEntry entry) {
  m_entries.insert_or_assign(std::move(name), std::move(entry));
}

bool LoadTemplateArchive(const std::filesystem::path& file, TemplateArchive& archive, UserInterface& ui) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(file.c_str(), "rb"));
  if (!f) return false;
  try {
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    for (;;) {
      const size_t n = std::fread(buffer, 1, sizeof buffer, f.get());
      bytes.insert(bytes.end(), buffer, buffer + n);
      if (n < sizeof buffer) break;
    }
    if (std::ferror(f.get())) {
      const int error = errno;
      warn(ui, "File Exception: Opening Template Archive : ", std::strerror(error), "Warning");
      return false;
    }
    const ArchiveError error = archive.read(bytes);
    if (error != ArchiveError::None) {
      warn(ui, "Archive Exception: Opening Template Archive : ", archiveErrorText(error), "Warning");
      return false;
    }
  } catch (const std::bad_alloc&) {
    warn(ui, "Memory Exception: Opening Template Archive : ", "out of memory", "Error");
    return false;
  }
  return true;
}

std::filesystem::path findTemplateArchive(const std::filesystem::path& home, const std::filesystem::path& programDir,
                                          const std::filesystem::path& sharedDataDir) {
  for (const auto* dir : {&home, &programDir, &sharedDataDir}) {
    if (dir->empty()) continue;
    std::error_code ec;
    const std::filesystem::path candidate = *dir / kArchiveFileName;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return (home.empty() ? programDir : home) / kArchiveFileName;
}

}  // namespace vantrel::templates
