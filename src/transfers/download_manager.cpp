// SPDX-License-Identifier: MIT
#include "transfers/download_manager.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "net/client_request.h"
#include "platform/durable_file.h"
#include "platform/unique_fd.h"
#include "protocol/catalogue_cache.h"
#include "transfers/download_list.h"

namespace vantrel {

namespace {

// Result codes of GetFile that name a state of their own.
constexpr int kPeerRefused = get::kPeerErrorOrNoLength;          // 11
constexpr int kStoppedByRequest = get::kNoLength + get::kStopped;  // 18
// A body that ended before its announced length: a receive failure.
constexpr int kShortBody = get::kNoLength + get::kSendOrReceive;   // 16

// What GetFile sees of a record. Offsets and sizes are the record's 64-bit
// values: a partial file past 2 GiB must be asked for, and appended to, at its
// real end.
class RecordTarget : public DownloadTarget {
 public:
  explicit RecordTarget(DownloadRecord& record) : m_record(record) {}

  bool resume() const override { return (m_record.options & download_option::kResume) != 0; }
  long resumeOffset() const override { return m_record.resumeAt; }
  long expectedSize() const override { return m_record.fileSize; }
  void setResumeOffset(long offset) override { m_record.setResumeAt(offset); }
  void setLength(long length) override { m_length = length; }
  void setRate(long bytesPerSecond) override {
    m_record.rate = static_cast<int32_t>(std::min<long>(bytesPerSecond, INT32_MAX));
  }
  void peerError(const std::string& line) override {
    m_record.setPeerErrorText(peerErrorMessage(line));
    m_record.peerCode = peerErrorCode(line);
  }
  bool progress(long bytesPresent) override {
    m_record.setBytesPresent(bytesPresent);
    m_bodyBytes = bytesPresent - m_record.resumeAt;
    return m_record.stopRequest == 0;
  }

  long length() const { return m_length; }
  long bodyBytes() const { return m_bodyBytes; }

 private:
  DownloadRecord& m_record;
  long m_length = -1;
  long m_bodyBytes = 0;
};

// A name from another user's listing used as one path component: it may not
// climb out of the destination or reach into another folder.
std::string safeComponent(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return {};
  std::string out = name;
  std::replace(out.begin(), out.end(), '/', '_');
  std::replace(out.begin(), out.end(), '\0', '_');
  return out;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// What an error of the file system means to the person.
DownloadReason reasonForErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return DownloadReason::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
      return DownloadReason::DiskFull;
    default:
      return DownloadReason::Other;
  }
}

// A write into `folder` failed after the file was opened: a full disk, or a
// folder that stopped taking files. The write's own error is not at hand here.
DownloadReason reasonForWriteFailure(const std::string& folder) {
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) == 0 && static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize < 1024 * 1024) {
    return DownloadReason::DiskFull;
  }
  if (::access(folder.c_str(), W_OK) != 0) return DownloadReason::PermissionDenied;
  return DownloadReason::Other;
}

// What a peer's refusal (its "error=" number) means: the codes of its file
// server for full limits, files it no longer has, and tokens it does not take.
DownloadReason reasonForRefusal(int32_t peerCode, bool canRenewLink) {
  switch (peerCode) {
    case 3:   // too many connections
    case 31:  // too many users downloading
    case 38:  // the file is in use on the sharer's computer
    case 52:  // max downloads per user
      return DownloadReason::SharerBusy;
    case 14:
    case 25:
    case 32:
      return DownloadReason::NoLongerShared;
    default:
      break;
  }
  const bool tokenRefused = peerCode == 5 || peerCode == 10 || (peerCode >= 15 && peerCode <= 19) ||
                            (peerCode >= 26 && peerCode <= 30) || (peerCode >= 43 && peerCode <= 49);
  // A link from before the sharer's last login carries a token it cannot read.
  if (tokenRefused && canRenewLink) return DownloadReason::LinkExpired;
  return DownloadReason::None;  // the peer's own words say it
}

