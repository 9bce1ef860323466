// SPDX-License-Identifier: MIT
// The download commands of a connection: getfile with ranges and pacing,
// getfileinfo and images.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "catalogue/shared_file_list.h"
#include "core/error_table.h"
#include "core/log.h"
#include "fileserver/byte_range.h"
#include "fileserver/file_server.h"
#include "fileserver/file_server_connection.h"
#include "fileserver/http_header.h"
#include "fileserver/transfer_pacer.h"
#include "net/socket_io.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

constexpr int kBadRequest = 400;
constexpr int kUnauthorized = 401;
constexpr int kNotFound = 404;
constexpr int kServerError = 500;
constexpr int kBadGateway = 502;
constexpr std::size_t kDownloadHeaderBuffer = 300;
constexpr std::size_t kImageHeaderBuffer = 200;
constexpr std::size_t kMaxUserName = 31;
constexpr std::size_t kMaxRequestText = 99;
// The traffic counters and the process-wide limit see every transfer in
// pieces of at most this, however much one system call sends.
constexpr int64_t kCountedPiece = TransferPacer::kSmallPiece;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void sleepMs(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Holds partial segments back while a large transfer is handed to the socket,
// so that the header goes out with the first bytes of the file and every
// segment after it is full; the last one leaves when the transfer ends.
class CorkedSocket {
 public:
  CorkedSocket(int socket, bool cork) : m_socket(cork ? socket : -1) { set(1); }
  ~CorkedSocket() { set(0); }
  CorkedSocket(const CorkedSocket&) = delete;
  CorkedSocket& operator=(const CorkedSocket&) = delete;

 private:
  void set(int on) {
    if (m_socket >= 0) ::setsockopt(m_socket, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
  }
  int m_socket;
};

// A file ID as the requests carry it: a number, where text that reads as 0 is
// only accepted when it is exactly "0".
std::optional<int32_t> parseFileId(const std::string& text) {
  const int32_t id = std::atoi(text.c_str());
  if (id == 0 && text != "0") return std::nullopt;
  return id;
}

enum class OpenFailure { None, Invalid, InUse, Other };

OpenFailure classifyOpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return OpenFailure::Invalid;
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY:
      return OpenFailure::InUse;
    default:
      return OpenFailure::Other;
  }
}

bool isSharedPath(const std::string& target, SharedFileList& files) {
  const std::string name = target.substr(target.rfind('/') + 1);
  bool found = false;
  files.forEach([&](const CVantreldFile& r) {
    if (found || r.fileName != name) return;
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::canonical(r.localPath, ec);
    // The record itself must not be a link: two links would vouch for each other.
    struct stat st {};
    found = !ec && canonical.string() == target && ::lstat(r.localPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode);
  });
  return found;
}

// Opens a shared file without following a link in its place. A link is
// served only when it names a file that is shared itself (a link inside a
// shared folder to another of its files); a shared file replaced by a link
// to anything else is not opened (ELOOP, an invalid file).
UniqueFd openShared(const std::string& path, SharedFileList& files) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  UniqueFd fd(::open(path.c_str(), kFlags | O_NOFOLLOW));
  if (fd || errno != ELOOP) return fd;
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(path, ec);
  if (ec || !isSharedPath(target.string(), files)) {
    errno = ELOOP;
    return UniqueFd();
  }
  return UniqueFd(::open(target.c_str(), kFlags | O_NOFOLLOW));
}

// Sends `length` bytes of `file` from `offset` in one piece (fewer when the
// socket takes fewer); -1 on failure.
long sendFilePiece(int socket, int file, int64_t offset, int64_t length) {
  off_t at = static_cast<off_t>(offset);
  for (;;) {
    const ssize_t n = ::sendfile(socket, file, &at, static_cast<std::size_t>(length));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<long>(n);
  }
}

