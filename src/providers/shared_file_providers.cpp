// SPDX-License-Identifier: MIT
#include "providers/shared_file_providers.h"

#include <algorithm>
#include <map>

#include "catalogue/shared_file_list.h"
#include "providers/provider_text.h"

namespace vantrel::providers {
namespace {

constexpr std::string_view kNoFile = "Template Error: No shared file selected";
constexpr std::string_view kDrive = "/";

void trimTrailing(std::string& text, std::string_view chars) {
  while (!text.empty() && chars.find(text.back()) != std::string_view::npos) text.pop_back();
}

std::string trimSpaces(std::string_view text) {
  size_t a = 0;
  size_t b = text.size();
  while (a < b && text[a] == ' ') ++a;
  while (b > a && text[b - 1] == ' ') --b;
  return std::string(text.substr(a, b - a));
}

bool nameLess(const CVantreldFile* a, const CVantreldFile* b) { return compareNoCase(a->fileName, b->fileName) < 0; }

// Negative, zero or positive as a comes before b under a file sort code.
int compareByFileCode(const CVantreldFile* a, const CVantreldFile* b, int code) {
  const auto order = [](auto x, auto y) { return x < y ? -1 : (x > y ? 1 : 0); };
  switch (code) {
    case 4: return -compareNoCase(a->fileName, b->fileName);
    case 5: return -order(a->fileSize, b->fileSize);
    case 6: return order(a->fileSize, b->fileSize);
    case 7: return -order(a->downloadCount, b->downloadCount);
    case 8: return order(a->downloadCount, b->downloadCount);
    case 9:
    case 11: return order(a->creationTime, b->creationTime);
    case 10:
    case 12: return -order(a->creationTime, b->creationTime);
    default: return compareNoCase(a->fileName, b->fileName);
  }
}

std::vector<NamedCount> sortedCounts(const std::map<std::string, int>& counts) {
  std::vector<NamedCount> out;
  for (const auto& [name, count] : counts) out.push_back({name, count});
  std::stable_sort(out.begin(), out.end(),
                   [](const NamedCount& a, const NamedCount& b) { return compareNoCase(a.name, b.name) < 0; });
  return out;
}

std::string joinComponents(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count && i < parts.size(); ++i) out += parts[i] + ":";
  return out;
}

}  // namespace

void sortByFileCode(std::vector<const CVantreldFile*>& files, int code) {
  std::stable_sort(files.begin(), files.end(), [code](const CVantreldFile* a, const CVantreldFile* b) {
    const int c = compareByFileCode(a, b, code);
    return c != 0 ? c < 0 : nameLess(a, b);
  });
}

int fileCodeForGroupCode(int groupCode) { return groupCode >= 0 && groupCode <= 9 ? groupCode + 3 : 3; }

std::string localDirectoryOf(const CVantreldFile& file) {
  const size_t slash = file.localPath.rfind('/');
  return slash == std::string::npos ? std::string() : file.localPath.substr(0, slash + 1);
}

void splitGroupName(std::string text, std::string& path, std::string& name) {
  trimTrailing(text, " :");
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    path.clear();
    name = trimSpaces(text);
  } else {
    path = trimSpaces(std::string_view(text).substr(0, colon));
    name = trimSpaces(std::string_view(text).substr(colon + 1));
  }
}

std::vector<std::string> groupDirComponents(std::string_view text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t colon = text.find(':', start);
    if (colon == std::string_view::npos) colon = text.size();
    std::string part = trimSpaces(text.substr(start, colon - start));
    if (!part.empty()) parts.push_back(std::move(part));
    start = colon + 1;
  }
  return parts;
}

bool PathWalk::next(const std::string& path) {
  if (pos >= path.size()) return false;
  const size_t slash = path.find('/', pos);
  if (slash != std::string::npos) {
    segment = path.substr(pos, slash + 1 - pos);
    soFar = path.substr(0, slash + 1);
    pos = slash + 1;
  } else {
    segment = path.substr(pos);
    soFar = path;
    pos = path.size();
  }
  return true;
}

