// SPDX-License-Identifier: MIT
#include "catalogue/sync/missing_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "protocol/shared_file_requests.h"

namespace vantrel {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

int64_t distance(int64_t a, int64_t b) { return a > b ? a - b : b - a; }

constexpr int kNotConnectedRemove = 701;

}  // namespace

MissingFiles::MissingFiles(SharedFileList& list) : m_list(list) {
  list.forEach([&](const CVantreldFile& record) {
    if (record.isValid) return;
    Row& row = m_rows[lower(record.fileName)];
    row.name = lower(record.fileName);
    row.recordedSize = record.fileSize;
    row.replacement = kStopSharing;
    row.fileIds.push_back(record.fileId);
  });
}

std::string MissingFiles::browseProblem(std::size_t selectedRows) {
  if (selectedRows >= 2) return "Select one file at a time to browse for";
  if (selectedRows == 0) return "Must select one file to browse for";
  return {};
}

void MissingFiles::setReplacement(const std::string& name, const std::string& path, int64_t size) {
  if (const auto it = m_rows.find(name); it != m_rows.end()) {
    it->second.replacement = path;
    it->second.replacementSize = size;
  }
}

std::string MissingFiles::stopSharing(const std::vector<std::string>& names) {
  if (names.empty()) return "Select at least one file to stop sharing";
  for (const std::string& name : names) {
    if (const auto it = m_rows.find(name); it != m_rows.end()) {
      it->second.replacement = kStopSharing;
      it->second.replacementSize = 0;
    }
  }
  return {};
}

void MissingFiles::offerMatch(Row& row, const std::string& path, int64_t size,
                              const std::function<void(const std::string&)>& onLine) {
  char line[64];
  std::snprintf(line, sizeof line, " size %d   -->   ", row.recordedSize);
  if (onLine) onLine("Found match for " + row.name + line + path + " size " + std::to_string(size));
  const bool haveOne = row.replacement != kStopSharing;
  if (row.recordedSize != 0 && haveOne &&
      distance(row.replacementSize, row.recordedSize) < distance(size, row.recordedSize)) {
    return;
  }
  row.replacement = path;
  row.replacementSize = size;
}

void MissingFiles::autoFind(const std::vector<std::string>& roots, const std::atomic<bool>& stop,
                            const std::function<void(const std::string&)>& onLine) {
  for (const std::string& root : roots) {
    if (stop) return;
    searchFolder(root, stop, onLine);
  }
}

void MissingFiles::searchFolder(const std::string& folder, const std::atomic<bool>& stop,
                                const std::function<void(const std::string&)>& onLine) {
  if (stop) return;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    // Symbolic links to folders are not followed, so a loop cannot trap the search.
    if (it->is_directory(typeError) && !it->is_symlink(typeError)) {
      searchFolder(it->path().string(), stop, onLine);
      if (stop) return;
      continue;
    }
    if (!it->is_regular_file(typeError)) continue;
    const auto found = m_rows.find(lower(it->path().filename().string()));
    if (found == m_rows.end()) continue;
    const auto size = it->file_size(typeError);
    offerMatch(found->second, it->path().string(), typeError ? 0 : static_cast<int64_t>(size), onLine);
  }
}

std::vector<std::string> MissingFiles::stopSharingNames() const {
  std::vector<std::string> names;
  for (const auto& [name, row] : m_rows) {
    if (row.replacement == kStopSharing) names.push_back(name);
  }
  return names;
}

void MissingFiles::apply(ProtocolContext& ctx) {
  ctx.logText("Missing files resolved, thank you", 1);
  std::vector<int32_t> stopped;
  for (const auto& [name, row] : m_rows) {
    for (const int32_t id : row.fileIds) {
      if (row.replacement == kStopSharing) {
        if (m_list.Remove(id)) stopped.push_back(id);
        continue;
      }
      std::optional<CVantreldFile> record = m_list.Lookup(id);
      if (!record) continue;
      record->localPath = row.replacement;
      record->isValid = true;
      // A replacement that does not open leaves the file missing, to be found
      // another time.
      if (!record->Verify()) continue;
      // The server kept the file's ID while it was missing: it is shared
      // again under that ID, with nothing to register.
      m_list.Add(std::move(*record));
    }
  }
  if (stopped.empty()) return;
  const int rc = ctx.state.Connected() ? RemoveFiles(ctx, stopped, nullptr) : kNotConnectedRemove;
  // The comparison at the next checksum difference removes them otherwise.
  if (rc != 0) ctx.logText("Could not remove " + std::to_string(stopped.size()) + " files from the server", 1);
}

}  // namespace vantrel
