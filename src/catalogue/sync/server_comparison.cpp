// SPDX-License-Identifier: MIT
#include "catalogue/sync/server_comparison.h"

#include "catalogue/sync/sync_dialog.h"
#include "protocol/shared_file_requests.h"

namespace vantrel {

VerificationResult VerificationPass(SharedFileList& list, ProtocolContext& ctx, const std::function<void()>& onMissing) {
  VerificationResult result;
  if (!ctx.state.Connected()) return result;
  for (CVantreldFile record : list.snapshot()) {
    const CVantreldFile before = record;
    // A missing record counts as verified; whether its file is back at its
    // path is asked of a copy that is valid.
    record.isValid = true;
    if (record.Verify()) {
      // Only a record whose file changed, or came back, is written back.
      if (!before.isValid || record.fileSize != before.fileSize || record.creationTime != before.creationTime ||
          record.fileName != before.fileName) {
        list.Update(record.fileId, [&](CVantreldFile& listed) {
          listed.fileSize = record.fileSize;
          listed.creationTime = record.creationTime;
          listed.fileName = record.fileName;
          listed.isValid = true;
        });
      }
      if (!before.isValid) result.found.push_back(record.fileId);
      continue;
    }
    if (!before.isValid) continue;
    ctx.logText("File ID " + std::to_string(record.fileId) + " path " + record.localPath + " failed to verify", 3);
    list.Update(record.fileId, [](CVantreldFile& listed) { listed.isValid = false; });
    result.missing.push_back(record.fileId);
  }
  if (result.missing.empty()) return result;
  ctx.logText("Some files have been moved or deleted", 1);
  if (onMissing) onMissing();
  return result;
}

ComparisonResult CompareWithServer(SharedFileList& list, ProtocolContext& ctx, int32_t serverChecksum, bool ask,
                                   SyncDialogView* view) {
  ComparisonResult result;
  ctx.logText("Comparing shared file IDs with server", 2);
  if (!ctx.state.Connected()) {
    ctx.logText("Not connected to server", 2);
    return result;
  }
  if (list.RecomputeChecksum() == serverChecksum) {
    ctx.logText("Checksums match ok", 2);
    return result;
  }
  const std::optional<FileIdSet> server = GetFileIds(ctx);
  if (!server) {
    ctx.logText("Could not get list of files being shared", 1);
    return result;
  }
  result.compared = true;
  for (const int32_t id : *server) {
    if (list.Contains(id)) continue;
    ctx.logText("File ID " + std::to_string(id) + " does not exist on client", 2);
    result.onlyOnServer.push_back(id);
  }
  if (!result.onlyOnServer.empty()) {
    ctx.logText("File IDs mismatch removing files", 1);
    RemoveFiles(ctx, result.onlyOnServer, nullptr);
  }
  list.forEach([&](const CVantreldFile& record) {
    if (!record.isValid || server->count(record.fileId) != 0) return;
    ctx.logText("File ID: " + std::to_string(record.fileId) + " Name: " + record.localPath + " does not exist on server",
                2);
    result.onlyOnClient.push_back(record);
  });
  if (!result.onlyOnClient.empty()) {
    ctx.logText("File IDs mismatch removing files from client", 1);
    if (ask && view != nullptr) view->showSyncDialog(result.onlyOnClient);
  }
  if (!result.onlyOnServer.empty() || !result.onlyOnClient.empty()) {
    ctx.logText("Checksums did not match files removed", 2);
  }
  return result;
}

}  // namespace vantrel
