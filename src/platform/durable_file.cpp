// SPDX-License-Identifier: MIT
#include "platform/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/unique_fd.h"

namespace vantrel {
namespace {

std::string describe(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string replaceFileDurably(const std::string& path, std::span<const uint8_t> bytes, FileAccess access) {
  std::vector<char> name(path.begin(), path.end());
  const char suffix[] = ".tmp-XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);  // with the terminating zero
  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd) return describe("cannot create a temporary file", errno);
  const std::string temporary(name.data());
  const auto fail = [&](const char* what) {
    const int error = errno;
    fd.reset();
    ::unlink(temporary.c_str());
    return describe(what, error);
  };
  // mkostemp made the file 0600 whatever the umask; a private file keeps the
  // owner's bits of the one it replaces. Where the mode cannot be set the
  // file stays 0600, which still lets its owner read it.
  struct stat old {};
  switch (access) {
    case FileAccess::kPrivate:
      if (::stat(path.c_str(), &old) == 0) ::fchmod(fd.get(), old.st_mode & 0700);
      break;
    case FileAccess::kReadableByAll:
      ::fchmod(fd.get(), 0644);
      break;
  }
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return fail("cannot write");
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0) return fail("cannot flush");
  if (::close(fd.release()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return describe("cannot close", error);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return describe("cannot rename", error);
  }
  UniqueFd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.get());
  return {};
}

std::string replaceFileDurably(const std::string& path, std::string_view text, FileAccess access) {
  return replaceFileDurably(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), access);
}

int removeLeftoverTemporaries(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = folderOf(path);
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp-";
  constexpr std::size_t kUniquePart = 6;  // the XXXXXX of mkostemp
  const std::time_t old = std::time(nullptr) - 60;
  int removed = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() != prefix.size() + kUniquePart || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string full = folder + "/" + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_mtime > old) continue;
    if (::unlink(full.c_str()) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace vantrel
