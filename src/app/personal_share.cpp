// SPDX-License-Identifier: MIT
#include "app/personal_share.h"

#include <cstdlib>

#include "catalogue/share_run.h"
#include "core/error_table.h"
#include "protocol/catalogue_listing.h"
#include "protocol/catalogue_requests.h"

namespace vantrel {
namespace {

constexpr const char* kGroupValue = "personalgroup";

// The category to hold the group: the first that lists groups, else the first.
int findCategory(ProtocolContext& ctx, int32_t& categoryId) {
  std::string reply;
  // A listing answers 500 ("result=0") when it succeeds.
  const int code = GetListing(ctx, ListingKind::Category, 0, reply);
  if (code != err::kServerResultBase) return code;
  categoryId = 0;
  for (const auto& entry : ParseListing(reply)) {
    if (entry->type != EntryType::Category) continue;
    const auto& category = static_cast<const CategoryEntry&>(*entry);
    if (categoryId == 0) categoryId = category.id;
    if (category.hasGroups) {
      categoryId = category.id;
      break;
    }
  }
  return categoryId == 0 ? personal::kNoCategory : 0;
}

// True when the path, or something below it, is in the list already: starting
// the client again with the same --share must not register the files twice.
bool alreadyShared(const SharedFileList& list, const std::string& path) {
  const std::string below = path + "/";
  bool found = false;
  list.forEach([&](const CVantreldFile& file) {
    if (file.localPath == path || file.localPath.compare(0, below.size(), below) == 0) found = true;
  });
  return found;
}

}  // namespace

std::string personalGroupName(const std::string& user) { return user + "-files"; }

int SharePersonal(ProtocolContext& ctx, SharedFileList& list, const std::vector<std::string>& requested) {
  std::vector<std::string> paths;
  for (const std::string& path : requested) {
    if (!alreadyShared(list, path)) paths.push_back(path);
  }
  if (paths.empty()) return 0;
  const std::string user = ctx.state.UserName();
  int32_t groupId = static_cast<int32_t>(std::strtol(ctx.settings.GetUserText(user, kGroupValue).c_str(), nullptr, 10));
  if (groupId <= 0) {
    int32_t categoryId = 0;
    if (const int code = findCategory(ctx, categoryId); code != 0) return code;
    GroupEntry group;
    group.name = personalGroupName(user);
    group.personal = true;
    group.description = "Files shared by " + user;
    if (const int code = CreateGroup(ctx, group, categoryId); code != 0) return code;
    groupId = group.id;
    ctx.settings.SetUserText(user, kGroupValue, std::to_string(groupId));
  }
  ShareRun run(ctx, list);
  ShareDestination to;
  to.groupId = groupId;
  to.groupName = personalGroupName(user);
  to.dirId = groupId;  // a group is also the top directory of its tree
  return run.ShareLocalPaths(paths, to);
}

}  // namespace vantrel
