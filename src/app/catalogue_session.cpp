// SPDX-License-Identifier: MIT
#include "app/catalogue_session.h"

#include <cstdio>
#include <ctime>

#include "core/base64.h"
#include "core/deployment.h"
#include "fileserver/commands/sharing_commands.h"
#include "fileserver/request_params.h"
#include "protocol/catalogue_cache.h"
#include "protocol/shared_file_requests.h"
#include "transfers/download_manager.h"
#include "transfers/group_cache.h"

namespace vantrel {

namespace {

// What one login has fetched. Shared (std::shared_ptr) because a request that
// runs on the runner keeps its login's caches while a new login swaps them.
struct LoginCaches {
  explicit LoginCaches(const std::string& groupFile) : groups(groupFile, &catalogue) {}
  CatalogueCache catalogue;
  GroupCache groups;  // files refreshed groups into `catalogue`
};

// Query values the web site reads back byte for byte.
std::string percentEncoded(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) != 0 || c == '-' || c == '_' || c == '.') {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      out += hex;
    }
  }
  return out;
}

}  // namespace

class CatalogueSession::Service : public CatalogueService {
 public:
  Service(ProtocolContext& ctx, DownloadManager& downloads, std::string home, std::function<SharedFileList*()> files)
      : m_ctx(ctx), m_downloads(downloads), m_home(std::move(home)), m_files(std::move(files)) {}

  void beginLogin(const std::string& user) {
    auto fresh = std::make_shared<LoginCaches>(GroupCache::pathFor(m_home, user));
    std::scoped_lock lock(m_mutex);
    m_caches = std::move(fresh);
  }

  int32_t userId() const override { return m_ctx.state.UserId(); }

  int fetchListing(ListingKind kind, int32_t id) override {
    const auto login = caches();
    // A group known only from the user's group file is filed first, so that its listing has a place.
    if (kind == ListingKind::Group && !login->catalogue.group(id)) {
      if (const auto known = login->groups.group(id)) {
        login->catalogue.putGroup(std::make_shared<GroupEntry>(known->toListing()));
      }
    }
    const int code = login->catalogue.FetchListing(m_ctx, kind, id);
    if (code == 0 && (kind == ListingKind::Group || kind == ListingKind::Directory)) {
      if (kind == ListingKind::Group) {
        if (const auto group = login->catalogue.group(id)) noteSharers(group->children);
      } else if (const auto dir = login->catalogue.directory(id)) {
        noteSharers(dir->children);
      }
    }
    return code;
  }

  int search(const SearchCriteria& criteria, EntryList& results) override {
    std::string reply;
    const int code = Search(m_ctx, criteria, nullptr, reply);
    if (code == 0) results = ParseListing(reply);
    noteSharers(results);
    return code;
  }

  int createDirectory(const std::string& name, int32_t parentId, int32_t& newId) override {
    return CreateDirectory(m_ctx, name, parentId, &newId);
  }

  int removeFiles(const std::vector<int32_t>& fileIds) override {
    // The server is asked first: a refusal (501 among them) leaves the files
    // shared on both sides and is shown, instead of unsharing them here alone.
    if (!m_ctx.state.Connected()) return command_error::kNotConnectedRemove;
    m_ctx.logText("Removing files", 1);
    if (const int code = RemoveFiles(m_ctx, fileIds, nullptr); code != 0) return code;
    // Files this client shares stop being shared here too, in one save.
    if (SharedFileList* list = m_files()) {
      for (const CVantreldFile& record : list->RemoveBatch(fileIds)) m_ctx.logText("Removed " + record.fileName, 2);
    }
    return 0;
  }

  int removeDirectories(const std::vector<int32_t>& directoryIds) override {
    std::vector<int32_t> ids = directoryIds;
    const int code = RemoveDirectories(m_ctx, ids, nullptr);
    return code == catalogue::kListingOk ? 0 : code;
  }

  int joinGroup(int32_t groupId, const std::string& password, const std::string& comments) override {
    const int code = JoinGroup(m_ctx, groupId, password, comments);
    if (code == catalogue::kApplicationSent) {
      const auto login = caches();
      if (const auto listed = login->catalogue.group(groupId)) login->groups.markPending(*listed);
    }
    return code;
  }

  int createGroup(GroupEntry& group, int32_t parentCategoryId) override {
    return CreateGroup(m_ctx, group, parentCategoryId);
  }

  int shareFiles(const std::vector<std::string>& paths, const ShareDestination& to, const ShareProgress& progress,
                 const std::function<bool()>& cancelled) override {
    SharedFileList* list = m_files();
    if (list == nullptr || !m_ctx.state.Connected()) return share::kNotConnected;
    ShareRun run(m_ctx, *list, progress);
    run.setCancelCheck(cancelled);
    return run.ShareLocalPaths(paths, to);
  }

