// SPDX-License-Identifier: MIT
#include "fileserver/commands/upload_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <optional>

#include "net/socket_io.h"
#include "platform/unique_fd.h"

namespace vantrel {

namespace {

constexpr std::size_t kLineBytes = 1000;
constexpr std::size_t kContentLineBytes = 4000;
constexpr std::size_t kMaxBoundary = 998;
constexpr std::size_t kMaxPartHeaderBytes = 3000;
constexpr int kWaitSeconds = 2;
constexpr int kMaxBackupCounter = 1000;
// Longest Content-length read as a number; the free space decides the rest.
constexpr long long kMaxAnnouncedLength = 1LL << 60;

bool contains(const std::string& text, const char* what) {
  const std::size_t n = std::strlen(what);
  if (text.size() < n) return false;
  for (std::size_t i = 0; i + n <= text.size(); ++i) {
    if (::strncasecmp(text.c_str() + i, what, n) == 0) return true;
  }
  return false;
}

bool parseId(const std::string& text, int32_t& out) {
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

// Streams the content up to the closing boundary into `out`, at most `budget`
// bytes. Returns upload::kOk, kTooLong past the budget, kWriteFailed when a
// write failed, the upload ended early or came too slowly.
int copyContent(int fd, int out, const std::string& boundary, uint64_t budget, const UploadLimits& limits) {
  using Clock = std::chrono::steady_clock;
  bool heldCrLf = false;
  uint64_t written = 0;
  auto windowEnd = Clock::now() + limits.idleWindow;
  std::size_t windowBytes = 0;
  for (;;) {
    const auto now = Clock::now();
    if (now >= windowEnd) {
      if (windowBytes < limits.minBytesPerWindow) return upload::kWriteFailed;
      windowEnd = now + limits.idleWindow;
      windowBytes = 0;
    }
    // A line waits at most to the window's end, so that one endless line
    // cannot outlast it; a quiet spell of the usual wait ends the upload.
    const auto lineDeadline = std::max(windowEnd, now + std::chrono::seconds(kWaitSeconds));
    std::string line;
    const std::size_t n = readLine(fd, line, kContentLineBytes, kWaitSeconds, lineDeadline);
    if (n == 0) return upload::kWriteFailed;
    windowBytes += n;
    if (line.size() >= 3 && line.compare(0, boundary.size(), boundary) == 0) return upload::kOk;
    if (heldCrLf && !writeAll(out, "\r\n")) return upload::kWriteFailed;
    heldCrLf = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
    if (heldCrLf) line.resize(line.size() - 2);
    written += line.size() + (heldCrLf ? 2 : 0);
    if (written > budget) return upload::kTooLong;
    if (!writeAll(out, line)) return upload::kWriteFailed;
  }
}

// Bytes that may still be written beside `path`, keeping `margin` free.
uint64_t spaceFor(const std::string& path, uint64_t margin) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) != 0) return 0;
  const uint64_t available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  return available > margin ? available - margin : 0;
}

}  // namespace

std::string uploadTempPattern(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + std::string(kUploadTempInfix) + "XXXXXX" + std::string(kUploadTempSuffix);
}

bool isUploadTemp(std::string_view name) {
  const std::size_t infix = name.rfind(kUploadTempInfix);
  return name.size() > 1 && name.front() == '.' && infix != std::string_view::npos &&
         name.size() == infix + kUploadTempInfix.size() + 6 + kUploadTempSuffix.size() &&
         name.substr(name.size() - kUploadTempSuffix.size()) == kUploadTempSuffix;
}

