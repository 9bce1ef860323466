// SPDX-License-Identifier: MIT
#pragma once
// DirectoryBrowser: lists one local directory for the share-files page, in
// pages of 100 entries, with the path split into segments, the one drive "/"
// and the links that lead to other directories and pages. Made by the
// environment root's "getDirectory" from the request's "directory", "sort",
// "startat" and group values; reads the directory once, when made. Hidden
// entries (dot-names, "." and ".." among them) are left out. Beside the
// listing commands: "getDirectoryName" (the folder listed, as text) and
// "getFileSizeText", "getFileDateText" (the pages' one size and date format).
//
// Owned by the environment root of one rendering; used on its thread.

#include <cstdint>
#include <string>
#include <vector>

#include "providers/session_providers.h"

namespace vantrel::providers {

struct DirectoryEntry {
  std::string name;
  int64_t size = 0;
  int64_t lastWrite = 0;  // seconds since 1970
  bool isDirectory = false;
};

// The directory a (URL-decoded) "directory" value names: "/.." one level up,
// trailing "/." dropped; empty gives `home`. A "+" stays a "+".
std::string normaliseDirectory(std::string path, const std::string& home);

// Sorts entries by a browser sort code (0 to 5), directories first.
void sortEntries(std::vector<DirectoryEntry>& entries, int code);

class DirectoryBrowser : public LeafProvider {
 public:
  static constexpr int kPageSize = 100;

  DirectoryBrowser(const ClientFacts& facts, templates::RenderRequest& request);
  // For tests: a browser over given entries instead of a directory read.
  DirectoryBrowser(templates::RenderRequest& request, std::string directory, std::vector<DirectoryEntry> entries,
                   std::string token);

  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

  const std::string& directory() const { return m_path; }

 private:
  void readRequest(templates::RenderRequest& request);
  void startPaging();
  std::string linkHead() const;
  std::string pageLinkAt(int64_t startAt) const;
  std::string groupDirName() const;
  const DirectoryEntry* current() const;
  // The directory path, a "/" when needed, and the entry's name.
  std::string entryPath(const DirectoryEntry& entry) const;

  std::string m_shownPath;  // the folder listed, unchanged by the commands that write m_path
  std::string m_path;
  std::string m_groupName;
  std::string m_groupDirName;
  int32_t m_dirId = -1;
  int32_t m_groupId = -1;
  int32_t m_startAt = 0;
  int32_t m_sort = 0;
  std::string m_token;
  std::vector<DirectoryEntry> m_entries;

  bool m_driveListed = false;
  bool m_hasDrive = false;
  bool m_reportedError = false;
  int64_t m_file = -1;  // -1 before the first "hasMoreFiles"
  size_t m_pathPos = 0;
  std::string m_segment;
  std::string m_pathSoFar;
  int64_t m_firstPage = 0;
  int64_t m_page = 0;
};

}  // namespace vantrel::providers
