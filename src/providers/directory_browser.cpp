// SPDX-License-Identifier: MIT
#include "providers/directory_browser.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "providers/provider_text.h"

namespace vantrel::providers {
namespace {

constexpr std::string_view kDrive = "/";
constexpr std::string_view kShareFilesLink = "client-share_files_template.html?directory=";

void trimTrailing(std::string& text, std::string_view chars) {
  while (!text.empty() && chars.find(text.back()) != std::string_view::npos) text.pop_back();
}

std::vector<DirectoryEntry> readDirectory(const std::string& path) {
  std::vector<DirectoryEntry> entries;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return entries;
  const std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
  while (const dirent* e = readdir(dir)) {
    DirectoryEntry entry;
    entry.name = e->d_name;
    // Hidden files and folders (".", ".." and every dot-name) are not offered:
    // the path above leads up, and nobody means to share a settings folder.
    if (entry.name.empty() || entry.name[0] == '.') continue;
    struct stat st {};
    if (stat((prefix + entry.name).c_str(), &st) == 0) {
      entry.isDirectory = S_ISDIR(st.st_mode);
      entry.size = entry.isDirectory ? 0 : static_cast<int64_t>(st.st_size);
      entry.lastWrite = static_cast<int64_t>(st.st_mtime);
    } else {
      entry.isDirectory = e->d_type == DT_DIR;
    }
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  return entries;
}

}  // namespace

std::string normaliseDirectory(std::string path, const std::string& home) {
  if (path.find("/..") != std::string::npos) {
    trimTrailing(path, "/.");
    const size_t slash = path.rfind('/');
    path.erase(slash == std::string::npos ? 0 : slash);
    if (path.empty()) path = kDrive;  // above the root stays at the root
  }
  if (path.find("/.") != std::string::npos) {
    trimTrailing(path, "/.");
    if (path.empty()) path = kDrive;
  }
  // The value arrives URL-decoded: a "+" left in it is part of a name.
  if (path.empty()) path = home.empty() ? std::string(kDrive) : home;
  return path;
}

void sortEntries(std::vector<DirectoryEntry>& entries, int code) {
  std::stable_sort(entries.begin(), entries.end(), [code](const DirectoryEntry& a, const DirectoryEntry& b) {
    if (a.isDirectory != b.isDirectory) return a.isDirectory;
    const int byName = compareNoCase(a.name, b.name);
    switch (code) {
      case 1: return byName > 0;
      case 2: return a.size != b.size ? a.size < b.size : byName < 0;
      case 3: return a.size != b.size ? a.size > b.size : byName < 0;
      case 4: return a.lastWrite != b.lastWrite ? a.lastWrite < b.lastWrite : byName < 0;
      case 5: return a.lastWrite != b.lastWrite ? a.lastWrite > b.lastWrite : byName < 0;
      default: return byName < 0;
    }
  });
}

DirectoryBrowser::DirectoryBrowser(const ClientFacts& facts, templates::RenderRequest& request) {
  readRequest(request);
  m_path = normaliseDirectory(request.parameter("directory").value_or(""), facts.homeDirectory());
  m_shownPath = m_path;
  m_token = facts.makeToken(request.peerAddress());
  m_entries = readDirectory(m_path);
  sortEntries(m_entries, m_sort);
  startPaging();
}

DirectoryBrowser::DirectoryBrowser(templates::RenderRequest& request, std::string directory,
                                   std::vector<DirectoryEntry> entries, std::string token)
    : m_path(std::move(directory)), m_token(std::move(token)), m_entries(std::move(entries)) {
  m_shownPath = m_path;
  readRequest(request);
  sortEntries(m_entries, m_sort);
  startPaging();
}

void DirectoryBrowser::readRequest(templates::RenderRequest& request) {
  m_dirId = parseNumber(request.parameter("dirid").value_or(""), -1);
  m_groupId = parseNumber(request.parameter("groupid").value_or(""), -1);
  m_groupName = request.parameter("groupname").value_or("");
  m_groupDirName = request.parameter("groupdirname").value_or("");
  m_startAt = std::max(0, parseNumber(request.parameter("startat").value_or(""), 0));
  m_sort = parseNumber(request.parameter("sort").value_or(""), 0);
  if (m_sort < 0 || m_sort > 5) m_sort = 0;
}

void DirectoryBrowser::startPaging() {
  if (static_cast<size_t>(m_startAt) > m_entries.size()) m_startAt = 0;
  m_firstPage = std::max<int64_t>(0, m_startAt / kPageSize - 2);
  m_page = m_firstPage;
}

std::string DirectoryBrowser::groupDirName() const {
  std::string name = m_groupDirName;
  trimTrailing(name, ":");
  return name;
}

std::string DirectoryBrowser::linkHead() const {
  return "&sort=" + std::to_string(m_sort) + "&dirid=" + std::to_string(m_dirId) +
         "&groupname=" + linkValue(m_groupName) + "&groupdirname=" + linkValue(groupDirName()) +
         "&groupid=" + std::to_string(m_groupId);
}

std::string DirectoryBrowser::pageLinkAt(int64_t startAt) const {
  // The token is Base64, which the server reads without URL decoding.
  return std::string(kShareFilesLink) + linkValue(m_path) + linkHead() + "&startat=" + std::to_string(startAt) +
         "&@token=" + m_token;
}

std::string DirectoryBrowser::entryPath(const DirectoryEntry& entry) const {
  std::string path = m_path;
  if (path.empty() || path.back() != '/') path += '/';
  return path + entry.name;
}

const DirectoryEntry* DirectoryBrowser::current() const {
  if (m_file < 0 || static_cast<size_t>(m_file) >= m_entries.size()) return nullptr;
  return &m_entries[static_cast<size_t>(m_file)];
}

void DirectoryBrowser::Exec(std::string_view name, OutputSink& out, TemplateArgs args) {
  if (name == "getpathsegment") {
    writeText(out, m_segment, args);
  } else if (name == "getdirectoryname") {
    out.Write(htmlEscape(m_shownPath));  // the folder as it is, for reading
  } else if (name == "getfullpathsegment") {
    writeText(out, m_pathSoFar, args);
  } else if (name == "getgroupname") {
    writeText(out, m_groupName, args);
  } else if (name == "getgroupid") {
    writeNumber(out, m_groupId);
  } else if (name == "admintoken") {
    out.Write(m_token);
  } else if (name == "getgroupdirname") {
    writeText(out, groupDirName(), args);
  } else if (name == "getdrive") {
    if (m_hasDrive) out.Write(kDrive);
  } else if (name == "drivetype") {
    out.Write("1");
  } else if (name == "sortmethod") {
    writeNumber(out, m_sort);
  } else if (name == "serverdirid") {
    writeNumber(out, m_dirId);
  } else if (m_entries.empty()) {
    return;  // nothing was listed: every listing command writes nothing
  } else if (name == "getfilename") {
    if (const DirectoryEntry* e = current()) writeText(out, e->name, args);
  } else if (name == "getfilesize") {
    if (const DirectoryEntry* e = current()) out.Write(e->size == 0 ? std::string("0") : kilo1(static_cast<double>(e->size)));
  } else if (name == "getfiledate") {
    if (const DirectoryEntry* e = current()) out.Write(localTime(e->lastWrite, kShortDate));
  } else if (name == "getfilesizetext") {
    if (const DirectoryEntry* e = current()) out.Write(e->isDirectory ? std::string("folder") : sizeText(e->size));
  } else if (name == "getfiledatetext") {
    if (const DirectoryEntry* e = current()) out.Write(dateText(e->lastWrite));
  } else if (name == "rootdir") {
    // Paths are written as they are (no "+" for a space): a form sends a
    // check box's value URL-encoded and addFiles opens what arrives, and a
    // name may hold a "+" of its own.
    writeText(out, m_path, args);
  } else if (name == "getfilepath") {
    if (const DirectoryEntry* e = current()) writeText(out, entryPath(*e), args);
  } else if (name == "numberofentries") {
    writeNumber(out, static_cast<int64_t>(m_entries.size()));
  } else if (name == "getdirectorylink") {
    if (const DirectoryEntry* e = current()) {
      out.Write(std::string(kShareFilesLink) + linkValue(entryPath(*e)) + linkHead());
    }
  } else if (name == "pagelink") {
    out.Write(pageLinkAt((m_page - 1) * kPageSize));
  } else if (name == "prev5link") {
    out.Write(pageLinkAt(m_page < 6 ? 0 : m_page * kPageSize - 500));
  } else if (name == "next5link") {
    out.Write(pageLinkAt(m_page * kPageSize + 200));
  } else if (name == "pagenumber") {
    writeNumber(out, m_page);
  } else if (name == "numberofpages") {
    writeNumber(out, static_cast<int64_t>(m_entries.size() / kPageSize + 1));
  } else if (name == "currentpagenumber") {
    writeNumber(out, m_startAt / kPageSize + 1);
  } else if (name == "pagerange") {
    const int64_t n = static_cast<int64_t>(m_entries.size());
    const int64_t first = std::clamp<int64_t>((m_page - 1) * kPageSize, 0, n - 1);
    const int64_t last = std::clamp<int64_t>(m_page * kPageSize - 1, 0, n - 1);
    const std::string& a = m_entries[static_cast<size_t>(first)].name;
    const std::string& b = m_entries[static_cast<size_t>(last)].name;
    std::string range = "(";
    range += a.empty() || a[0] == '.' ? std::string("A") : htmlEscape(a.substr(0, 1));
    range += " to ";
    range += b.empty() ? std::string() : htmlEscape(b.substr(0, 1));
    range += ")";
    out.Write(range);
  } else {
    out.Write(templates::commandUnknownText(name));
  }
}

void DirectoryBrowser::Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs) {
  result.setInteger(0);
  if (name == "hasmoredrives") {
    // One drive, "/": found once, then the letters run out.
    m_hasDrive = !m_driveListed;
    m_driveListed = true;
    result.setInteger(m_hasDrive ? 1 : 0);
    return;
  }
  if (m_entries.empty()) {
    if (!m_reportedError) out.Write("Error: Incorrect directory or drive inaccessible");
    m_reportedError = true;
    return;
  }
  const int64_t n = static_cast<int64_t>(m_entries.size());
  if (name == "hasmorefiles") {
    m_file = m_file < 0 ? m_startAt : m_file + 1;
    result.setInteger(m_file < n && m_file < m_startAt + kPageSize ? 1 : 0);
  } else if (name == "hasmorepath") {
    if (m_pathPos >= m_path.size()) return;
    const size_t slash = m_path.find('/', m_pathPos);
    if (slash != std::string::npos) {
      m_segment = m_path.substr(m_pathPos, slash + 1 - m_pathPos);
      m_pathSoFar = m_path.substr(0, slash + 1);
      m_pathPos = slash + 1;
    } else {
      m_segment = m_path.substr(m_pathPos);
      m_pathSoFar = m_path;
      m_pathPos = m_path.size();
    }
    result.setInteger(1);
  } else if (name == "isdirectory") {
    const DirectoryEntry* e = current();
    result.setInteger(e != nullptr && e->isDirectory ? 1 : 0);
  } else if (name == "numberofentries") {
    result.setInteger(static_cast<int32_t>(n));
  } else if (name == "hasmorepages") {
    if (n >= 101 && m_page < m_firstPage + 5 && m_page * kPageSize < n) {
      ++m_page;
      result.setInteger(1);
    }
  } else if (name == "prev5") {
    result.setInteger(m_page > 0 ? 1 : 0);
  } else if (name == "next5") {
    result.setInteger((m_page + 1) * kPageSize < n ? 1 : 0);
  } else {
    out.Write(templates::commandUnknownText(name));
  }
}

}  // namespace vantrel::providers