int removeStaleUploads(const SharedFileList& list) {
  std::set<std::string> folders;
  std::set<std::string> oldStyle;  // "NAME.upload-XXXXXX" beside the file, as earlier versions left them
  list.forEach([&](const CVantreldFile& record) {
    const std::size_t slash = record.localPath.rfind('/');
    if (slash == std::string::npos) return;
    folders.insert(record.localPath.substr(0, slash + 1));
    oldStyle.insert(record.localPath + ".upload-");
  });
  int removed = 0;
  for (const std::string& folder : folders) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      const std::string full = it->path().string();
      const bool old = full.size() > 6 && oldStyle.count(full.substr(0, full.size() - 6)) > 0;
      if (!isUploadTemp(name) && !old) continue;
      std::error_code type;
      if (!it->is_regular_file(type) || it->is_symlink(type)) continue;
      if (::unlink(full.c_str()) == 0) ++removed;
    }
  }
  return removed;
}

std::string uploadFileName(const std::string& line) {
  if (!contains(line, "name=files") && !contains(line, "name=\"files\"")) return {};
  std::size_t at = std::string::npos;
  for (std::size_t i = 0; i + 9 <= line.size(); ++i) {
    if (::strncasecmp(line.c_str() + i, "filename=", 9) == 0) {
      at = i + 9;
      break;
    }
  }
  if (at == std::string::npos) return {};
  std::string name = line.substr(at, line.find(';', at) == std::string::npos ? std::string::npos
                                                                             : line.find(';', at) - at);
  const auto strip = [](char c) { return c == ' ' || c == '"' || c == '\r' || c == '\n' || c == '\t'; };
  while (!name.empty() && strip(name.back())) name.pop_back();
  std::size_t first = 0;
  while (first < name.size() && strip(name[first])) ++first;
  name = name.substr(first);
  std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) slash = name.rfind('\\');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  return name;
}

std::string uploadBackupPath(const std::string& path, std::time_t when, int counter) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, ".%I-%M-%S%p %m-%d-%y", &local);
  // The extension stays last so that the backup still opens with the program
  // that opens the file; a leading dot names a hidden file, not an extension.
  const std::size_t nameStart = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
  const std::size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > nameStart;
  std::string backup = hasExtension ? path.substr(0, dot) : path;
  backup += stamp;
  if (counter > 1) backup += " (" + std::to_string(counter) + ")";
  if (hasExtension) backup += path.substr(dot);
  return backup;
}

int backupBeforeReplace(const std::string& path, std::time_t when, std::string* backupPath) {
  UniqueFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return errno == ENOENT ? 0 : errno;
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return errno;
  // O_EXCL: an earlier backup of the same second is never overwritten; the
  // next free counter is taken instead.
  UniqueFd out;
  std::string candidate;
  for (int counter = 1; counter <= kMaxBackupCounter && !out; ++counter) {
    candidate = uploadBackupPath(path, when, counter);
    const int created = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (created < 0 && errno != EEXIST) return errno;
    out = UniqueFd(created);
  }
  if (!out) return EEXIST;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !writeAll(out.get(), std::string_view(buffer, static_cast<std::size_t>(n))))) {
      const int error = n < 0 ? errno : EIO;
      ::unlink(candidate.c_str());
      return error;
    }
    if (n == 0) break;
  }
  if (::fsync(out.get()) != 0) {
    const int error = errno;
    ::unlink(candidate.c_str());
    return error;
  }
  if (backupPath != nullptr) *backupPath = candidate;
  return 0;
}