// Flushes the finished ".part" file and gives it its real name; 0 or errno.
int finishPart(const std::string& part, const std::string& target) {
  {
    UniqueFd fd(::open(part.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return errno;
    if (::fsync(fd.get()) != 0) return errno;
  }
  if (::rename(part.c_str(), target.c_str()) != 0) return errno;
  UniqueFd folder(::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.get());
  return 0;
}

int64_t sizeOf(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

}  // namespace

DownloadManager::DownloadManager(SettingsStore& settings, DownloadPrompts& prompts, TimerService* timers,
                                 int clientVersion)
    : m_settings(settings), m_prompts(prompts), m_timers(timers), m_clientVersion(clientVersion) {}

DownloadManager::~DownloadManager() {
  if (m_hasTimer && m_timers != nullptr) m_timers->cancel(m_tickTimer);
  m_closing = true;
  std::map<int32_t, std::jthread> workers;
  {
    std::scoped_lock lock(m_mutex);
    for (auto& record : m_records) record->stopRequest = 1;
    for (auto& record : m_removed) record->stopRequest = 1;
    workers.swap(m_workers);
  }
  // The jthreads join here, before the records they use go away. The list
  // file keeps the states from before this stop: what ran runs again.
}

void DownloadManager::refreshLimit() {
  int32_t limit = m_settings.GetSettingNumber("maxsimdl");
  // A missing value (-1) would let nothing ever start; it gets the default as 0 does.
  if (limit < 1) {
    limit = kDefaultLimit;
    m_settings.SetSettingNumber("maxsimdl", limit);
  }
  m_limit = limit;
}

void DownloadManager::firstUse() {
  std::call_once(m_started, [this] {
    refreshLimit();
    if (m_timers != nullptr) {
      m_tickTimer = m_timers->schedule(std::chrono::milliseconds(1000), [this] { tick(); });
      m_hasTimer = true;
    }
  });
}

int32_t DownloadManager::QueueDownload(const std::string& url, const std::string& localPath, int64_t expectedSize,
                                       DownloadSource source) {
  firstUse();
  DownloadRecord* record = nullptr;
  {
    std::scoped_lock lock(m_mutex);
    m_records.push_back(std::make_unique<DownloadRecord>(++m_nextId, url, localPath, expectedSize, source));
    record = m_records.back().get();
  }
  persist();
  for (const auto& listener : listeners()) listener(record->id, download_event::kAdded, "");
  if (m_running < m_limit && launch(*record)) ++m_running;
  return record->id;
}

int32_t DownloadManager::downloadFile(const FileEntry& file, const std::string& directory) {
  const std::string name = safeComponent(file.name);
  if (name.empty()) return -1;
  return QueueDownload(file.url, directory + name, file.size, DownloadSource{file.id, file.ownerId, file.online != 0});
}

int DownloadManager::DownloadDirectory(const DirectoryEntry& directory, const std::string& destination, bool recursive,
                                       CatalogueCache& cache, ProtocolContext& ctx, int* queued) {
  std::shared_ptr<DirectoryEntry> cached = cache.directory(directory.id);
  if (cached == nullptr || cached->children.empty()) {
    const int rc = cache.FetchListing(ctx, ListingKind::Directory, directory.id);
    cached = cache.directory(directory.id);
    if (cached == nullptr || cached->children.empty()) return rc;
  }
  for (const auto& child : cached->children) {
    if (child->type == EntryType::File) {
      if (downloadFile(static_cast<const FileEntry&>(*child), destination) >= 0 && queued != nullptr) ++*queued;
    } else if (child->type == EntryType::Directory && recursive) {
      const std::string name = safeComponent(child->name);
      if (name.empty()) continue;
      DownloadDirectory(static_cast<const DirectoryEntry&>(*child), destination + name + "/", true, cache, ctx, queued);
    }
  }
  return 0;
}

void DownloadManager::stop(int32_t id) {
  DownloadRecord* record = recordFor(id);
  if (record == nullptr) return;
  // Only a download that runs or waits to run can be stopped. The request of a
  // record that has ended would outlive it: nothing resets it until a run ends,
  // so its next start would stop at the first piece.
  const DownloadState state = record->currentState();
  if (state == DownloadState::Downloading || state == DownloadState::Queued) record->stopRequest = 1;
  // A download waiting to be tried again is stopped where it stands.
  if (record->retryAtMs != 0 && (state == DownloadState::Error || state == DownloadState::Refused)) {
    record->retryAtMs = 0;
    record->setState(DownloadState::Stopped);
    record->setReason(DownloadReason::None);
    persist();
  }
}

bool DownloadManager::start(int32_t id) {
  firstUse();
  DownloadRecord* record = recordFor(id);
  if (record == nullptr) return false;
  // Started by the person: a fresh count of waits.
  record->retryAtMs = 0;
  record->retryWaitMs = 0;
  if (!launch(*record)) return false;
  persist();
  return true;
}

int32_t DownloadManager::runningCount() const {
  std::scoped_lock lock(m_mutex);
  return static_cast<int32_t>(std::count_if(m_records.begin(), m_records.end(), [](const auto& r) {
    return r->currentState() == DownloadState::Downloading;
  }));
}

int32_t DownloadManager::totalRate() const {
  std::scoped_lock lock(m_mutex);
  int64_t rate = 0;
  for (const auto& r : m_records) {
    if (r->currentState() == DownloadState::Downloading) rate += r->rate;
  }
  return static_cast<int32_t>(std::min<int64_t>(rate, INT32_MAX));
}

std::optional<DownloadInfo> DownloadManager::find(int32_t id) const {
  DownloadRecord* record = recordFor(id);
  if (record == nullptr) return std::nullopt;
  return record->info();
}

std::vector<DownloadInfo> DownloadManager::downloads() const {
  std::scoped_lock lock(m_mutex);
  std::vector<DownloadInfo> out;
  out.reserve(m_records.size());
  for (const auto& record : m_records) out.push_back(record->info());
  return out;
}

int DownloadManager::registerListener(DownloadListener listener) {
  std::scoped_lock lock(m_mutex);
  m_listeners.emplace_back(++m_nextListener, std::move(listener));
  return m_nextListener;
}

void DownloadManager::unregisterListener(int handle) {
  std::scoped_lock lock(m_mutex);
  std::erase_if(m_listeners, [handle](const auto& entry) { return entry.first == handle; });
}

bool DownloadManager::remove(int32_t id, bool deletePartial) {
  DownloadRecord* record = nullptr;
  {
    std::scoped_lock lock(m_mutex);
    const auto it = std::find_if(m_records.begin(), m_records.end(), [id](const auto& r) { return r->id == id; });
    if (it == m_records.end()) return false;
    // Kept aside, not freed: its worker may still be reading or asking.
    record = it->get();
    record->deletePartial = deletePartial;
    record->stopRequest = 1;
    m_removed.push_back(std::move(*it));
    m_records.erase(it);
  }
  persist();
  for (const auto& listener : listeners()) listener(id, download_event::kRemoved, "");
  // A running download deletes its partial file itself once it has let go of
  // it (its worker may be waiting for the person, who may be this caller, so
  // it is not waited for here); one that does not run loses it now.
  if (deletePartial && record->currentState() != DownloadState::Downloading) {
    ::unlink(partPath(record->localPath()).c_str());
  }
  return true;
}

void DownloadManager::setLimit(int32_t limit) {
  firstUse();
  m_settings.SetSettingNumber("maxsimdl", limit);
  m_limit = limit;
}

void DownloadManager::setLinkSource(LinkSource source) {
  std::scoped_lock lock(m_mutex);
  m_linkSource = std::move(source);
}

void DownloadManager::setRetryWaits(std::chrono::milliseconds first, std::chrono::milliseconds longest) {
  m_firstRetryMs = first.count();
  m_longestRetryMs = longest.count();
}

void DownloadManager::sharerSeenOnline(int32_t ownerId) {
  if (ownerId == 0) return;
  std::scoped_lock lock(m_mutex);
  for (const auto& record : m_records) {
    if (record->ownerId != ownerId || record->retryAtMs == 0) continue;
    const DownloadReason reason = record->currentReason();
    if (reason == DownloadReason::SharerOffline || reason == DownloadReason::ConnectionLost ||
        reason == DownloadReason::LinkExpired) {
      record->retryAtMs = 1;  // due at once
    }
  }
}

void DownloadManager::tick() {
  refreshLimit();
  std::vector<DownloadRecord*> records;
  {
    std::scoped_lock lock(m_mutex);
    for (const auto& record : m_records) records.push_back(record.get());
  }
  // Downloads whose wait is over go back into the queue, where the limit applies.
  const int64_t now = steadyNowMs();
  for (DownloadRecord* record : records) {
    const int64_t at = record->retryAtMs;
    if (at == 0 || at > now) continue;
    const DownloadState state = record->currentState();
    if (state != DownloadState::Error && state != DownloadState::Refused) continue;
    int32_t seen = static_cast<int32_t>(state);
    if (record->state.compare_exchange_strong(seen, static_cast<int32_t>(DownloadState::Queued))) record->retryAtMs = 0;
  }
  // Counted apart from the listeners: with no view registered the count must
  // still see the running downloads, or the tick would start past the limit.
  int32_t running = 0;
  int32_t rate = 0;
  for (DownloadRecord* record : records) {
    if (record->currentState() == DownloadState::Downloading) {
      ++running;
      rate += record->rate;
    }
  }
  m_running = running;
  m_totalRate = rate;
  for (const auto& listener : listeners()) {
    for (DownloadRecord* record : records) listener(record->id, download_event::kChanged, "");
  }
  for (DownloadRecord* record : records) {
    if (m_running >= m_limit) break;
    if (record->currentState() != DownloadState::Queued) continue;
    if (launch(*record)) ++m_running;
  }
  persist();
}

DownloadRecord* DownloadManager::recordFor(int32_t id) const {
  std::scoped_lock lock(m_mutex);
  for (const auto& record : m_records) {
    if (record->id == id) return record.get();
  }
  return nullptr;
}

std::vector<DownloadListener> DownloadManager::listeners() const {
  std::scoped_lock lock(m_mutex);
  std::vector<DownloadListener> out;
  for (const auto& [handle, listener] : m_listeners) out.push_back(listener);
  return out;
}

bool DownloadManager::launch(DownloadRecord& record) {
  // Claimed before the thread exists, so that a tick and a start racing for
  // the same record cannot both launch it.
  int32_t seen = record.state.load();
  do {
    if (seen == static_cast<int32_t>(DownloadState::Downloading)) return false;
  } while (!record.state.compare_exchange_weak(seen, static_cast<int32_t>(DownloadState::Downloading)));
  std::scoped_lock lock(m_mutex);
  auto& slot = m_workers[record.id];
  // A record is only launched again after its last run set its final state;
  // that thread is at its end.
  if (slot.joinable()) slot.join();
  slot = std::jthread([this, &record] { RunDownload(record); });
  return true;
}

void DownloadManager::fail(DownloadRecord& record, DownloadState state, DownloadReason reason, std::string detail) {
  record.rate = 0;
  record.setReason(reason, std::move(detail));
  if (reasonRetries(reason)) {
    // 30 s, 1 min, 2 min … up to 10 min between tries.
    const int64_t last = record.retryWaitMs;
    const int64_t wait = last <= 0 ? m_firstRetryMs.load() : std::min<int64_t>(last * 2, m_longestRetryMs);
    record.retryWaitMs = wait;
    record.retryAtMs = steadyNowMs() + wait;
  } else {
    record.retryAtMs = 0;
  }
  record.setState(state);
}

void DownloadManager::RunDownload(DownloadRecord& record) {
  record.setState(DownloadState::Downloading);
  record.options = 0;
  record.rate = 0;
  record.peerCode = 0;
  record.retryAtMs = 0;
  record.setReason(DownloadReason::None);
  record.setPeerErrorText({});
  const auto finish = [&] {
    record.stopRequest = 0;
    if (record.deletePartial) ::unlink(partPath(record.localPath()).c_str());
    persist();
  };

  // A catalogue file gets a fresh link: the sharer may have logged in again
  // (a new token, maybe a new address) since the last one was made.
  LinkSource linkSource;
  {
    std::scoped_lock lock(m_mutex);
    linkSource = m_linkSource;
  }
  if (record.catalogueFileId != 0 && linkSource) {
    const FileLink link = linkSource(record.catalogueFileId);
    if (link.code == FileLink::kNotFound) {
      record.resultCode = link.code;
      fail(record, DownloadState::Error, DownloadReason::NoLongerShared);
      return finish();
    }
    if (link.code == 0) {
      record.sharerOnline = link.online;
      if (link.ownerId != 0) record.ownerId = link.ownerId;
      if (!link.url.empty()) record.setUrl(link.url);
    }
    // Without an answer (the server is out of reach) the old link is tried.
  }
  if (record.url().empty()) {
    // The catalogue gives no link to a group's files to someone who is not a
    // member, and none while the sharer is away.
    record.resultCode = get::kBadUrlOrStatus;
    fail(record, DownloadState::Error,
         record.sharerOnline ? DownloadReason::MembersOnly : DownloadReason::SharerOffline);
    return finish();
  }

  std::error_code ec;
  const std::filesystem::path target(record.localPath());
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  if (ec) {
    record.resultCode = get::kNoLength + 1;
    fail(record, DownloadState::Error, reasonForErrno(ec.value()), folderOf(record.localPath()));
    return finish();
  }

  // Which bytes are there already. A ".part" file is this download's own (or
  // an earlier one's of the same name): it is taken up without asking. A file
  // under the real name is the person's: nothing touches it unless they say
  // so, and they are asked again for every target that exists (a new
  // destination may hold the file too; a folder choice they cancel leaves the
  // question open).
  std::unique_lock prompt(m_promptMutex, std::defer_lock);
  while (!std::filesystem::exists(partPath(record.localPath()), ec) &&
         std::filesystem::exists(record.localPath(), ec)) {
    if (!prompt.owns_lock()) {
      prompt.lock();
      m_prompts.showMainWindow();
    }
    FileExistsPrompt question;
    question.fileName = record.fileName();
    const FileExistsChoice choice = m_prompts.fileExists(question);
    // Removed or stopped while the question was open: nothing is touched.
    if (record.stopRequest != 0 || choice == FileExistsChoice::CancelTransfer) {
      record.setState(DownloadState::Stopped);
      return finish();
    }
    if (choice == FileExistsChoice::Overwrite) {
      record.options |= download_option::kOverwrite;
      break;
    }
    if (choice == FileExistsChoice::Resume) {
      // The file becomes the partial file it is, and gets its name back once complete.
      if (::rename(record.localPath().c_str(), partPath(record.localPath()).c_str()) != 0) {
        record.resultCode = get::kNoLength + 1;
        fail(record, DownloadState::Error, reasonForErrno(errno), folderOf(record.localPath()));
        return finish();
      }
      break;
    }
    if (const auto folder = m_prompts.chooseFolder()) {
      std::string dir = *folder;
      if (!dir.empty() && dir.back() != '/') dir += '/';
      record.setLocalPath(dir + record.fileName());
      std::filesystem::create_directories(dir, ec);
    }
  }
  if (prompt.owns_lock()) prompt.unlock();
  const std::string path = record.localPath();
  const std::string part = partPath(path);

  // The partial file is opened here first, so that a folder that takes no
  // files is named as such rather than as a failed transfer.
  {
    UniqueFd probe(::open(part.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!probe) {
      record.resultCode = get::kNoLength + 1;
      fail(record, DownloadState::Error, reasonForErrno(errno), folderOf(path));
      return finish();
    }
  }
  const int64_t present = std::max<int64_t>(0, sizeOf(part));
  if (present > 0) {
    record.options |= download_option::kResume;
    record.setResumeAt(present);
    record.setBytesPresent(present);
  } else {
    // A fresh start: counts left from an earlier run would spoil the completion check.
    record.setResumeAt(0);
    record.setBytesPresent(0);
  }
  std::string url = record.url();
  std::replace(url.begin(), url.end(), ' ', '+');
  RecordTarget sink(record);
  ClientRequest request(nullptr, m_clientVersion);
  request.setSourceAddress(m_settings.GetSettingText(kSourceAddressSetting));
  int rc = request.GetFile(url, part, sink);
  if (rc == get::kOk && sink.length() >= 0 && sink.bodyBytes() < sink.length()) rc = kShortBody;
  // Complete means the file holds exactly what was resumed from plus what
  // came, and that is the size the catalogue listed.
  DownloadReason sizeProblem = DownloadReason::None;
  if (rc == get::kOk) {
    const int64_t onDisk = sizeOf(part);
    if (onDisk != record.bytesPresent) {
      rc = kShortBody;
    } else if (record.fileSize > 0 && onDisk != record.fileSize) {
      sizeProblem = DownloadReason::SizeMismatch;
    }
  }

  record.resultCode = rc;
  record.rate = 0;
  if (rc == get::kOk && sizeProblem == DownloadReason::None) {
    if (const int error = finishPart(part, path); error != 0) {
      fail(record, DownloadState::Error, reasonForErrno(error), folderOf(path));
    } else {
      record.retryWaitMs = 0;
      record.setState(DownloadState::Completed);
    }
  } else if (rc == get::kOk) {
    fail(record, DownloadState::Error, sizeProblem);
  } else if (rc == kPeerRefused) {
    fail(record, DownloadState::Refused, reasonForRefusal(record.peerCode, record.catalogueFileId != 0));
  } else if (rc == kStoppedByRequest) {
    record.setState(DownloadState::Stopped);
  } else if (rc == get::kConnectFailed) {
    fail(record, DownloadState::Error, DownloadReason::SharerOffline);
  } else if (rc == get::kNoLength + get::kWrongTypeOrWrite) {
    fail(record, DownloadState::Error, reasonForWriteFailure(folderOf(path)), folderOf(path));
  } else if (rc == get::kNoLength + 1) {
    fail(record, DownloadState::Error, reasonForWriteFailure(folderOf(path)), folderOf(path));
  } else if (rc == get::kBadUrlOrStatus || rc == get::kSendOrReceive || rc == kShortBody ||
             rc == get::kNoLength + get::kBadUrlOrStatus) {
    fail(record, DownloadState::Error, DownloadReason::ConnectionLost);
  } else {
    fail(record, DownloadState::Error, DownloadReason::Other);
  }
  finish();
}

void DownloadManager::openList(const std::string& path) {
  {
    std::scoped_lock lock(m_saveMutex);
    if (path == m_listPath) return;
    m_listPath.clear();  // nothing is written while the old list is read
  }
  removeLeftoverTemporaries(path);
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<SavedDownload> saved;
  if (in && !decodeDownloadList(text, saved)) saved.clear();
  firstUse();
  std::vector<int32_t> added;
  {
    std::scoped_lock lock(m_mutex);
    for (const SavedDownload& d : saved) {
      auto record = std::make_unique<DownloadRecord>(++m_nextId, d.url, d.localPath, d.expectedSize,
                                                     DownloadSource{d.fileId, d.ownerId, true});
      // The bytes on disk count, not the ones the list last heard of.
      const int64_t part = sizeOf(partPath(d.localPath));
      record->setBytesPresent(d.state == DownloadState::Completed ? d.bytesPresent : std::max<int64_t>(0, part));
      switch (d.state) {
        case DownloadState::Queued:
        case DownloadState::Downloading:
          record->setState(DownloadState::Queued);
          break;
        case DownloadState::Stopped:
        case DownloadState::Completed:
          record->setState(d.state);
          break;
        case DownloadState::Error:
        case DownloadState::Refused:
          record->setState(d.state);
          record->setReason(d.reason);
          // Things may have changed while the program was not running: tried at once.
          if (reasonRetries(d.reason)) record->retryAtMs = 1;
          break;
      }
      added.push_back(record->id);
      m_records.push_back(std::move(record));
    }
  }
  {
    std::scoped_lock lock(m_saveMutex);
    m_listPath = path;
    m_savedKey.clear();
  }
  persist();
  for (const auto& listener : listeners()) {
    for (int32_t id : added) listener(id, download_event::kAdded, "");
  }
}

void DownloadManager::persist() {
  std::scoped_lock save(m_saveMutex);
  if (m_listPath.empty() || m_closing) return;
  std::vector<SavedDownload> list;
  {
    std::scoped_lock lock(m_mutex);
    for (const auto& record : m_records) {
      SavedDownload d;
      d.state = record->currentState();
      d.reason = record->currentReason();
      d.fileId = record->catalogueFileId;
      d.ownerId = record->ownerId;
      d.expectedSize = record->fileSize;
      d.url = record->url();
      d.localPath = record->localPath();
      list.push_back(std::move(d));
    }
  }
  // Byte counts alone are no reason to write: a restart reads them from the
  // partial files. They are written with the next change of anything else.
  std::string key = encodeDownloadList(list);
  if (key == m_savedKey) return;
  {
    std::scoped_lock lock(m_mutex);
    for (std::size_t i = 0; i < list.size() && i < m_records.size(); ++i) {
      if (m_records[i]->localPath() == list[i].localPath) list[i].bytesPresent = m_records[i]->bytesPresent;
    }
  }
  const std::string text = encodeDownloadList(list);
  if (replaceFileDurably(m_listPath, text).empty()) {
    m_savedKey = std::move(key);
  }
}

}  // namespace vantrel
