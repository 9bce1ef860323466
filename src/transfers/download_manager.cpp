// SPDX-License-Identifier: MIT
#include "transfers/download_manager.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "net/client_request.h"
#include "protocol/catalogue_cache.h"

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
  void peerError(const std::string& line) override { m_record.setPeerErrorText(peerErrorMessage(line)); }
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

}  // namespace

DownloadManager::DownloadManager(SettingsStore& settings, DownloadPrompts& prompts, TimerService* timers,
                                 int clientVersion)
    : m_settings(settings), m_prompts(prompts), m_timers(timers), m_clientVersion(clientVersion) {}

DownloadManager::~DownloadManager() {
  if (m_hasTimer && m_timers != nullptr) m_timers->cancel(m_tickTimer);
  std::map<int32_t, std::jthread> workers;
  {
    std::scoped_lock lock(m_mutex);
    for (auto& record : m_records) record->stopRequest = 1;
    for (auto& record : m_removed) record->stopRequest = 1;
    workers.swap(m_workers);
  }
  // The jthreads join here, before the records they use go away.
}

void DownloadManager::firstUse() {
  std::call_once(m_started, [this] {
    int32_t limit = m_settings.GetSettingNumber("maxsimdl");
    // A missing value (-1) would let nothing ever start; it gets the default as 0 does.
    if (limit < 1) {
      limit = kDefaultLimit;
      m_settings.SetSettingNumber("maxsimdl", limit);
    }
    m_limit = limit;
    if (m_timers != nullptr) {
      m_tickTimer = m_timers->schedule(std::chrono::milliseconds(1000), [this] { tick(); });
      m_hasTimer = true;
    }
  });
}

int32_t DownloadManager::QueueDownload(const std::string& url, const std::string& localPath, int64_t expectedSize) {
  firstUse();
  DownloadRecord* record = nullptr;
  {
    std::scoped_lock lock(m_mutex);
    m_records.push_back(std::make_unique<DownloadRecord>(++m_nextId, url, localPath, expectedSize));
    record = m_records.back().get();
  }
  for (const auto& listener : listeners()) listener(record->id, download_event::kAdded, "");
  if (m_running < m_limit && launch(*record)) ++m_running;
  return record->id;
}

int32_t DownloadManager::downloadFile(const FileEntry& file, const std::string& directory) {
  const std::string name = safeComponent(file.name);
  if (name.empty()) return -1;
  return QueueDownload(file.url, directory + name, file.size);
}

