// SPDX-License-Identifier: MIT
#pragma once
// The requests that read and change the central catalogue: the group list,
// listings, a directory's subdirectories, creating and removing directories,
// joining and creating groups, and searching. Every request goes to the current
// server target (its configured port, or 7001 after a server move). Which code
// means success differs per request and is said beside each. Any thread.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "net/client_request.h"
#include "protocol/catalogue_listing.h"
#include "protocol/protocol_context.h"

namespace vantrel {

namespace catalogue {
inline constexpr int kListingOk = 500;          // GetListing, JoinGroup, RemoveDirectories
inline constexpr int kDirectoryListingEmpty = 214;
inline constexpr int kNoDirectoryId = 215;
inline constexpr int kNoOutLocation = 216;
inline constexpr int kGroupsCurrent = 217;
inline constexpr int kZeroGroupId = 219;
inline constexpr int kApplicationSent = 600;  // JoinGroup: the owner decides about the application
}  // namespace catalogue

enum class ListingKind { Category, CategoryWithGroups, Group, Directory };

struct SearchCriteria {
  static const char* const kFileKinds[8];  // "Any", "MP3", ..., "Other"
  static constexpr int kOtherKind = 7;
  // 1 January 1977, 00:00:00 local time: the date that stands for "not set".
  static std::time_t notSet();

  std::string text;
  int32_t groupId = 0;
  int start = 0;
  int fetch = 0;
  int64_t minSize = 0;
  int64_t maxSize = 0;
  std::time_t minDate = notSet();
  std::time_t maxDate = notSet();
  int fileKind = 0;
  std::string fileType;  // with kind 7 ("Other")
  bool onlineOnly = false;
  int returnCount = 0;
};

// 0 (current: 217 when the server says "matches=1"), or the code. The reply
// text comes back in every case.
int GetAllGroups(ProtocolContext& ctx, int32_t checksum, std::string& reply);
// 500 on success, with the reply text.
int GetListing(ProtocolContext& ctx, ListingKind kind, int32_t id, std::string& reply);
// 0 with the names and IDs of the directory's subdirectories, or the code.
int GetDirectoryNames(ProtocolContext& ctx, int32_t directoryId, std::vector<std::string>& names,
                      std::vector<int32_t>& ids);
// 500 on success; on any other result the list is emptied.
int RemoveDirectories(ProtocolContext& ctx, std::vector<int32_t>& directoryIds,
                      const ClientRequest::Progress* progress);
// 0 with the new directory's ID in *newId; a transport failure is retried once.
int CreateDirectory(ProtocolContext& ctx, std::string_view name, int32_t parentId, int32_t* newId);
// 500 on success.
int JoinGroup(ProtocolContext& ctx, int32_t groupId, std::string_view password, std::string_view comments);
// 0 with group.id set (-1 when the server gave none), or the code.
int CreateGroup(ProtocolContext& ctx, GroupEntry& group, int32_t parentCategoryId);
// 0 with the reply text, or the code.
int Search(ProtocolContext& ctx, const SearchCriteria& criteria, const ClientRequest::Progress* progress,
           std::string& reply);

// The bodies the requests send.
std::string listingBody(ListingKind kind, int32_t id);
std::string searchBody(const SearchCriteria& criteria);
std::string createGroupBody(const GroupEntry& group, int32_t parentCategoryId);

// The search page's check before sending: the message to show, or "".
// `maxSizeGiven`: the maximum size field is not empty.
std::string searchCriteriaProblem(const SearchCriteria& criteria);

}  // namespace vantrel
