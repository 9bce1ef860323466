// SPDX-License-Identifier: MIT
#include "platform/file_status.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

std::string errorText(int err) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not live in buf.
  const char* s = ::strerror_r(err, buf, sizeof buf);
  return s != nullptr ? std::string(s) : std::string();
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

OpenFailure classifyOpenError(int err) {
  OpenFailure f;
  f.error = err;
  f.text = errorText(err);
  switch (err) {
    case 0:
      return OpenFailure{};
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ELOOP:
    case ENAMETOOLONG:
      f.kind = OpenFailureKind::InvalidFile;
      break;
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY:
      f.kind = OpenFailureKind::InUse;
      break;
    default:
      f.kind = OpenFailureKind::Other;
      break;
  }
  return f;
}

bool isTemporaryName(std::string_view path) {
  size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.empty()) return false;
  return endsWith(name, ".part") || endsWith(name, ".crdownload") || endsWith(name, ".tmp") ||
         endsWith(name, "~") || name.substr(0, 7) == ".~lock.";
}

OpenFailure statFile(const std::string& path, FileStatus& out) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME, &sx) == 0) {
    out.size = static_cast<int64_t>(sx.stx_size);
    out.modifiedTime = sx.stx_mtime.tv_sec;
    out.birthTime = (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime.tv_sec : out.modifiedTime;
    out.isDirectory = S_ISDIR(sx.stx_mode);
  } else if (errno == ENOSYS || errno == EPERM) {
    // Old kernels and some sandboxes have no statx.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return classifyOpenError(errno);
    out.size = static_cast<int64_t>(st.st_size);
    out.modifiedTime = st.st_mtim.tv_sec;
    out.birthTime = out.modifiedTime;
    out.isDirectory = S_ISDIR(st.st_mode);
  } else {
    return classifyOpenError(errno);
  }
  out.isTemporary = isTemporaryName(path);
  return OpenFailure{};
}

OpenFailure openFile(const std::string& path, int flags, UniqueFd& out, bool exclusive, unsigned createMode) {
  // O_NONBLOCK keeps open() from waiting for a FIFO's other end; it is cleared
  // again once the file is known to be a regular one.
  // Truncation waits until the lock is ours, so that a file another process
  // holds is never emptied under it.
  const bool truncate = (flags & O_TRUNC) != 0;
  UniqueFd fd(::open(path.c_str(), (flags & ~O_TRUNC) | O_CLOEXEC | O_NONBLOCK, static_cast<mode_t>(createMode)));
  if (!fd) return classifyOpenError(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return classifyOpenError(errno);
  if (S_ISDIR(st.st_mode)) return classifyOpenError(EISDIR);
  if (!S_ISREG(st.st_mode)) {
    OpenFailure f = classifyOpenError(EINVAL);
    f.kind = OpenFailureKind::InvalidFile;
    return f;
  }
  int fl = ::fcntl(fd.get(), F_GETFL);
  if (fl < 0 || ::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0) return classifyOpenError(errno);
  if (::flock(fd.get(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int err = errno;
    OpenFailure f = classifyOpenError(err);
    if (err == EWOULDBLOCK) f.kind = OpenFailureKind::InUse;
    return f;
  }
  if (truncate && ::ftruncate(fd.get(), 0) != 0) return classifyOpenError(errno);
  out = std::move(fd);
  return OpenFailure{};
}

}  // namespace vantrel
