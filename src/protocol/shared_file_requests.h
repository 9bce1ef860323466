// SPDX-License-Identifier: MIT
#pragma once
// The requests that keep the server's list of this client's shared files in
// step with the local one: register files in a catalogue directory, unregister
// them, and fetch the IDs the server holds. Any thread; each request makes its
// own connection through a ServerChannel.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

#include "net/client_request.h"
#include "protocol/protocol_context.h"

namespace vantrel {

namespace files {
inline constexpr int kEmptyField = 207;    // a reply field without a value
inline constexpr int kZeroFileId = 208;    // the server gave file ID 0
inline constexpr int kBadFileId = 209;     // a file ID that is not a positive number
inline constexpr std::size_t kMaxSentName = 128;
}  // namespace files

// The name as the server keeps it: at most files::kMaxSentName bytes. A longer
// name is shortened before its extension, so "....txt" stays a .txt, and never
// inside a UTF-8 character.
std::string listedFileName(std::string_view name);

// One file to register: its name without directory, its size, and the ID the
// server gives it (0 until then).
struct FileRegistration {
  std::string fileName;
  int64_t size = 0;
  int32_t fileId = 0;
};

// "action=add_file" for the files into directory `directoryId`; on success every
// file's ID is set, except those the server refused (a "partly done" reply),
// which keep theirs at 0. A transport failure is retried once; a "not logged
// in" reply logs in again and repeats the request once.
int AddFiles(ProtocolContext& ctx, std::span<FileRegistration> files, int32_t directoryId,
             const ClientRequest::Progress* progress);

// The body AddFiles sends.
std::string addFilesBody(std::span<const FileRegistration> files, int32_t directoryId);

// "action=remove_file" for the IDs; 0 on success.
int RemoveFiles(ProtocolContext& ctx, std::span<const int32_t> fileIds, const ClientRequest::Progress* progress);

using FileIdSet = std::unordered_set<int32_t>;

// "action=get_fileids": the IDs the server holds for this client; nothing on
// any failure.
std::optional<FileIdSet> GetFileIds(ProtocolContext& ctx);

// The reading of a "get_fileids" reply; `log` (optional) gets the count mismatch.
std::optional<FileIdSet> parseFileIds(std::string_view reply, const ProtocolContext* log = nullptr);

// Reads the "fileid" pairs of an "add_file" reply into the files: 0, 207, 208 or 209.
int readAddedIds(std::string_view reply, std::span<FileRegistration> files);

}  // namespace vantrel