// ---- file commands ----

SharedFileCursor::SharedFileCursor(const ClientFacts& facts) : m_records(facts.sharedFiles().snapshot()) {}

bool SharedFileCursor::execFileCommand(std::string_view name, OutputSink& out, TemplateArgs args,
                                       bool withGroupDir) const {
  static constexpr std::string_view kCommands[] = {"getfileid",         "getfilename",  "getfilesize",
                                                   "getfiledate",       "getfiledescription", "getfilegroup",
                                                   "getfilelocallocation", "numberofdownloads", "getfilegroupdir",
                                                   "getfilesizetext",   "getfiledatetext"};
  if (std::find(std::begin(kCommands), std::end(kCommands), name) == std::end(kCommands)) return false;
  if (name == "getfilegroupdir" && !withGroupDir) return false;
  if (m_current == nullptr) {
    out.Write(kNoFile);
    return true;
  }
  const CVantreldFile& f = *m_current;
  if (name == "getfileid") writeNumber(out, f.fileId);
  else if (name == "getfilename") writeText(out, f.fileName, args);
  else if (name == "getfilesize") out.Write(kilo1(f.fileSize));
  else if (name == "getfiledate") out.Write(localTime(f.creationTime, kLongDate));
  else if (name == "getfilesizetext") out.Write(sizeText(f.fileSize));
  else if (name == "getfiledatetext") out.Write(dateText(f.creationTime));
  else if (name == "getfiledescription") writeText(out, f.description, args);
  else if (name == "getfilegroup") writeText(out, f.groupName, args);
  else if (name == "getfilelocallocation") writeText(out, f.localPath, args);
  else if (name == "numberofdownloads") writeNumber(out, f.downloadCount);
  else writeText(out, f.groupDirPath, args);
  return true;
}

// ---- sharedDir ----

SharedDirProvider::SharedDirProvider(const ClientFacts& facts, templates::RenderRequest& request)
    : SharedFileCursor(facts) {
  m_dir = request.parameter("dir").value_or("");
  if (m_dir.empty() && !m_records.empty()) m_dir = std::string(kDrive);
  m_sort = parseNumber(request.parameter("sort").value_or(""), 0);
  std::map<std::string, int> below;
  for (const CVantreldFile& f : m_records) {
    const std::string dir = localDirectoryOf(f);
    if (dir.rfind(kDrive, 0) == 0) ++m_driveFiles;
    if (dir == m_dir) {
      m_files.push_back(&f);
    } else if (!m_dir.empty() && dir.size() > m_dir.size() && dir.compare(0, m_dir.size(), m_dir) == 0) {
      const std::string rest = dir.substr(m_dir.size());
      ++below[rest.substr(0, rest.find('/'))];
    }
  }
  m_dirs = sortedCounts(below);
  sortByFileCode(m_files, m_sort);
}

void SharedDirProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs args) {
  if (execFileCommand(name, out, args, false)) return;
  if (name == "getcurrentdirname") {
    writeText(out, m_dir, args);
  } else if (name == "getpathsegment") {
    writeText(out, m_walk.segment, args);
  } else if (name == "getfullpathsegment") {
    writeText(out, m_walk.soFar, args);
  } else if (name == "sort") {
    const std::string column = args.size() == 1 && args[0].isString() ? lowerCase(args[0].text()) : std::string();
    int code = 3;
    if (column == "filename") code = m_sort == 3 ? 4 : 3;
    else if (column == "filesize") code = m_sort == 6 ? 5 : 6;
    else if (column == "downloads") code = m_sort == 8 ? 7 : 8;
    writeNumber(out, code);
  } else if (name == "getdrivename") {
    if (m_hasDrive) out.Write(kDrive);
  } else if (name == "drivetype") {
    out.Write("1");
  } else if (name == "getdrivefiles") {
    writeNumber(out, m_hasDrive ? m_driveFiles : 0);
  } else if (name == "getdirname") {
    if (m_currentDir != nullptr) writeText(out, m_currentDir->name, args);
  } else if (name == "getdirnumberoffiles") {
    if (m_currentDir != nullptr) writeNumber(out, m_currentDir->count);
  } else {
    out.Write(templates::commandUnknownText(name));
  }
}

