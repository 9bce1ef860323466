// SPDX-License-Identifier: MIT
#pragma once
// Keeping the shared-file list and the central server's copy of it aligned:
// the verification pass that drops shared files which no longer open, and the
// comparison of the list with the server's IDs when the checksums differ.
//
// Both run on whichever thread calls them and change the list only through its
// locked operations. The list, context and views must outlive the call.

#include <cstdint>
#include <functional>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "protocol/protocol_context.h"

namespace vantrel {

// Shows the records the server has no record of (the "Files Missing" dialog,
// modal). Called on the comparing thread.
class SyncDialogView;

struct VerificationResult {
  std::vector<int32_t> removed;  // IDs of files that no longer open
  int removeCode = 0;            // RemoveFiles' code when any were removed
};

// Verifies every record; those that fail are removed from the list and, in one
// request, from the server. `onMissing` (optional) queues the tray notice.
// Nothing happens while not connected.
VerificationResult VerificationPass(SharedFileList& list, ProtocolContext& ctx,
                                    const std::function<void()>& onMissing = {});

struct ComparisonResult {
  bool compared = false;                   // the ID sets were fetched and compared
  std::vector<int32_t> onlyOnServer;       // removed on the server
  std::vector<CVantreldFile> onlyOnClient;  // valid records the server lacks
};

// With `ask`, records that the server lacks go to the view's dialog (when a
// view is given); without, they are only logged.
ComparisonResult CompareWithServer(SharedFileList& list, ProtocolContext& ctx, int32_t serverChecksum, bool ask,
                                   SyncDialogView* view = nullptr);

}  // namespace vantrel
