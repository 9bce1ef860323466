// SPDX-License-Identifier: MIT
#pragma once
// ScriptedCatalogue: a CatalogueService over a small catalogue in memory, for
// the tests of the catalogue views and their commands. It records every call
// as a line, answers with the codes a test scripts, and can hold its network
// calls at a gate so that a test decides when an answer arrives. Thread-safe.
//
// The catalogue: the root lists the categories "Music" (1, holds groups) and
// "Archive" (2, holds none); "Music" lists the groups "Rock & Roll #1" (10,
// anyone may join, the user not a member) and "Mine + Yours" (11, the user
// owns it); group 10 lists the directory "Live 100% ü" (20) and the file
// "a&b #1.mp3" (30); directory 20 lists "deep+song.mp3" (31); group 11 lists
// "mine.txt" (32, the user's own). The user is 5.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/catalogue_service.h"
#include "protocol/shared_file_requests.h"

namespace vantrel::app_testing {

class ScriptedCatalogue : public CatalogueService {
 public:
  static constexpr int32_t kUser = 5;

  ScriptedCatalogue() {
    auto music = category(1, "Music", true);
    auto archive = category(2, "Archive", false);
    auto lounge = group(10, "Rock & Roll #1", 0, 99);
    auto mine = group(11, "Mine + Yours", group_status::kOwner, kUser);
    auto live = std::make_shared<DirectoryEntry>();
    live->id = 20, live->name = "Live 100% \xC3\xBC", live->ownerId = kUser;
    listings[0] = {music, archive};
    listings[1] = {lounge, mine};
    listings[2] = {};
    listings[10] = {live, file(30, "a&b #1.mp3", 99)};
    listings[20] = {file(31, "deep+song.mp3", kUser)};
    listings[11] = {file(32, "mine.txt", kUser)};
    searchResults = {file(30, "a&b #1.mp3", 99), file(31, "deep+song.mp3", kUser)};
  }

  // Network calls wait here while the gate is shut.
  void shutGate() {
    std::scoped_lock lock(m_mutex);
    m_gateShut = true;
  }
  void openGate() {
    {
      std::scoped_lock lock(m_mutex);
      m_gateShut = false;
    }
    m_gateChanged.notify_all();
  }
  std::vector<std::string> calls() const {
    std::scoped_lock lock(m_mutex);
    return m_calls;
  }
  void clearCalls() {
    std::scoped_lock lock(m_mutex);
    m_calls.clear();
  }
  // The code the named operation answers ("listing", "search", "createdir",
  // "removefiles", "removedirs", "join", "creategroup", "share", "sync", "download").
  void script(const std::string& operation, int code) {
    std::scoped_lock lock(m_mutex);
    m_codes[operation] = code;
  }

  int32_t userId() const override { return kUser; }

  int fetchListing(ListingKind kind, int32_t id) override {
    const int code = enter("listing " + std::to_string(static_cast<int>(kind)) + " " + std::to_string(id), "listing");
    if (code != 0) return code;
    std::scoped_lock lock(m_mutex);
    const auto it = listings.find(id);
    if (it == listings.end()) return 0;
    for (const auto& e : it->second) m_known[e->id] = e;
    if (id == 0) {
      auto root = std::make_shared<CategoryEntry>();
      root->children = it->second;
      m_known[0] = root;
      return 0;
    }
    // An entry listed by ID is known from then on, as the group file files groups.
    for (const auto& [parent, entries] : listings) {
      for (const auto& e : entries) {
        if (e->id == id && e->type != EntryType::File) {
          e->children = it->second;
          m_known[id] = e;
        }
      }
    }
    return 0;
  }
  int search(const SearchCriteria& criteria, EntryList& results) override {
    const int code = enter("search " + criteria.text + " start=" + std::to_string(criteria.start) + " fetch=" +
                               std::to_string(criteria.fetch) + " kind=" + std::to_string(criteria.fileKind) +
                               (criteria.onlineOnly ? " online" : "") +
                               (criteria.groupId != 0 ? " group=" + std::to_string(criteria.groupId) : ""),
                           "search");
    if (code == 0) {
      std::scoped_lock lock(m_mutex);
      results = searchResults;
    }
    return code;
  }
  int createDirectory(const std::string& name, int32_t parentId, int32_t& newId) override {
    newId = 77;
    return enter("createdir " + name + " in " + std::to_string(parentId), "createdir");
  }
  int removeFiles(const std::vector<int32_t>& ids) override { return enter("removefiles" + list(ids), "removefiles"); }
  int removeDirectories(const std::vector<int32_t>& ids) override {
    return enter("removedirs" + list(ids), "removedirs");
  }
  int joinGroup(int32_t groupId, const std::string& password, const std::string& comments) override {
    const int code = enter("join " + std::to_string(groupId) + " " + password + " " + comments, "join");
    return code == 0 ? catalogue::kListingOk : code;
  }
  int createGroup(GroupEntry& g, int32_t parent) override {
    g.id = 78;
    return enter("creategroup " + g.name + " in " + std::to_string(parent) + " memb=" + std::to_string(g.memb) +
                     " perm=" + std::to_string(g.perm) + " password=" + g.password,
                 "creategroup");
  }
  int shareFiles(const std::vector<std::string>& paths, const ShareDestination& to, const ShareProgress& progress,
                 const std::function<bool()>&) override {
    std::string line = "share";
    for (const auto& p : paths) line += " " + p;
    line += " -> group " + std::to_string(to.groupId) + " '" + to.groupName + "' dir " + std::to_string(to.dirId) +
            " '" + to.groupDirPath + "'";
    for (const auto& p : paths) {
      // As a run says of a name longer than the server keeps.
      const std::string name = p.substr(p.rfind('/') + 1);
      if (progress && name.size() > files::kMaxSentName) progress(share::kNameShortened, static_cast<int>(files::kMaxSentName), name);
    }
    if (progress) progress(share::kSharingFiles, 1, to.groupDirPath);
    return enter(line, "share");
  }
  int syncGroups(bool force) override { return enter(force ? "sync all" : "sync", "sync"); }
  int downloadFile(const FileEntry& f, const std::string& folder) override {
    return enter("download " + f.name + " -> " + folder, "download");
  }
  int downloadDirectory(const DirectoryEntry& d, const std::string& folder) override {
    return enter("download dir " + d.name + " -> " + folder, "download");
  }