// sendfile() has no MSG_NOSIGNAL: a send to a peer that has hung up raises
// SIGPIPE, which ends the whole process unless its main() ignores the signal.
// While a transfer runs its thread blocks SIGPIPE and, before unblocking, takes
// back the one its own sends raised, so that a closed peer is only a failed send.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&m_pipe);
    sigaddset(&m_pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &m_pipe, &m_before);
  }
  ~SigpipeBlock() {
    // Already blocked before: a pending SIGPIPE is not ours to take.
    if (!sigismember(&m_before, SIGPIPE)) {
      sigset_t pending;
      sigemptyset(&pending);
      if (::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
        const timespec now{};
        ::sigtimedwait(&m_pipe, nullptr, &now);
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t m_pipe{};
  sigset_t m_before{};
};

}  // namespace

void FileServerConnection::getFile() {
  FileServerHost& host = m_server.host();
  Log* log = host.log();
  const std::string* idText = m_params.first("fileid");
  if (idText == nullptr) {
    sendError(err::kNoFileId, kBadRequest);
    return;
  }
  const auto fileId = parseFileId(*idText);
  if (!fileId) {
    sendError(err::kMalformedFileId, kBadRequest);
    return;
  }
  m_session->fileId = *fileId;
  std::string userName = m_params.firstOr("username", "unknown");
  if (userName.size() > kMaxUserName) userName.resize(kMaxUserName);
  m_session->setUserName(userName);

  const auto record = m_server.files().Lookup(*fileId);
  if (!record) {
    sendError(err::kFileNotShared, kNotFound);
    host.compareWithServer();
    return;
  }
  if (const int code = downloadTokenRefusal(record->groupId); code != err::kOk) {
    sendError(code, kUnauthorized);
    return;
  }
  // A missing file is not served, even when something else now has its path:
  // the person has to find it again first.
  if (!record->isValid) {
    sendError(err::kFileVanished, kNotFound);
    return;
  }
  std::string requestText = "Get File - " + record->fileName;
  if (requestText.size() > kMaxRequestText) requestText.resize(kMaxRequestText);
  m_session->setRequest(requestText);

  // This computer's own downloads (the person's pages) never take a peer's
  // slot, and peers' downloads never keep this computer out.
  const bool local = isLocalRequester(addresses());
  if (!local && host.activeUploads() - m_server.localUploads().load() >= host.maxUsers()) {
    sendError(err::kTooManyUsers, kBadGateway);
    return;
  }
  if (host.uploadsFromAddress(m_requester) > 0) {
    sendError(err::kMaxDownloadsPerUser, kBadGateway);
    return;
  }

  // O_NONBLOCK: a shared path that has become a pipe must not hang the thread.
  UniqueFd file = openShared(record->localPath, m_server.files());
  struct stat info {};
  int openError = file ? 0 : errno;
  if (file && ::fstat(file.get(), &info) != 0) openError = errno;
  if (openError == 0 && !S_ISREG(info.st_mode)) openError = EISDIR;
  // A file another program holds locked for writing is in use.
  if (openError == 0 && ::flock(file.get(), LOCK_SH | LOCK_NB) != 0) openError = errno;
  if (openError != 0) {
    const std::string reason = std::strerror(openError);
    if (log != nullptr) log->logError(reason, m_requester, record->localPath, 2);
    switch (classifyOpenError(openError)) {
      case OpenFailure::Invalid:
        sendError(err::kFileVanished, kNotFound);
        host.verifySharedFiles();
        break;
      case OpenFailure::InUse:
        sendError(err::kFileInUse, kNotFound);
        break;
      case OpenFailure::None:
      case OpenFailure::Other:
        sendErrorWithMessage(err::kSystemError, reason, kServerError);
        break;
    }
    return;
  }

  host.uploadStarted();
  if (local) ++m_server.localUploads();
  struct LocalCount {
    std::atomic<int>* count;
    ~LocalCount() {
      if (count != nullptr) --*count;
    }
  } const localCount{local ? &m_server.localUploads() : nullptr};
  const int64_t fileSize = info.st_size;
  const std::string* rangeHeader = m_params.first("Range");
  const ByteRange range =
      parseRange(rangeHeader ? std::optional<std::string_view>(*rangeHeader) : std::nullopt, fileSize);

  std::string header;
  if (buildHeader(header, kDownloadHeaderBuffer, range.status(), host.clientVersion(), std::time(nullptr)) != kHeaderOk) {
    sendError(err::kDownloadHeaderTooLong, kServerError);
    host.uploadEnded();
    return;
  }
  header += "Content-type: " + std::string(contentTypeFor(record->fileName)) + "\r\n";
  header += "Last-modified: " + formatLastModified(info.st_mtime) + "\r\n";
  header += "Content-length: " + std::to_string(range.length()) + "\r\n";
  if (range.kind != ByteRange::Kind::Whole) header += "Content-Range: " + range.contentRange() + "\r\n";
  header += "\r\n";
  const int64_t length = range.length();
  // The limits are for other computers: this computer's own downloads go out
  // unpaced. A remote one goes out in pieces sized to the lower of its limits,
  // so that a low limit stays smooth and a high one costs few system calls.
  const int rate = local ? 0 : host.maxUserBand();
  const int band = local ? 0 : host.maxBand();
  const int64_t pieceRate = rate > 0 && band > 0 ? std::min(rate, band) : std::max(rate, band);
  const int buffer = sendBufferSize(socket());
  const int64_t chunk = TransferPacer::pieceFor(pieceRate, buffer);
  const CorkedSocket corked(socket(), chunk > kCountedPiece && length > kCountedPiece);
  const bool headerSent = sendBytes(socket(), header.data(), header.size()) == static_cast<long>(header.size());
  if (range.kind == ByteRange::Kind::Unsatisfiable) {
    // Nothing to transfer: not a download for the counters.
    file.reset();
    drain(socket());
    host.uploadEnded();
    return;
  }

  int64_t sent = 0;
  // A reader that takes nothing for a while (one that stopped reading) ends
  // its download and frees the slot.
  setSocketTimeouts(socket(), m_server.stalledDownloadLimit());
  if (headerSent && length > 0) {
    TransferPacer pacer(rate, chunk, nowMs, sleepMs);
    const SigpipeBlock quietSends;
    int64_t offset = range.first;
    while (sent < length) {
      pacer.beforeChunk();
      const int64_t piece = std::min(chunk, length - sent);
      // One wait for the whole piece: its bytes go out together anyway, and a
      // sleep for each counted part would cost a wake-up every few of them at
      // high limits. The waits run on one schedule, so the last is the longest.
      int64_t wait = 0;
      for (int64_t counted = 0; counted < piece; counted += kCountedPiece) {
        wait = std::max(wait, host.countSent(static_cast<uint32_t>(std::min(kCountedPiece, piece - counted)), m_requester));
      }
      sleepMs(wait);
      int64_t pieceSent = 0;
      while (pieceSent < piece) {
        const long n = sendFilePiece(socket(), file.get(), offset + pieceSent, piece - pieceSent);
        if (n <= 0) break;
        pieceSent += n;
      }
      sent += pieceSent;
      offset += pieceSent;
      m_session->bytesSent = sent;
      pacer.sent(pieceSent);
      m_session->speed = static_cast<int32_t>(std::min<int64_t>(pacer.speed(), INT32_MAX));
      if (range.size > 0) m_session->percentage = static_cast<int32_t>(sent * 100 / range.size);
      if (pieceSent < piece || !m_session->active) break;
    }
  }

  host.fileSent();
  m_server.files().Update(*fileId, [](CVantreldFile& r) { ++r.downloadCount; });
  const auto listed = m_server.files().Lookup(*fileId);
  RecentUpload entry{*fileId, listed ? listed->groupName : "", listed ? listed->fileName : "", userName, "",
                     std::time(nullptr)};
  const bool finished = sent == length;
  if (finished) {
    if (log != nullptr) {
      log->logText("Finished sending file " + record->fileName + ", length " + std::to_string(length), 1);
    }
    entry.result = "Success";
  } else {
    if (log != nullptr) {
      log->logError("Did not finish sending file, stopped at " + std::to_string(sent), m_requester, "", 2);
    }
    entry.result = "Did not finish";
  }
  m_server.recentUploads().add(std::move(entry));
  if (host.contestEnabled()) host.awardTransfer(static_cast<int>(sent / 1000), finished ? 1 : 0, m_requester);
  file.reset();
  drain(socket());
  host.uploadEnded();
}

void FileServerConnection::getFileInfo() {
  FileServerHost& host = m_server.host();
  const std::string* idText = m_params.first("fileid");
  if (idText == nullptr) {
    sendError(err::kInfoNoFileId, kStatusOk);
    return;
  }
  const auto fileId = parseFileId(*idText);
  if (!fileId) {
    sendError(err::kInfoMalformedFileId, kStatusOk);
    return;
  }
  m_session->fileId = *fileId;
  const auto record = m_server.files().Lookup(*fileId);
  if (!record) {
    sendError(err::kInfoFileNotShared, kStatusOk);
    host.compareWithServer();
    return;
  }
  if (const int code = downloadTokenRefusal(record->groupId); code != err::kOk) {
    sendError(code, kStatusOk);
    return;
  }
  m_resource = "client-file_info_template.html";
  sendTemplate(kStatusOk);
}

void FileServerConnection::sendImage() {
  FileServerHost& host = m_server.host();
  Log* log = host.log();
  const std::span<const uint8_t> bytes = m_server.renderer().image(m_resource);
  std::string reply;
  if (buildHeader(reply, kImageHeaderBuffer, kStatusOk, host.clientVersion(), std::time(nullptr)) != kHeaderOk) {
    sendError(err::kImageHeaderTooLong, kStatusOk);
    return;
  }
  reply += "Content-type: " + std::string(contentTypeFor(m_resource)) + "\r\n";
  reply += "Content-length: " + std::to_string(bytes.size()) + "\r\n\r\n";
  if (bytes.empty()) {
    if (log != nullptr) log->logError("Graphic " + m_resource + " does not exist", m_requester, "", 2);
    sendInPieces(socket(), reply);
  } else {
    const std::string size = std::to_string(bytes.size());
    if (log != nullptr) log->logActivity("Sending graphic " + m_resource + ", length " + size, m_requester, 2);
    reply.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    sendInPieces(socket(), reply);
    if (log != nullptr) log->logActivity("Finished sending graphic " + m_resource + ", length " + size, m_requester, 2);
  }
  drain(socket());
}

}  // namespace vantrel
