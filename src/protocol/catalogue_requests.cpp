// SPDX-License-Identifier: MIT
#include "protocol/catalogue_requests.h"

#include "protocol/catalogue_listing.h"

#include <cstdlib>

#include "net/reply_fields.h"
#include "protocol/server_channel.h"

namespace vantrel {

const char* const SearchCriteria::kFileKinds[8] = {"Any", "MP3", "Audio", "Video", "Graphic", "Text", "Source", "Other"};

std::time_t SearchCriteria::notSet() {
  std::tm t{};
  t.tm_year = 77;
  t.tm_mon = 0;
  t.tm_mday = 1;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

namespace {

// Sends one request; the transport code, or the server code 500 + result.
int exchange(ProtocolContext& ctx, std::string_view body, std::string& reply,
             const ClientRequest::Progress* progress = nullptr) {
  ServerChannel channel(ctx);
  const int transport = channel.post(body, reply, progress);
  if (transport != transport::kOk) return transport;
  return ServerChannel::serverCode(reply);
}

std::string dateText(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%m/%d/%y", &local);
  return text;
}

}  // namespace

int GetAllGroups(ProtocolContext& ctx, int32_t checksum, std::string& reply) {
  const int code = exchange(ctx, "action=getallgroups&checksum=" + std::to_string(checksum), reply);
  if (code != ServerChannel::kResultBase) return code;
  return reply.find("matches=1") != std::string::npos ? catalogue::kGroupsCurrent : 0;
}

std::string listingBody(ListingKind kind, int32_t id) {
  switch (kind) {
    case ListingKind::Category:
      return "action=getlisting&categoryid=" + std::to_string(id);
    case ListingKind::CategoryWithGroups:
      return "action=getlisting&hasgroups=1&categoryid=" + std::to_string(id);
    case ListingKind::Group:
    case ListingKind::Directory:
      return "action=getlisting&dirid=" + std::to_string(id);
  }
  return {};
}

int GetListing(ProtocolContext& ctx, ListingKind kind, int32_t id, std::string& reply) {
  return exchange(ctx, listingBody(kind, id), reply);
}

int GetDirectoryNames(ProtocolContext& ctx, int32_t directoryId, std::vector<std::string>& names,
                      std::vector<int32_t>& ids) {
  std::string reply;
  const int code = exchange(ctx, "action=getdir&dirid=" + std::to_string(directoryId), reply);
  if (code != ServerChannel::kResultBase) return code;
  if (reply.find("=&") != std::string::npos) return catalogue::kDirectoryListingEmpty;
  std::string_view rest = reply;
  while (!rest.empty()) {
    const std::size_t eq = rest.find('=');
    if (eq == std::string_view::npos) break;
    rest.remove_prefix(eq + 1);
    const std::size_t amp = rest.find('&');
    const std::string_view value = rest.substr(0, amp);
    if (const std::size_t colon = value.find(':'); colon != std::string_view::npos) {
      // The server encodes a name's "&", "=" and ":" so the pair stays whole.
      names.push_back(decodeReplyValue(value.substr(0, colon)));
      ids.push_back(static_cast<int32_t>(std::strtol(std::string(value.substr(colon + 1)).c_str(), nullptr, 10)));
    }
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  return 0;
}

int RemoveDirectories(ProtocolContext& ctx, std::vector<int32_t>& directoryIds,
                      const ClientRequest::Progress* progress) {
  std::string body = "action=removedir";
  for (int32_t id : directoryIds) body += "&dirid=" + std::to_string(id);
  std::string reply;
  const int code = exchange(ctx, body, reply, progress);
  if (code == ServerChannel::kResultBase) return catalogue::kListingOk;
  if (!transport::isTransportCode(code)) directoryIds.clear();
  return code;
}

int CreateDirectory(ProtocolContext& ctx, std::string_view name, int32_t parentId, int32_t* newId) {
  const std::string body = "action=createdir&dirname=" + requestValue(name) + "&parent=" + std::to_string(parentId);
  std::string reply;
  int code = exchange(ctx, body, reply);
  if (transport::isTransportCode(code)) code = exchange(ctx, body, reply);
  if (code != ServerChannel::kResultBase) return code;
  const int id = ReplyNumber(reply, "dirid=");
  if (id == -1) return catalogue::kNoDirectoryId;
  if (newId == nullptr) return catalogue::kNoOutLocation;
  *newId = id;
  return 0;
}

int JoinGroup(ProtocolContext& ctx, int32_t groupId, std::string_view password, std::string_view comments) {
  const std::string id = std::to_string(groupId);
  std::string body = "action=joingroup" + id + "&groupid=" + id;
  if (!password.empty()) body += "&password=" + requestValue(password);
  if (!comments.empty()) body += "&comments=" + requestValue(comments);
  std::string reply;
  return exchange(ctx, body, reply);
}

std::string createGroupBody(const GroupEntry& group, int32_t parentCategoryId) {
  std::string body = "action=creategroup&groupname=" + requestValue(group.name) + "&parentid=" + std::to_string(parentCategoryId);
  if (!group.password.empty()) body += "&password=" + requestValue(group.password);
  if (!group.description.empty()) body += "&description=" + requestValue(group.description);
  if (!group.keywords.empty()) body += "&keywords=" + requestValue(group.keywords);
  body += "&perm=" + std::to_string(group.perm);
  body += "&memb=" + std::to_string(group.memb);
  if (group.personal) body += "&personal=1";
  return body;
}

int CreateGroup(ProtocolContext& ctx, GroupEntry& group, int32_t parentCategoryId) {
  std::string reply;
  const int code = exchange(ctx, createGroupBody(group, parentCategoryId), reply);
  if (code != ServerChannel::kResultBase) return code;
  const int id = ReplyNumber(reply, "groupid=");
  if (id == 0) return catalogue::kZeroGroupId;
  group.id = id;
  return 0;
}

std::string searchBody(const SearchCriteria& c) {
  const std::time_t notSet = SearchCriteria::notSet();
  std::string body = "action=search&string=" + requestValue(c.text);
  if (c.groupId != 0) body += "&groupid=" + std::to_string(c.groupId);
  if (c.start > 0) body += "&start=" + std::to_string(c.start);
  if (c.fetch > 0) body += "&fetch=" + std::to_string(c.fetch);
  if (c.minSize > 0) body += "&minsize=" + std::to_string(c.minSize);
  if (c.maxSize > 0) body += "&maxsize=" + std::to_string(c.maxSize);
  if (c.minDate != notSet) body += "&mindate=" + dateText(c.minDate);
  if (c.maxDate != notSet) body += "&maxdate=" + dateText(c.maxDate);
  if (c.fileKind > 0) body += "&filekind=" + std::to_string(c.fileKind);
  if (c.fileKind == SearchCriteria::kOtherKind && !c.fileType.empty()) body += "&filetype=" + requestValue(c.fileType);
  if (c.onlineOnly) body += "&onlineonly=1";
  if (c.returnCount > 0) body += "&returncount=" + std::to_string(c.returnCount);
  return body;
}

int Search(ProtocolContext& ctx, const SearchCriteria& criteria, const ClientRequest::Progress* progress,
           std::string& reply) {
  const int code = exchange(ctx, searchBody(criteria), reply, progress);
  return code == ServerChannel::kResultBase ? 0 : code;
}

std::string searchCriteriaProblem(const SearchCriteria& c) {
  if (c.text.empty()) return "You must enter a search string";
  if (c.fileKind == SearchCriteria::kOtherKind && c.fileType.empty()) return "You must enter a file type in 'Other'";
  if (c.minSize > c.maxSize) return "The minimum file size must be less than or equal to the maximum file size";
  return {};
}

}  // namespace vantrel