int receiveUpload(int fd, const std::vector<HeaderLine>& headers, const RequestParams& params, SharedFileList& list,
                  int32_t& fileId, const UploadLimits& limits) {
  std::optional<long long> announced;
  for (const HeaderLine& h : headers) {
    if (::strcasecmp(h.name.c_str(), "Content-type") == 0 && !contains(h.value, "multipart/form-data")) {
      return upload::kEndWithoutReply;
    }
    if (::strcasecmp(h.name.c_str(), "Content-length") == 0) {
      announced = contentLengthOf("Content-length: " + h.value, kMaxAnnouncedLength);
      if (*announced < 0) return upload::kTooLong;
    }
  }
  std::string boundary;
  if (readLine(fd, boundary, kLineBytes + 1, kWaitSeconds) == 0) return upload::kEndWithoutReply;
  trimLineEnd(boundary);
  if (boundary.size() > kMaxBoundary || boundary.empty()) return upload::kEndWithoutReply;

  std::size_t headerBytes = 0;
  for (;;) {
    std::string line;
    if (readLine(fd, line, kLineBytes, kWaitSeconds) == 0) return upload::kEndWithoutReply;
    headerBytes += line.size();
    if (headerBytes > kMaxPartHeaderBytes * 4) return upload::kEndWithoutReply;
    const bool filesPart = contains(line, "name=files") || contains(line, "name=\"files\"");
    if (filesPart) {
      const std::string name = uploadFileName(line);
      if (name.empty()) return upload::kEndWithoutReply;
      break;
    }
    std::string trimmed = line;
    trimLineEnd(trimmed);
    if (trimmed == boundary + "--") return upload::kEndWithoutReply;
  }
  // The rest of the part's headers.
  for (;;) {
    std::string line;
    if (readLine(fd, line, kLineBytes, kWaitSeconds) == 0) return upload::kEndWithoutReply;
    if (withoutLineEnd(line).empty()) break;
  }

  const std::string* idText = params.first("fileid");
  if (idText == nullptr) return upload::kNoFileId;
  int32_t id = 0;
  if (!parseId(*idText, id)) return upload::kBadFileId;
  const std::optional<CVantreldFile> record = list.Lookup(id);
  if (!record) return upload::kFileNotShared;
  const std::string& path = record->localPath;

  // The body holds the form around the file too, so the file is a little
  // smaller than the announced length: comparing the whole length is safe.
  // The room kept free grows with the upload (a small file needs little),
  // from kMinFreeSpaceMargin up to the limit's margin.
  const uint64_t margin =
      announced ? std::clamp<uint64_t>(static_cast<uint64_t>(*announced), kMinFreeSpaceMargin,
                                       std::max(limits.freeSpaceMargin, kMinFreeSpaceMargin))
                : limits.freeSpaceMargin;
  const uint64_t budget = spaceFor(path, margin);
  if (announced && static_cast<uint64_t>(*announced) > budget) return upload::kTooLong;

  // A hidden, temporary name beside the file (the rename must stay on its
  // file system): a folder share skips it, and a start after a crash
  // removes it (removeStaleUploads).
  std::string temp = uploadTempPattern(path);
  UniqueFd out(::mkstemps(temp.data(), static_cast<int>(kUploadTempSuffix.size())));
  if (!out) return upload::kCannotCreate;
  int rc = copyContent(fd, out.get(), boundary, announced ? static_cast<uint64_t>(*announced) : budget, limits);
  if (rc == upload::kOk && ::fsync(out.get()) != 0) rc = upload::kWriteFailed;
  if (rc == upload::kOk) {
    // The replaced file keeps its permission bits (mkstemp made the new content
    // 0600), and its old content survives as a backup, taken only now so that
    // a failed upload leaves none; without a backup the file is not replaced.
    struct stat original {};
    if (::stat(path.c_str(), &original) == 0) ::fchmod(out.get(), original.st_mode & 07777);
    std::string backup;
    if (backupBeforeReplace(path, std::time(nullptr), &backup) != 0) {
      rc = upload::kCannotCreate;
    } else if (::rename(temp.c_str(), path.c_str()) != 0) {
      ::unlink(backup.c_str());
      rc = upload::kWriteFailed;
    }
  }
  if (rc != upload::kOk) {
    ::unlink(temp.c_str());
    return rc;
  }
  CVantreldFile refreshed = *record;
  if (refreshed.Verify()) {
    list.Update(id, [&](CVantreldFile& listed) {
      listed.fileSize = refreshed.fileSize;
      listed.creationTime = refreshed.creationTime;
    });
  }
  fileId = id;
  return upload::kOk;
}

}  // namespace vantrel
