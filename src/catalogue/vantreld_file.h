// SPDX-License-Identifier: MIT
#pragma once
// CVantreldFile: one shared file of the user's list, as the archive stores it
// (class "CVantreldFile", schema 1). A plain value: copies are snapshots that a
// reader may keep while the list changes. Not thread-safe by itself; the
// SharedFileList guards the records it holds.

#include <cstdint>
#include <string>

#include "core/archive_object.h"

namespace vantrel {

class CVantreldFile : public ArchiveObject {
 public:
  static constexpr ArchiveClass kArchiveClass{"CVantreldFile", 1};

  CVantreldFile() = default;
  explicit CVantreldFile(std::string path) : localPath(std::move(path)) {}

  std::string localPath;
  std::string fileName;
  std::string groupName;
  std::string groupDirPath;
  std::string description;
  int32_t creationTime = 0;  // seconds since 1970, UTC
  int32_t fileSize = 0;      // at the last verification; larger files read as INT32_MAX
  int32_t groupId = -1;
  int32_t fileId = -1;
  int32_t dirId = -1;
  // False while the file is missing (it did not open at the last check). Not
  // stored: every loaded record starts valid and the first check marks it again.
  bool isValid = true;
  int32_t downloadCount = 0;

  // Opens the file: refreshes size, creation time and name and returns true;
  // marks the record invalid and returns false when it cannot be opened or is
  // no regular file (a pipe, socket, device or folder). An
  // invalid record is left alone and counts as verified.
  bool Verify();

  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override;
  void load(ArchiveReader& in) override;

  // Records of the older archive layout end after the download count.
  void setLegacyLayout(bool legacy) { m_legacyLayout = legacy; }

 private:
  bool m_legacyLayout = false;
};

}  // namespace vantrel
