// SPDX-License-Identifier: MIT
#include "catalogue/vantreld_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <climits>

#include "core/archive.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

// Objects of an embedded array, written as an always-empty list; anything that
// does stand there is read and dropped so that the record after it still parses.
void skipObjectArray(ArchiveReader& in) {
  const uint32_t count = in.readCount(2);
  for (uint32_t i = 0; i < count && in.ok(); ++i) in.readObject();
}

}  // namespace

void CVantreldFile::store(ArchiveWriter& out) const {
  out.writeString(fileName);
  out.writeString(localPath);
  out.writeString(description);
  out.writeI32(creationTime);
  out.writeI32(fileSize);
  out.writeI32(fileId);
  out.writeI32(groupId);
  out.writeString(groupName);
  out.writeString(groupDirPath);
  out.writeI32(downloadCount);
  out.writeI32(dirId);
  out.writeCount(0);
}

void CVantreldFile::load(ArchiveReader& in) {
  fileName = in.readString();
  localPath = in.readString();
  description = in.readString();
  creationTime = in.readI32();
  fileSize = in.readI32();
  fileId = in.readI32();
  groupId = in.readI32();
  groupName = in.readString();
  groupDirPath = in.readString();
  downloadCount = in.readI32();
  if (m_legacyLayout) {
    dirId = -1;
  } else {
    dirId = in.readI32();
    skipObjectArray(in);
  }
  isValid = true;
}

bool CVantreldFile::Verify() {
  if (!isValid) return true;
  // Only a regular file is a shared file: a pipe, socket or device would give
  // a peer nothing (or hang it), and opening a device can do things. The type
  // is checked before the open, and again on what was opened.
  struct statx info {};
  if (::statx(AT_FDCWD, localPath.c_str(), 0, STATX_TYPE, &info) != 0 || !S_ISREG(info.stx_mode)) {
    isValid = false;
    return false;
  }
  UniqueFd fd(::open(localPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd || ::statx(fd.get(), "", AT_EMPTY_PATH, STATX_SIZE | STATX_BTIME | STATX_MTIME | STATX_TYPE, &info) != 0 ||
      !S_ISREG(info.stx_mode)) {
    isValid = false;
    return false;
  }
  fileSize = info.stx_size > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(info.stx_size);
  const auto& born = (info.stx_mask & STATX_BTIME) != 0 ? info.stx_btime : info.stx_mtime;
  creationTime = static_cast<int32_t>(born.tv_sec);
  const std::size_t slash = localPath.rfind('/');
  fileName = slash == std::string::npos ? localPath : localPath.substr(slash + 1);
  return true;
}

}  // namespace vantrel
