// SPDX-License-Identifier: MIT
#include "catalogue/sync/share_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <system_error>

#include "platform/file_status.h"
#include "protocol/catalogue_requests.h"
#include "protocol/shared_file_requests.h"

namespace vantrel {

namespace {

std::string baseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const std::size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The entries of a folder in the order the file system gives them.
std::vector<std::filesystem::directory_entry> entriesOf(const std::string& directory) {
  std::vector<std::filesystem::directory_entry> out;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    out.push_back(*it);
  }
  return out;
}

enum class EntryKind { kFile, kFolder, kLinkedFolder, kLinkOutside, kOther };

bool inside(const std::string& path, const std::string& root) {
  return !root.empty() && path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
         (root.back() == '/' || path[root.size()] == '/');
}

// A symbolic link to a folder is not descended into: a link to a parent would
// share the same files again in ever deeper server folders, and a link to "/"
// the whole disk. A link to a file is shared as the file it names, and only
// when that file lies inside the folder being shared (`root`, resolved): a
// link in a shared folder must not publish what lies outside it. Pipes,
// sockets and devices are no files to share: a peer would get 0 bytes, or
// hang on a pipe.
EntryKind kindOf(const std::filesystem::directory_entry& entry, const std::string& root) {
  std::error_code ec;
  const bool folder = entry.is_directory(ec);  // follows a link
  const bool link = entry.is_symlink(ec);
  if (folder) return link ? EntryKind::kLinkedFolder : EntryKind::kFolder;
  if (!entry.is_regular_file(ec)) return EntryKind::kOther;  // follows a link
  if (!link) return EntryKind::kFile;
  const std::filesystem::path target = std::filesystem::canonical(entry.path(), ec);
  return !ec && inside(target.string(), root) ? EntryKind::kFile : EntryKind::kLinkOutside;
}

std::string resolvedRoot(const std::string& directory) {
  std::error_code ec;
  const std::filesystem::path root = std::filesystem::canonical(directory, ec);
  return ec ? std::string() : root.string();
}

int countShareable(const std::string& directory, const std::string& root, FolderSet& seen) {
  if (!seen.insert(directory)) return 0;
  int count = 0;
  for (const auto& entry : entriesOf(directory)) {
    switch (kindOf(entry, root)) {
      case EntryKind::kFolder: count += countShareable(entry.path().string(), root, seen); break;
      case EntryKind::kLinkedFolder:
      case EntryKind::kLinkOutside:
      case EntryKind::kOther:
        break;
      case EntryKind::kFile:
        if (!isTemporaryName(entry.path().filename().string())) ++count;
        break;
    }
  }
  return count;
}

}  // namespace

bool FolderSet::insert(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return m_seen.emplace(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)).second;
}

std::string lastDirectoryName(const std::string& groupDirPath) {
  const std::size_t colon = groupDirPath.rfind(':');
  if (colon == std::string::npos) return {};
  // Nested paths join with " : ", so the character skipped is that space; a
  // top-level "M:D" has none, and skipping there would eat the name's first letter.
  std::size_t from = colon + 1;
  if (from < groupDirPath.size() && groupDirPath[from] == ' ') ++from;
  return groupDirPath.substr(from);
}

int CountShareableFiles(const std::string& directory) {
  FolderSet seen;
  return countShareable(directory, resolvedRoot(directory), seen);
}

std::string sharedPathOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(path, ec);
  return ec ? path : target.string();
}

ShareRun::ShareRun(ProtocolContext& ctx, SharedFileList& list, ShareProgress progress)
    : m_ctx(ctx), m_list(list), m_progress(std::move(progress)) {}

void ShareRun::report(int code, int number, const std::string& text) const {
  if (m_progress) m_progress(code, number, text);
}

std::string shortenedNamesText(const std::vector<std::pair<std::string, std::string>>& shortened) {
  if (shortened.empty()) return {};
  std::string text = shortened.size() == 1 ? "One file name is" : std::to_string(shortened.size()) + " file names are";
  text += " longer than the " + std::to_string(files::kMaxSentName) +
          " characters the server keeps, and others see them shortened, their extensions kept:";
  constexpr std::size_t kNamed = 10;
  for (std::size_t i = 0; i < shortened.size() && i < kNamed; ++i) text += "\n" + shortened[i].second;
  if (shortened.size() > kNamed) text += "\nand " + std::to_string(shortened.size() - kNamed) + " more";
  return text;
}