void SharedDirProvider::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  result.setInteger(0);
  if (name == "hasmoredrives") {
    m_hasDrive = !m_driveListed && m_driveFiles > 0;
    m_driveListed = true;
    result.setInteger(m_hasDrive ? 1 : 0);
  } else if (name == "hasmoredirectories") {
    m_currentDir = m_nextDir < m_dirs.size() ? &m_dirs[m_nextDir++] : nullptr;
    result.setInteger(m_currentDir != nullptr ? 1 : 0);
  } else if (name == "hasmorefiles") {
    m_current = m_nextFile < m_files.size() ? m_files[m_nextFile++] : nullptr;
    result.setInteger(m_current != nullptr ? 1 : 0);
  } else if (name == "hasmorepath") {
    result.setInteger(m_walk.next(m_dir) ? 1 : 0);
  } else if (name == "getdrivefiles") {  // the counts also as values, for a page's plurals
    result.setInteger(m_hasDrive ? m_driveFiles : 0);
  } else if (name == "getdirnumberoffiles") {
    result.setInteger(m_currentDir != nullptr ? m_currentDir->count : 0);
  } else {
    out.Write(templates::commandUnknownText(name));
  }
}

// ---- sharedFile ----

SharedFileProvider::SharedFileProvider(const ClientFacts& facts, templates::RenderRequest& request)
    : SharedFileCursor(facts) {
  m_sort = parseNumber(request.parameter("sort").value_or(""), 0);
  if (m_sort == -1) m_sort = 0;
  m_grouping = m_sort;
  m_files.reserve(m_records.size());
  for (const CVantreldFile& f : m_records) m_files.push_back(&f);
  const int grouping = m_grouping;
  const int code = m_sort;
  // Local directories are computed once per record, not per comparison.
  std::vector<std::string> dirs;
  if (grouping == 2) {
    dirs.reserve(m_records.size());
    for (const CVantreldFile& f : m_records) dirs.push_back(localDirectoryOf(f));
  }
  const CVantreldFile* const first = m_records.data();
  const auto dirOf = [&](const CVantreldFile* f) -> const std::string& { return dirs[static_cast<size_t>(f - first)]; };
  std::stable_sort(m_files.begin(), m_files.end(), [&](const CVantreldFile* a, const CVantreldFile* b) {
    if (grouping == 1) {
      if (const int c = compareNoCase(a->groupName, b->groupName)) return c < 0;
      if (const int c = compareNoCase(a->groupDirPath, b->groupDirPath)) return c < 0;
    } else if (grouping == 2) {
      if (const int c = compareNoCase(dirOf(a), dirOf(b))) return c < 0;
    }
    const int c = compareByFileCode(a, b, code);
    return c != 0 ? c < 0 : nameLess(a, b);
  });
}

void SharedFileProvider::buildGroups() {
  if (m_groupsBuilt) return;
  m_groupsBuilt = true;
  std::map<int32_t, Group> byId;
  for (const CVantreldFile& f : m_records) {
    Group& g = byId[f.groupId];
    if (g.count++ == 0) {
      g.id = f.groupId;
      splitGroupName(f.groupName, g.path, g.name);
    }
  }
  for (auto& [id, g] : byId) m_groups.push_back(std::move(g));
  std::stable_sort(m_groups.begin(), m_groups.end(), [](const Group& a, const Group& b) {
    if (const int c = compareNoCase(a.path, b.path)) return c < 0;
    return compareNoCase(a.name, b.name) < 0;
  });
}

void SharedFileProvider::buildDirectories() {
  if (m_dirsBuilt) return;
  m_dirsBuilt = true;
  std::map<std::string, int> counts;
  for (const CVantreldFile& f : m_records) ++counts[localDirectoryOf(f)];
  m_dirs = sortedCounts(counts);
}

void SharedFileProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs args) {
  if (execFileCommand(name, out, args, true)) return;
  if (name == "numberoffiles") {
    writeNumber(out, static_cast<int64_t>(m_files.size()));
  } else if (name == "sortmethod") {
    writeNumber(out, m_sort);
  } else if (name == "secondsortmethod") {
    writeNumber(out, m_grouping);
  } else if (name == "groupname") {
    if (m_group != nullptr) writeText(out, m_group->name, args);
  } else if (name == "grouppath") {
    if (m_group != nullptr) writeText(out, m_group->path, args);
  } else if (name == "groupid") {
    if (m_group != nullptr) writeNumber(out, m_group->id);
  } else if (name == "groupnumberoffiles") {
    if (m_group != nullptr) writeNumber(out, m_group->count);
  } else if (name == "directoryname") {
    if (m_dir != nullptr) writeText(out, m_dir->name, args);
  } else if (name == "directorynumberoffiles") {
    if (m_dir != nullptr) writeNumber(out, m_dir->count);
  } else {
    out.Write(templates::commandUnknownText(name));
  }
}

void SharedFileProvider::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  result.setInteger(0);
  if (name == "hasmorefiles") {
    m_current = m_nextFile < m_files.size() ? m_files[m_nextFile++] : nullptr;
    result.setInteger(m_current != nullptr ? 1 : 0);
  } else if (name == "numberoffiles") {
    result.setInteger(static_cast<int32_t>(m_files.size()));
  } else if (name == "groupnumberoffiles") {  // the counts also as values, for a page's plurals
    result.setInteger(m_group != nullptr ? m_group->count : 0);
  } else if (name == "directorynumberoffiles") {
    result.setInteger(m_dir != nullptr ? m_dir->count : 0);
  } else if (name == "hasmoregroups") {
    buildGroups();
    m_group = m_nextGroup < m_groups.size() ? &m_groups[m_nextGroup++] : nullptr;
    result.setInteger(m_group != nullptr ? 1 : 0);
  } else if (name == "hasmoredirectories") {
    buildDirectories();
    m_dir = m_nextDir < m_dirs.size() ? &m_dirs[m_nextDir++] : nullptr;
    result.setInteger(m_dir != nullptr ? 1 : 0);
  } else if (name == "newgroup") {
    if (m_current != nullptr && m_current->groupId != m_lastGroupId) {
      m_lastGroupId = m_current->groupId;
      buildGroups();
      const int32_t id = m_lastGroupId;
      auto it = std::find_if(m_groups.begin(), m_groups.end(), [id](const Group& g) { return g.id == id; });
      m_group = it != m_groups.end() ? &*it : nullptr;
      result.setInteger(1);
    }
  } else if (name == "newgroupdir") {
    if (m_current != nullptr && m_current->groupDirPath != m_lastGroupDir) {
      m_lastGroupDir = m_current->groupDirPath;
      result.setInteger(1);
    }
  } else if (name == "newlocaldir") {
    if (m_current != nullptr) {
      std::string dir = localDirectoryOf(*m_current);
      if (dir != m_lastLocalDir && !dir.empty()) {
        m_lastLocalDir = std::move(dir);
        buildDirectories();
        const std::string& wanted = m_lastLocalDir;
        auto it = std::find_if(m_dirs.begin(), m_dirs.end(), [&](const NamedCount& d) { return d.name == wanted; });
        m_dir = it != m_dirs.end() ? &*it : nullptr;
        result.setInteger(1);
      }
    }
  } else {
    out.Write(templates::commandUnknownText(name));
  }
}

// ---- sharedgroup ----

