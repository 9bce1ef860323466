// SPDX-License-Identifier: MIT
#include "protocol/shared_file_requests.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

#include "net/reply_fields.h"
#include "protocol/server_channel.h"

namespace vantrel {

namespace {

constexpr int kPartlyAdded = ServerChannel::kResultBase + 2;

// Sends the body; a "not logged in" reply logs in again and sends it once more
// without the progress callback. Returns the transport code or the server code.
int sendWithRelogin(ServerChannel& channel, const std::string& body, const ClientRequest::Progress* progress,
                    bool retryTransport, std::string& reply) {
  int transport = channel.post(body, reply, progress);
  if (transport != transport::kOk && retryTransport) transport = channel.post(body, reply);
  if (transport != transport::kOk) return transport;
  int code = ServerChannel::serverCode(reply);
  if (code == ServerChannel::kNotLoggedIn) {
    channel.relogin();
    transport = channel.post(body, reply);
    if (transport != transport::kOk) return transport;
    code = ServerChannel::serverCode(reply);
  }
  return code;
}

}  // namespace

std::string listedFileName(std::string_view name) {
  if (name.size() <= files::kMaxSentName) return std::string(name);
  // A UTF-8 continuation byte (10xxxxxx) never starts a character.
  auto characterStart = [&](std::size_t at) {
    while (at > 0 && (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80) --at;
    return at;
  };
  const std::size_t dot = name.rfind('.');
  const std::size_t extension = dot == std::string_view::npos || dot == 0 ? 0 : name.size() - dot;
  // An extension too long to leave room for a name is cut like the rest.
  if (extension == 0 || extension > files::kMaxSentName / 2) {
    return std::string(name.substr(0, characterStart(files::kMaxSentName)));
  }
  const std::size_t stem = characterStart(files::kMaxSentName - extension);
  return std::string(name.substr(0, stem)) + std::string(name.substr(dot));
}

std::string addFilesBody(std::span<const FileRegistration> files, int32_t directoryId) {
  std::string body = "action=add_file&dirid=" + std::to_string(directoryId);
  for (std::size_t k = 0; k < files.size(); ++k) {
    std::string name = files[k].fileName;
    // The type comes from the whole name.
    const std::size_t dot = name.rfind('.');
    const std::string type = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    name = listedFileName(name);
    body += "&cfileid=" + std::to_string(k);
    body += "&filename=" + requestValue(name);
    body += "&filesize=" + std::to_string(files[k].size);
    body += "&keywords=";
    body += "&filetype=" + requestValue(type);
  }
  return body;
}

int readAddedIds(std::string_view reply, std::span<FileRegistration> files) {
  if (reply.find("=&") != std::string_view::npos) return files::kEmptyField;
  std::string_view rest = reply;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const std::size_t eq = rest.find('=');
    if (eq == std::string_view::npos) break;
    const std::string_view name = rest.substr(0, eq);
    rest.remove_prefix(eq + 1);
    const std::size_t amp = rest.find('&');
    const std::string value(rest.substr(0, amp));
    rest.remove_prefix(amp == std::string_view::npos ? rest.size() : amp + 1);
    if (name.size() != 6 || ::strncasecmp(name.data(), "fileid", 6) != 0) continue;
    if (value == "0") return files::kZeroFileId;
    char* end = nullptr;
    errno = 0;
    const long id = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || id <= 0 || id > INT32_MAX) return files::kBadFileId;
    files[k].fileId = static_cast<int32_t>(id);
  }
  return 0;
}

int AddFiles(ProtocolContext& ctx, std::span<FileRegistration> files, int32_t directoryId,
             const ClientRequest::Progress* progress) {
  ServerChannel channel(ctx);
  std::string reply;
  const int code = sendWithRelogin(channel, addFilesBody(files, directoryId), progress, true, reply);
  // Partly done: the server registered the files it could take and named the
  // others with a pair of another name; those keep no ID and are left out.
  if (code != ServerChannel::kResultBase && code != kPartlyAdded) return code;
  return readAddedIds(reply, files);
}

int RemoveFiles(ProtocolContext& ctx, std::span<const int32_t> fileIds, const ClientRequest::Progress* progress) {
  std::string body = "action=remove_file";
  for (int32_t id : fileIds) body += "&fileid=" + std::to_string(id);
  ServerChannel channel(ctx);
  std::string reply;
  const int code = sendWithRelogin(channel, body, progress, false, reply);
  return code == ServerChannel::kResultBase ? 0 : code;
}

std::optional<FileIdSet> parseFileIds(std::string_view reply, const ProtocolContext* log) {
  if (ReplyNumber(reply, "result=") != 0) return std::nullopt;
  const int announced = ReplyNumber(reply, "numfiles=");
  if (announced < 0) return std::nullopt;
  FileIdSet ids;
  ids.reserve(static_cast<std::size_t>(std::min(announced, 100000)));
  int found = 0;
  for (std::size_t at = reply.find("fileid="); at != std::string_view::npos; at = reply.find("fileid=", at + 1)) {
    const int id = ReplyNumber(reply.substr(at), "fileid=");
    if (id == -1) return std::nullopt;
    ids.insert(id);
    ++found;
  }
  if (found != announced) {
    if (log != nullptr) {
      log->logText("Error - filesCounter " + std::to_string(found) + " numFiles " + std::to_string(announced), 2);
    }
    return std::nullopt;
  }
  return ids;
}

std::optional<FileIdSet> GetFileIds(ProtocolContext& ctx) {
  ServerChannel channel(ctx);
  std::string reply;
  if (channel.post("action=get_fileids", reply) != transport::kOk) return std::nullopt;
  return parseFileIds(reply, &ctx);
}

}  // namespace vantrel