int ShareRun::ShareLocalPaths(const std::vector<std::string>& paths, const ShareDestination& to) {
  m_visited = FolderSet();
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    if (cancelled()) return share::kCancelled;
    FileStatus status;
    if (!statFile(path, status).ok()) continue;
    if (status.isDirectory) {
      const std::string name = baseName(path);
      const std::string textPath = to.groupDirPath.empty() ? name : to.groupDirPath + ":" + name;
      m_root = resolvedRoot(path);
      if (const int rc = shareDirectory(path, to, name, textPath); rc != 0) return rc;
    } else {
      // A link chosen on its own is recorded as the file it names: the file
      // server serves a link only to a file that is shared itself.
      files.push_back(sharedPathOf(path));
    }
  }
  if (files.empty()) return 0;
  return ShareBatch(files, to);
}

int ShareRun::shareDirectory(const std::string& path, const ShareDestination& parent, const std::string& name,
                             const std::string& textPath) {
  // The same folder reached twice (bind mounts, or named twice) is shared once.
  if (!m_visited.insert(path)) return 0;
  ShareDestination here{parent.groupId, parent.groupName, -1, textPath};
  bool created = false;
  auto ensureCreated = [&]() -> int {
    if (created) return 0;
    report(share::kCreatingDirectory, 0, name);
    int32_t newId = -1;
    if (const int rc = CreateDirectory(m_ctx, name, parent.dirId, &newId); rc != 0) return rc;
    here.dirId = newId;
    created = true;
    return 0;
  };

  std::vector<std::string> files;
  for (const auto& entry : entriesOf(path)) {
    if (cancelled()) return share::kCancelled;
    const std::string child = entry.path().string();
    const EntryKind kind = kindOf(entry, m_root);
    if (kind == EntryKind::kLinkedFolder || kind == EntryKind::kOther) continue;
    if (kind == EntryKind::kLinkOutside) {
      m_ctx.logText("Not sharing " + child + " - a link to a file outside the shared folder", 1);
      continue;
    }
    if (kind == EntryKind::kFolder) {
      FolderSet seen;
      if (countShareable(child, m_root, seen) < 1) continue;
      if (const int rc = ensureCreated(); rc != 0) return rc;
      const std::string childName = entry.path().filename().string();
      if (const int rc = shareDirectory(child, here, childName, textPath + " : " + childName); rc != 0) return rc;
    } else if (!isTemporaryName(entry.path().filename().string())) {
      files.push_back(child);
    }
  }
  if (files.empty()) return 0;
  if (const int rc = ensureCreated(); rc != 0) return rc;
  return ShareBatch(files, here);
}

int ShareRun::ShareBatch(const std::vector<std::string>& paths, const ShareDestination& to) {
  std::vector<CVantreldFile> records;
  records.reserve(paths.size());
  for (const std::string& path : paths) {
    CVantreldFile record(path);
    if (record.Verify()) records.push_back(std::move(record));
  }
  report(share::kSharingFiles, static_cast<int>(records.size()), lastDirectoryName(to.groupDirPath));
  if (records.empty()) return 0;
  if (cancelled()) return share::kCancelled;
  if (!m_ctx.state.Connected()) return share::kNotConnected;

  std::vector<FileRegistration> registrations;
  registrations.reserve(records.size());
  for (const CVantreldFile& record : records) {
    registrations.push_back({record.fileName, record.fileSize, 0});
    if (const std::string listed = listedFileName(record.fileName); listed != record.fileName) {
      m_ctx.logText("The name of " + record.localPath + " is longer than " + std::to_string(files::kMaxSentName) +
                        " characters; it is listed as " + listed,
                    1);
      report(share::kNameShortened, static_cast<int>(files::kMaxSentName), record.fileName);
      m_shortened.emplace_back(record.localPath, listed);
    }
  }
  if (const int rc = AddFiles(m_ctx, registrations, to.dirId, nullptr); rc != 0) return rc;

  std::string groupName = to.groupName;
  groupName.erase(std::remove(groupName.begin(), groupName.end(), ':'), groupName.end());
  std::vector<CVantreldFile> added;
  added.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    // A reply with fewer IDs than files leaves the rest at 0, as does a name
    // the server refused; filed under 0 they would overwrite each other, so
    // they are left out, and the log says which.
    if (registrations[i].fileId <= 0) {
      m_ctx.logText("Could not share " + records[i].localPath + " - the server did not register it", 1);
      continue;
    }
    CVantreldFile& record = records[i];
    record.fileId = registrations[i].fileId;
    record.groupName = groupName;
    record.groupDirPath = to.groupDirPath;
    record.groupId = to.groupId;
    record.dirId = to.dirId;
    added.push_back(std::move(record));
  }
  // One lock and one save for the whole batch. A batch that cannot be kept
  // here is taken back from the server, which would otherwise list files that
  // the next start finds unknown and shares again under new IDs.
  std::vector<int32_t> ids;
  for (const CVantreldFile& record : added) ids.push_back(record.fileId);
  if (!ids.empty() && !m_list.AddBatch(std::move(added))) {
    RemoveFiles(m_ctx, ids, nullptr);
    return share::kNotSaved;
  }
  return 0;
}

}  // namespace vantrel