SharedGroupProvider::SharedGroupProvider(const ClientFacts& facts, templates::RenderRequest& request)
    : SharedFileCursor(facts) {
  m_groupId = parseNumber(request.parameter("groupid").value_or(""), -1);
  splitGroupName(request.parameter("groupname").value_or(""), m_groupPath, m_groupName);
  m_groupDir = request.parameter("groupdirname").value_or("");
  trimTrailing(m_groupDir, " :");
  m_components = groupDirComponents(m_groupDir);
  const std::optional<std::string> sort = request.parameter("sort");
  m_sort = sort ? parseNumber(*sort, 0) : 0;
  std::map<std::string, int> below;
  for (const CVantreldFile& f : m_records) {
    if (f.groupId != m_groupId) continue;
    ++m_groupFiles;
    const std::vector<std::string> parts = groupDirComponents(f.groupDirPath);
    if (parts.size() < m_components.size() || !std::equal(m_components.begin(), m_components.end(), parts.begin())) {
      continue;
    }
    if (parts.size() == m_components.size()) {
      m_files.push_back(&f);
    } else if (parts.size() == m_components.size() + 1) {
      ++below[parts.back()];
    }
  }
  m_dirs = sortedCounts(below);
  sortByFileCode(m_files, fileCodeForGroupCode(m_sort));
}

void SharedGroupProvider::Exec(std::string_view name, OutputSink& out, TemplateArgs args) {
  if (execFileCommand(name, out, args, false)) return;
  if (name == "getpathsegment") {
    if (m_nextComponent > 0) writeText(out, m_components[m_nextComponent - 1], args);
  } else if (name == "getfullpathsegment") {
    writeText(out, joinComponents(m_components, m_nextComponent), args);
  } else if (name == "groupname") {
    writeText(out, m_groupName, args);
  } else if (name == "grouppath") {
    writeText(out, m_groupPath, args);
  } else if (name == "groupid") {
    writeNumber(out, m_groupId);
  } else if (name == "numberofgroupfiles") {
    writeNumber(out, m_groupFiles);
  } else if (name == "groupdir") {
    writeText(out, m_groupDir, args);
  } else if (name == "groupdirpath") {
    // Every component followed by ":", which as "groupdirname" names the same place.
    writeText(out, joinComponents(m_components, m_components.size()), args);
  } else if (name == "sort") {
    const std::string column = args.size() == 1 && args[0].isString() ? lowerCase(args[0].text()) : std::string();
    int code = 0;
    if (column == "filename") code = m_sort == 0 ? 1 : 0;
    else if (column == "filesize") code = m_sort == 3 ? 2 : 3;
    else if (column == "downloads") code = m_sort == 5 ? 4 : 5;
    writeNumber(out, code);
  } else if (name == "getdirname") {
    if (m_currentDir != nullptr) writeText(out, m_currentDir->name, args);
  } else if (name == "getdirendofname") {
    if (m_currentDir != nullptr) {
      const std::string here = joinComponents(m_components, m_components.size());
      writeText(out, here + m_currentDir->name, args);
    }
  } else if (name == "getdirnumberoffiles") {
    if (m_currentDir != nullptr) writeNumber(out, m_currentDir->count);
  } else {
    out.Write(templates::commandUnknownText(name));
  }
}

void SharedGroupProvider::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  result.setInteger(0);
  if (name == "hasmoredirectories") {
    m_currentDir = m_nextDir < m_dirs.size() ? &m_dirs[m_nextDir++] : nullptr;
    result.setInteger(m_currentDir != nullptr ? 1 : 0);
  } else if (name == "hasmorefiles") {
    m_current = m_nextFile < m_files.size() ? m_files[m_nextFile++] : nullptr;
    result.setInteger(m_current != nullptr ? 1 : 0);
  } else if (name == "hasmorepath") {
    if (m_nextComponent < m_components.size()) {
      ++m_nextComponent;
      result.setInteger(1);
    }
  } else if (name == "numberofgroupfiles") {  // the counts also as values, for a page's plurals
    result.setInteger(m_groupFiles);
  } else if (name == "getdirnumberoffiles") {
    result.setInteger(m_currentDir != nullptr ? m_currentDir->count : 0);
  } else {
    out.Write(templates::commandUnknownText(name));
  }
}

}  // namespace vantrel::providers
