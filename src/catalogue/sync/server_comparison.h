// SPDX-License-Identifier: MIT
#pragma once
// Keeping the shared-file list and the central server's copy of it aligned:
// the verification pass that marks shared files which no longer open as
// missing, and the comparison of the list with the server's IDs when the
// checksums differ.
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
  std::vector<int32_t> missing;  // IDs of files that stopped opening in this pass
  std::vector<int32_t> found;    // IDs of missing files that open at their path again
};

// Verifies every record. One that fails is marked missing: it stays in the
// list and on the server under its ID, is not served, and waits for the person
// to find it again ("Missing Files..") or stop sharing it. A missing file that
// opens at its path again is shared again as it was. `onMissing` (optional)
// queues the tray notice when files went missing in this pass. Nothing happens
// while not connected.
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