  std::shared_ptr<CategoryEntry> category(int32_t id) const override { return known<CategoryEntry>(id, EntryType::Category); }
  std::shared_ptr<GroupEntry> group(int32_t id) const override { return known<GroupEntry>(id, EntryType::Group); }
  std::shared_ptr<DirectoryEntry> directory(int32_t id) const override {
    return known<DirectoryEntry>(id, EntryType::Directory);
  }
  std::vector<CGroupEntry> myGroups() const override {
    std::scoped_lock lock(m_mutex);
    return groups;
  }
  std::string webLoginUrl(const std::string& redirect) const override {
    return "http://web/login.jsp?clientid=7&password=SEALED&redirect=" + redirect;
  }

  // What the fake lists, by the ID of the entry listed (0: the root).
  std::map<int32_t, EntryList> listings;
  EntryList searchResults;
  std::vector<CGroupEntry> groups;  // guarded by m_mutex once shared

  static std::shared_ptr<FileEntry> file(int32_t id, std::string name, int32_t owner) {
    auto f = std::make_shared<FileEntry>();
    f->id = id, f->name = std::move(name), f->ownerId = owner, f->size = 1000 * id, f->online = 1;
    f->url = "http://peer/" + std::to_string(id);
    return f;
  }
  static std::shared_ptr<CategoryEntry> category(int32_t id, std::string name, bool hasGroups) {
    auto c = std::make_shared<CategoryEntry>();
    c->id = id, c->name = std::move(name), c->hasGroups = hasGroups;
    return c;
  }
  static std::shared_ptr<GroupEntry> group(int32_t id, std::string name, int status, int32_t owner) {
    auto g = std::make_shared<GroupEntry>();
    g->id = id, g->name = std::move(name), g->status = status, g->ownerId = owner, g->memb = membership::kAdmitAll;
    g->fileCount = 2, g->fileCountOther = 3;
    return g;
  }

 private:
  static std::string list(const std::vector<int32_t>& ids) {
    std::string out;
    for (const int32_t id : ids) out += " " + std::to_string(id);
    return out;
  }
  int enter(const std::string& call, const std::string& operation) {
    std::unique_lock lock(m_mutex);
    m_calls.push_back(call);
    m_gateChanged.wait_for(lock, std::chrono::seconds(10), [this] { return !m_gateShut; });
    const auto it = m_codes.find(operation);
    return it == m_codes.end() ? 0 : it->second;
  }
  template <class T>
  std::shared_ptr<T> known(int32_t id, EntryType type) const {
    std::scoped_lock lock(m_mutex);
    const auto it = m_known.find(id);
    if (it == m_known.end() || (it->second->type != type && id != 0)) return nullptr;
    return std::static_pointer_cast<T>(it->second);
  }

  mutable std::mutex m_mutex;
  std::condition_variable m_gateChanged;
  bool m_gateShut = false;                                     // guarded by m_mutex
  std::vector<std::string> m_calls;                            // guarded by m_mutex
  std::map<std::string, int> m_codes;                          // guarded by m_mutex
  std::map<int32_t, std::shared_ptr<CatalogueEntry>> m_known;  // guarded by m_mutex
};

}  // namespace vantrel::app_testing
