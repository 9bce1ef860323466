// SPDX-License-Identifier: MIT
#pragma once
// Sharing local files and folder trees into the user's personal group: the
// group is created on first use (under the first category of the catalogue)
// and its ID kept under the user's key as "personalgroup", so later runs
// share into the same group. Runs on the caller's thread; the context and the
// list must outlive the call.

#include <string>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "protocol/protocol_context.h"

namespace vantrel {

namespace personal {
inline constexpr int kNoCategory = 230;  // the catalogue lists no category to create the group in
}  // namespace personal

// 0 or the first error code; what was shared before an error stays shared.
// Paths already shared (the path or anything below it is listed) are left out.
int SharePersonal(ProtocolContext& ctx, SharedFileList& list, const std::vector<std::string>& paths);

// Paths as a person typed them (relative, with a trailing "/") made absolute
// and plain, as the list keeps them.
std::vector<std::string> absoluteSharePaths(const std::vector<std::string>& typed);

// The name of the personal group of `user`.
std::string personalGroupName(const std::string& user);

}  // namespace vantrel
