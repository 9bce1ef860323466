// SPDX-License-Identifier: MIT
#pragma once
// The "sendfile" upload: a multipart form whose "files" part replaces the
// content of a shared file. Only the shared file's own path and its backup
// copy are ever written, whatever name the form gives; the new content goes to
// a temporary file beside it that replaces the file only when the upload
// ended at its closing boundary; the old content is kept as a backup copy
// only then. An upload that fails leaves no temporary file and no backup. Runs
// on the connection's thread.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "fileserver/request_params.h"
#include "fileserver/request_reader.h"

namespace vantrel {

namespace upload {
inline constexpr int kOk = 0;
inline constexpr int kEndWithoutReply = -1;  // malformed form: the request just ends
inline constexpr int kTooLong = 8;  // announced or sent beyond what the disk can take
inline constexpr int kNoFileId = 39;
inline constexpr int kBadFileId = 40;
inline constexpr int kFileNotShared = 41;
inline constexpr int kCannotCreate = 50;
inline constexpr int kWriteFailed = 51;
}  // namespace upload

// The file name of a part header line naming the "files" field, "" when the
// line names another field or no usable file name.
std::string uploadFileName(const std::string& partHeaderLine);

// The backup path of a shared file at `when` (local time): the path with
// ".%I-%M-%S%p %m-%d-%y" before its extension ("song.03-07-09PM 12-10-26.mp3"),
// and " (counter)" after the time when `counter` is above 1.
std::string uploadBackupPath(const std::string& path, std::time_t when, int counter = 1);

// Copies the file's content to a new backup path of `when` with the file's
// permission bits, taking the first counter whose name is free: an existing
// file is never overwritten. 0 when done or when there is no file to keep
// (`backupPath`, when given, then names the copy), else the errno.
int backupBeforeReplace(const std::string& path, std::time_t when, std::string* backupPath);

// Where an upload is written before it replaces the file: ".NAME.upload-XXXXXX.tmp"
// beside it (for mkstemps). Hidden and temporary, so no folder share takes it.
inline constexpr std::string_view kUploadTempInfix = ".upload-";
inline constexpr std::string_view kUploadTempSuffix = ".tmp";
std::string uploadTempPattern(const std::string& path);
// True for a name uploadTempPattern makes.
bool isUploadTemp(std::string_view name);
// Removes what uploads that never finished (the program was killed) left in
// the folders of the shared files, the older "NAME.upload-XXXXXX" form too.
// Call before the file server runs. Returns how many were removed.
int removeStaleUploads(const SharedFileList& list);

// The least room an upload keeps free beside itself; the margin grows with
// the upload's length up to UploadLimits::freeSpaceMargin.
inline constexpr uint64_t kMinFreeSpaceMargin = 1ULL << 20;

// How much an upload may take and how slowly it may come.
struct UploadLimits {
  // Kept free on the shared file's file system, besides the upload itself,
  // for the largest uploads; smaller ones keep their own length free (at
  // least kMinFreeSpaceMargin).
  uint64_t freeSpaceMargin = 64ULL << 20;
  // Each window must bring at least minBytesPerWindow (or the end of the
  // upload): a sender that trickles is cut off like an idle one.
  std::chrono::milliseconds idleWindow{10'000};
  std::size_t minBytesPerWindow = 1024;
};

// Reads the form body from `fd` (the header block is already read) and
// replaces the shared file named by the query's "fileid". A Content-length
// that cannot fit the file system's free space (less the margin) is refused
// with upload::kTooLong before anything is written, and so is a body that
// grows past it. Returns an upload:: code; on success `fileId` is the file's ID.
int receiveUpload(int fd, const std::vector<HeaderLine>& headers, const RequestParams& params,
                  SharedFileList& list, int32_t& fileId, const UploadLimits& limits = {});

}  // namespace vantrel
