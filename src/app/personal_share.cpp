// SPDX-License-Identifier: MIT
#include "app/personal_share.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "catalogue/sync/share_run.h"
#include "core/error_table.h"
#include "platform/file_status.h"
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

// The shareable files below a folder (as a sharing run picks them) that the
// list does not hold.
int missingBelow(const std::string& folder, const std::set<std::string>& listed) {
  int missing = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    if (it->is_symlink(kind) && it->is_directory(kind)) continue;  // links to folders are not followed
    if (it->is_directory(kind)) {
      missing += missingBelow(it->path().string(), listed);
    } else if (!isTemporaryName(it->path().filename().string()) && listed.count(it->path().string()) == 0) {
      ++missing;
    }
  }
  return missing;
}

// Completes a folder that an earlier run shared in part (it was stopped:
// killed, a crash, the machine off). `parent` is where the folder belongs on
// the server; the folder's own server directory is found there by name, so
// nothing is created or registered twice. A folder the server does not have
// is shared whole.
int completeFolder(ProtocolContext& ctx, ShareRun& run, const std::set<std::string>& listed, const std::string& folder,
                   const ShareDestination& parent) {
  if (missingBelow(folder, listed) == 0) return 0;
  const std::string name = std::filesystem::path(folder).filename().string();
  std::vector<std::string> names;
  std::vector<int32_t> ids;
  const int listing = GetDirectoryNames(ctx, parent.dirId, names, ids);
  if (listing != 0 && listing != catalogue::kDirectoryListingEmpty) return listing;
  const auto at = std::find(names.begin(), names.end(), name);
  if (at == names.end() || static_cast<std::size_t>(at - names.begin()) >= ids.size()) {
    return run.ShareLocalPaths({folder}, parent);
  }
  ShareDestination here = parent;
  here.dirId = ids[static_cast<std::size_t>(at - names.begin())];
  here.groupDirPath = parent.groupDirPath.empty() ? name : parent.groupDirPath + " : " + name;
  std::vector<std::string> files;
  std::vector<std::string> folders;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    const std::string path = it->path().string();
    if (it->is_symlink(kind) && it->is_directory(kind)) continue;  // links to folders are not followed
    if (it->is_directory(kind)) {
      folders.push_back(path);
    } else if (!isTemporaryName(it->path().filename().string()) && listed.count(path) == 0) {
      files.push_back(path);
    }
  }
  if (!files.empty()) {
    if (const int code = run.ShareBatch(files, here); code != 0) return code;
  }
  for (const std::string& below : folders) {
    if (const int code = completeFolder(ctx, run, listed, below, here); code != 0) return code;
  }
  return 0;
}

}  // namespace

std::string personalGroupName(const std::string& user) { return user + "-files"; }

int SharePersonal(ProtocolContext& ctx, SharedFileList& list, const std::vector<std::string>& requested) {
  std::vector<std::string> paths;
  std::vector<std::string> partial;  // folders shared in part by a run that was stopped
  std::set<std::string> listed;
  list.forEach([&](const CVantreldFile& file) { listed.insert(file.localPath); });
  for (const std::string& path : requested) {
    if (!alreadyShared(list, path)) {
      paths.push_back(path);
    } else if (std::error_code ec; std::filesystem::is_directory(path, ec) && missingBelow(path, listed) > 0) {
      partial.push_back(path);
    }
  }
  if (paths.empty() && partial.empty()) return 0;
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
  for (const std::string& folder : partial) {
    if (const int code = completeFolder(ctx, run, listed, folder, to); code != 0) return code;
  }
  return paths.empty() ? 0 : run.ShareLocalPaths(paths, to);
}

std::vector<std::string> absoluteSharePaths(const std::vector<std::string>& typed) {
  std::vector<std::string> paths;
  for (const std::string& path : typed) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    paths.push_back(ec ? path : absolute.lexically_normal().string());
    if (paths.back().size() > 1 && paths.back().back() == '/') paths.back().pop_back();
  }
  return paths;
}

}  // namespace vantrel
