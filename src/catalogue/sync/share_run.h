// SPDX-License-Identifier: MIT
#pragma once
// Sharing runs: local files and folder trees become shared files. Plain files
// become records of the shared-file list, registered with the server in one
// add_file request per folder; local folders become server directories,
// created only when something inside them is shared, recursively. Links to
// folders are not followed, and no folder is walked twice in one run.
//
// Runs on the caller's worker thread; the list is changed only through its own
// locked operations. The first error code stops the run; what was shared
// before it stays shared.

#include <cstdint>
#include <functional>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "protocol/protocol_context.h"

namespace vantrel {

namespace share {
inline constexpr int kCreatingDirectory = 106;  // number 0, text: the directory's name
inline constexpr int kSharingFiles = 108;       // number: files, text: the directory's last name
inline constexpr int kNotConnected = 700;
inline constexpr int kCancelled = 100;      // the person stopped the run
// Before a file whose name is longer than the server keeps is registered
// (number: the limit, text: the file's own name).
inline constexpr int kNameShortened = 109;
inline constexpr int kNotSaved = 800;      // the shared-file list could not be saved (taken back)
}  // namespace share

// (code, number, text); called on the sharing thread.
using ShareProgress = std::function<void(int code, int number, const std::string& text)>;

// Where a run shares to.
struct ShareDestination {
  int32_t groupId = -1;
  std::string groupName;
  int32_t dirId = -1;
  std::string groupDirPath;  // text path of dirId, "" for a group's top
};

// The folders a walk has been in, by device and inode, so that no folder is
// visited twice whatever path leads to it.
class FolderSet {
 public:
  // False when the folder was seen before or cannot be read.
  bool insert(const std::string& path);

 private:
  std::set<std::pair<uint64_t, uint64_t>> m_seen;
};

class ShareRun {
 public:
  // `progress` may be empty. `ctx` and `list` must outlive the run.
  ShareRun(ProtocolContext& ctx, SharedFileList& list, ShareProgress progress = {});

  // Asked before every entry and request: once it answers true the run ends
  // with share::kCancelled; what was shared stays shared.
  void setCancelCheck(std::function<bool()> cancelled) { m_cancelled = std::move(cancelled); }

  // Files and folders (full paths) into the destination. 0 or the first error code.
  int ShareLocalPaths(const std::vector<std::string>& paths, const ShareDestination& to);
  // Verifies the files, registers them in one request and adds them to the list.
  int ShareBatch(const std::vector<std::string>& paths, const ShareDestination& to);

  // The files of this run whose names the server lists shortened: (local path,
  // name as listed).
  const std::vector<std::pair<std::string, std::string>>& shortenedNames() const { return m_shortened; }

 private:
  int shareDirectory(const std::string& path, const ShareDestination& parent, const std::string& name,
                     const std::string& textPath);
  void report(int code, int number, const std::string& text) const;
  bool cancelled() const { return m_cancelled && m_cancelled(); }

  ProtocolContext& m_ctx;
  SharedFileList& m_list;
  ShareProgress m_progress;
  std::function<bool()> m_cancelled;
  FolderSet m_visited;  // the folders of the current ShareLocalPaths
  std::vector<std::pair<std::string, std::string>> m_shortened;
  std::string m_root;   // the resolved top folder being shared: links may point only inside it
};

// What a person is told about names the server lists shortened, "" for none.
std::string shortenedNamesText(const std::vector<std::pair<std::string, std::string>>& shortened);

// Files below the folder that a run would share (temporary names, pipes,
// sockets and devices excluded, linked folders not entered).
int CountShareableFiles(const std::string& directory);

// The path a file chosen on its own is recorded under: a symbolic link's
// resolved target (the file server serves a link only to a file that is shared
// itself), anything else as it is.
std::string sharedPathOf(const std::string& path);

// The last name of a directory's text path as the progress shows it: the text
// after the last ":", less the space after it.
std::string lastDirectoryName(const std::string& groupDirPath);

}  // namespace vantrel
