// SPDX-License-Identifier: MIT
#include "server/clients/file_links.h"

#include "core/base64.h"
#include "server/http/form_fields.h"

namespace vantrel::server {

std::string downloadUrl(const SessionTable& sessions, const FileRow& file, const std::string& requesterIp,
                        const std::string& requesterName) {
  const auto owner = sessions.find(file.clientId);
  if (owner == nullptr || owner->port <= 0) return {};
  std::string host = owner->seenIp;
  if (requesterIp == owner->seenIp && !owner->reportedIp.empty()) host = owner->reportedIp;
  const std::string token =
      base64Encode(owner->key.EncryptText(requesterIp + "$" + std::to_string(file.groupId)));
  // Base64 goes into the link as it is: the file server decodes "@" values
  // without URL-decoding them first.
  return "http://" + host + ":" + std::to_string(owner->port) + "/getfile/?fileid=" + std::to_string(file.id) +
         "&username=" + urlEncode(requesterName.empty() ? "guest" : requesterName) + "&@token=" + token;
}

std::string browserDownloadUrl(const SessionTable& sessions, const FileRow& file, const std::string& requesterIp,
                               const std::string& requesterName) {
  std::string url = downloadUrl(sessions, file, requesterIp, requesterName);
  // The file server keeps resource names up to 159 characters.
  constexpr std::size_t kMaxName = 159;
  const std::string name = urlEncode(file.name);
  const std::size_t at = url.find("/getfile/?");
  if (at != std::string::npos && !name.empty() && name.size() <= kMaxName) url.insert(at + 9, name);
  return url;
}

std::string shareFilesUrl(const ClientSession& session, int64_t dirId, int64_t groupId, const std::string& groupName,
                          const std::string& groupDirName) {
  if (session.port <= 0) return {};
  const std::string own = session.reportedIp.empty() ? session.seenIp : session.reportedIp;
  return "http://127.0.0.1:" + std::to_string(session.port) +
         "/template/client-share_files_template.html?dirid=" + std::to_string(dirId) +
         "&groupid=" + std::to_string(groupId) + "&groupname=" + urlEncode(groupName) +
         "&groupdirname=" + urlEncode(groupDirName) + "&@token=" + session.key.MakeToken(own);
}

}  // namespace vantrel::server