int DownloadManager::DownloadDirectory(const DirectoryEntry& directory, const std::string& destination, bool recursive,
                                       CatalogueCache& cache, ProtocolContext& ctx) {
  std::shared_ptr<DirectoryEntry> cached = cache.directory(directory.id);
  if (cached == nullptr || cached->children.empty()) {
    const int rc = cache.FetchListing(ctx, ListingKind::Directory, directory.id);
    cached = cache.directory(directory.id);
    if (cached == nullptr || cached->children.empty()) return rc;
  }
  for (const auto& child : cached->children) {
    if (child->type == EntryType::File) {
      downloadFile(static_cast<const FileEntry&>(*child), destination);
    } else if (child->type == EntryType::Directory && recursive) {
      const std::string name = safeComponent(child->name);
      if (name.empty()) continue;
      DownloadDirectory(static_cast<const DirectoryEntry&>(*child), destination + name + "/", true, cache, ctx);
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
}

bool DownloadManager::start(int32_t id) {
  firstUse();
  DownloadRecord* record = recordFor(id);
  return record != nullptr && launch(*record);
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

bool DownloadManager::remove(int32_t id) {
  {
    std::scoped_lock lock(m_mutex);
    const auto it = std::find_if(m_records.begin(), m_records.end(), [id](const auto& r) { return r->id == id; });
    if (it == m_records.end()) return false;
    // Kept aside, not freed: its worker may still be reading or asking.
    (*it)->stopRequest = 1;
    m_removed.push_back(std::move(*it));
    m_records.erase(it);
  }
  for (const auto& listener : listeners()) listener(id, download_event::kRemoved, "");
  return true;
}

void DownloadManager::setLimit(int32_t limit) {
  firstUse();
  m_settings.SetSettingNumber("maxsimdl", limit);
  m_limit = limit;
}

void DownloadManager::tick() {
  std::vector<DownloadRecord*> records;
  {
    std::scoped_lock lock(m_mutex);
    for (const auto& record : m_records) records.push_back(record.get());
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

void DownloadManager::RunDownload(DownloadRecord& record) {
  record.setState(DownloadState::Downloading);
  record.options = 0;
  record.rate = 0;
  std::error_code ec;
  const std::filesystem::path target(record.localPath());
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);

  // Asked again for every target that exists: a new destination may hold the
  // file too, and a folder choice the person cancels leaves the question open.
  // Nothing is overwritten unless the person says so.
  if (std::filesystem::exists(record.localPath(), ec)) {
    std::scoped_lock prompt(m_promptMutex);
    m_prompts.showMainWindow();
    bool decided = false;
    while (!decided && std::filesystem::exists(record.localPath(), ec)) {
      FileExistsPrompt question;
      question.fileName = record.fileName();
      switch (m_prompts.fileExists(question)) {
        case FileExistsChoice::Overwrite:
          record.options |= download_option::kOverwrite;
          decided = true;
          break;
        case FileExistsChoice::Resume: {
          const auto size = std::filesystem::file_size(record.localPath(), ec);
          const int64_t present = ec ? 0 : static_cast<int64_t>(size);
          record.options |= download_option::kResume;
          record.setResumeAt(present);
          // The bytes present are the file's; a count left from an earlier run
          // of this record is already inside them.
          record.setBytesPresent(present);
          decided = true;
          break;
        }
        case FileExistsChoice::ChangeDestination:
          if (const auto folder = m_prompts.chooseFolder()) {
            std::string dir = *folder;
            if (!dir.empty() && dir.back() != '/') dir += '/';
            record.setLocalPath(dir + record.fileName());
            std::filesystem::create_directories(dir, ec);
          }
          break;
        case FileExistsChoice::CancelTransfer:
          record.setState(DownloadState::Stopped);
          return;
      }
      // Removed or stopped while the question was open: nothing is touched.
      if (record.stopRequest != 0) {
        record.stopRequest = 0;
        record.setState(DownloadState::Stopped);
        return;
      }
    }
  }

  if ((record.options & download_option::kResume) == 0) {
    // A fresh start: counts left from an earlier run would spoil the completion check.
    record.setResumeAt(0);
    record.setBytesPresent(0);
  }
  std::string url = record.url();
  std::replace(url.begin(), url.end(), ' ', '+');
  RecordTarget sink(record);
  ClientRequest request(nullptr, m_clientVersion);
  int rc = request.GetFile(url, record.localPath(), sink);
  if (rc == get::kOk && sink.length() >= 0 && sink.bodyBytes() < sink.length()) rc = kShortBody;
  // Complete means the file holds exactly what was resumed from plus what came:
  // a body appended anywhere else is not a finished download.
  if (rc == get::kOk) {
    const auto onDisk = std::filesystem::file_size(record.localPath(), ec);
    if (ec || static_cast<int64_t>(onDisk) != record.bytesPresent) rc = kShortBody;
  }

  record.resultCode = rc;
  record.rate = 0;
  if (rc == get::kOk) {
    record.setState(DownloadState::Completed);
  } else if (rc == kPeerRefused) {
    record.setState(DownloadState::Refused);
  } else if (rc == kStoppedByRequest) {
    record.setState(DownloadState::Stopped);
  } else {
    record.setState(DownloadState::Error);
  }
  record.stopRequest = 0;
}

}  // namespace vantrel
