// SPDX-License-Identifier: MIT
#pragma once
// The providers that let a visitor browse what this client shares:
// "sharedDir" (by local directory), "sharedFile" (all files, optionally
// grouped) and "sharedgroup" (one group by group directory). Each copies the
// shared-file records once, when made (under the list's lock), builds its
// sorted tables from the request's values and walks them with cursors that
// only move forward.
//
// Owned by the environment root of one rendering; used on its thread.

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/vantreld_file.h"
#include "providers/session_providers.h"

namespace vantrel::providers {

// Orders records by a file sort code (3 and unknown codes: name ascending).
void sortByFileCode(std::vector<const CVantreldFile*>& files, int code);
// The file sort code that a group sort code stands for.
int fileCodeForGroupCode(int groupCode);
// A record's local directory: its path up to and including the last "/".
std::string localDirectoryOf(const CVantreldFile& file);

// The file commands common to the three providers, on the current file.
class SharedFileCursor : public LeafProvider {
 protected:
  explicit SharedFileCursor(const ClientFacts& facts);
  // Writes a file command; false when the name is not one.
  bool execFileCommand(std::string_view name, OutputSink& out, TemplateArgs args, bool withGroupDir) const;

  std::vector<CVantreldFile> m_records;  // the copy taken when made
  const CVantreldFile* m_current = nullptr;
};

// Walks a path segment by segment ("/home/", "u/", "docs").
struct PathWalk {
  bool next(const std::string& path);
  size_t pos = 0;
  std::string segment;
  std::string soFar;
};

struct NamedCount {
  std::string name;
  int count = 0;
};

class SharedDirProvider : public SharedFileCursor {
 public:
  SharedDirProvider(const ClientFacts& facts, templates::RenderRequest& request);
  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  std::string m_dir;
  int m_sort = 0;
  int m_driveFiles = 0;
  bool m_driveListed = false;
  bool m_hasDrive = false;
  std::vector<const CVantreldFile*> m_files;
  std::vector<NamedCount> m_dirs;
  size_t m_nextFile = 0;
  size_t m_nextDir = 0;
  const NamedCount* m_currentDir = nullptr;
  PathWalk m_walk;
};

class SharedFileProvider : public SharedFileCursor {
 public:
  SharedFileProvider(const ClientFacts& facts, templates::RenderRequest& request);
  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  struct Group {
    int32_t id = 0;
    std::string name;
    std::string path;
    int count = 0;
  };
  void buildGroups();
  void buildDirectories();

  int m_sort = 0;
  int m_grouping = 0;
  std::vector<const CVantreldFile*> m_files;
  size_t m_nextFile = 0;
  bool m_groupsBuilt = false;
  std::vector<Group> m_groups;
  size_t m_nextGroup = 0;
  const Group* m_group = nullptr;
  int32_t m_lastGroupId = 0;
  bool m_dirsBuilt = false;
  std::vector<NamedCount> m_dirs;
  size_t m_nextDir = 0;
  const NamedCount* m_dir = nullptr;
  std::string m_lastGroupDir;
  std::string m_lastLocalDir;
};

class SharedGroupProvider : public SharedFileCursor {
 public:
  SharedGroupProvider(const ClientFacts& facts, templates::RenderRequest& request);
  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override;
  void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) override;

 private:
  int32_t m_groupId = -1;
  std::string m_groupName;
  std::string m_groupPath;
  std::string m_groupDir;  // "groupdirname" trimmed
  std::vector<std::string> m_components;
  int m_sort = 0;
  int m_groupFiles = 0;
  std::vector<const CVantreldFile*> m_files;
  std::vector<NamedCount> m_dirs;
  size_t m_nextFile = 0;
  size_t m_nextDir = 0;
  const NamedCount* m_currentDir = nullptr;
  size_t m_nextComponent = 0;
};

// Group texts: trailing spaces and ":" removed, then split at the last ":"
// into the path before it and the name after it.
void splitGroupName(std::string text, std::string& path, std::string& name);
// A group directory text split at ":" into its non-empty components.
std::vector<std::string> groupDirComponents(std::string_view text);

}  // namespace vantrel::providers