  int syncGroups(bool force) override { return caches()->groups.SyncGroups(m_ctx, force); }

  int downloadFile(const FileEntry& file, const std::string& folder) override {
    return m_downloads.downloadFile(file, folder) < 0 ? catalogue_view::kUnusableName : 0;
  }

  int downloadDirectory(const DirectoryEntry& directory, const std::string& folder) override {
    int queued = 0;
    const int code = m_downloads.DownloadDirectory(directory, folder, true, caches()->catalogue, m_ctx, &queued);
    return code == 0 && queued == 0 ? catalogue_view::kNothingToDownload : code;
  }

  std::shared_ptr<CategoryEntry> category(int32_t id) const override { return caches()->catalogue.category(id); }
  std::shared_ptr<GroupEntry> group(int32_t id) const override { return caches()->catalogue.group(id); }
  std::shared_ptr<DirectoryEntry> directory(int32_t id) const override { return caches()->catalogue.directory(id); }
  std::vector<CGroupEntry> myGroups() const override { return caches()->groups.listedGroups(); }

  std::string webLoginUrl(const std::string& redirect) const override {
    // The time makes every link differ, so the site can take each once and
    // only for a short while.
    const std::string sealed =
        base64Encode(m_ctx.key.EncryptText(std::to_string(std::time(nullptr)) + "$" + m_ctx.state.Password()));
    return "http://" + deployment::webHost() + "/login.jsp?clientid=" + std::to_string(m_ctx.state.ClientId()) +
           "&password=" + percentEncoded(sealed) + "&redirect=" + percentEncoded(redirect);
  }

 private:
  // Downloads waiting for a sharer the catalogue now lists online go at once.
  void noteSharers(const EntryList& entries) {
    for (const auto& e : entries) {
      if (e->type == EntryType::File && static_cast<const FileEntry&>(*e).online != 0) {
        m_downloads.sharerSeenOnline(e->ownerId);
      }
    }
  }

  std::shared_ptr<LoginCaches> caches() const {
    std::scoped_lock lock(m_mutex);
    return m_caches;
  }

  ProtocolContext& m_ctx;
  DownloadManager& m_downloads;
  const std::string m_home;
  const std::function<SharedFileList*()> m_files;
  mutable std::mutex m_mutex;
  // Before the first login: caches that no file backs.
  std::shared_ptr<LoginCaches> m_caches = std::make_shared<LoginCaches>("");  // guarded by m_mutex
};

CatalogueSession::CatalogueSession(ProtocolContext& ctx, DownloadManager& downloads, TimerService& timers,
                                   std::string home, std::function<SharedFileList*()> files,
                                   CatalogueRunner::Poster post)
    : m_ctx(ctx),
      m_timers(timers),
      m_post(std::move(post)),
      m_service(std::make_unique<Service>(ctx, downloads, std::move(home), std::move(files))),
      m_runner(std::make_unique<CatalogueRunner>(m_post)) {
  m_timer = m_timers.schedule(kChecksumPeriod, [this] { checksumTick(); });
}

CatalogueSession::~CatalogueSession() {
  m_timers.cancel(m_timer);
  m_runner.reset();
}

void CatalogueSession::beginLogin(const std::string& user) {
  m_service->beginLogin(user);
  {
    std::scoped_lock lock(m_mutex);
    m_loggedIn = true;
    m_lastChecksum = m_ctx.state.ServerChecksum();
  }
  syncGroups();
}

bool CatalogueSession::loggedIn() const {
  std::scoped_lock lock(m_mutex);
  return m_loggedIn;
}

CatalogueService& CatalogueSession::service() { return *m_service; }

void CatalogueSession::setGroupsListener(std::function<void()> listener) {
  std::scoped_lock lock(m_mutex);
  m_groupsListener = std::move(listener);
}

void CatalogueSession::checksumTick() {
  {
    std::scoped_lock lock(m_mutex);
    const int32_t now = m_ctx.state.ServerChecksum();
    if (!m_loggedIn || now == m_lastChecksum) return;
    m_lastChecksum = now;
  }
  syncGroups(false);
}

void CatalogueSession::syncGroups(bool force) {
  m_runner->run([this, force]() -> CatalogueRunner::Delivery {
    if (m_service->syncGroups(force) != 0) return {};
    std::scoped_lock lock(m_mutex);
    return m_groupsListener;
  });
}

}  // namespace vantrel
