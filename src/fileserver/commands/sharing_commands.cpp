// SPDX-License-Identifier: MIT
#include "fileserver/commands/sharing_commands.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "catalogue/sync/share_run.h"
#include "core/error_table.h"
#include "core/log.h"
#include "fileserver/commands/upload_command.h"
#include "fileserver/file_server.h"
#include "fileserver/file_server_connection.h"
#include "fileserver/token_check.h"
#include "net/socket_io.h"
#include "platform/unique_fd.h"
#include "protocol/shared_file_requests.h"

namespace vantrel {

namespace {

void logText(Log* log, const std::string& text, int level) {
  if (log != nullptr) log->logText(text, level);
}

// A file ID as the forms send it: digits only, within 32 bits.
bool parseId(const std::string& text, int32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= '0' && c <= '9'; })) return false;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

// The central server may be named by host name or by address; the requester
// is always an address.
bool isCentralServer(const std::string& requester, const std::string& host) {
  if (requester == host) return true;
  in_addr probe{};
  if (host.empty() || ::inet_pton(AF_INET, host.c_str(), &probe) == 1) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
  bool match = false;
  for (const addrinfo* a = found; a != nullptr && !match; a = a->ai_next) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* sa = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    match = ::inet_ntop(AF_INET, &sa->sin_addr, text, sizeof text) != nullptr && requester == text;
  }
  ::freeaddrinfo(found);
  return match;
}

}  // namespace

void appendResultLine(std::string& text, const std::string& line, bool& full) {
  if (full) return;
  if (text.size() + line.size() > kResultTextRoom) {
    text += "...<BR>\n";
    full = true;
    return;
  }
  text += line;
}

std::string removeFileOrder(const std::vector<std::string>& fileIds, SharedFileList& list, Log* log) {
  bool failed = false;
  std::vector<int32_t> ids;
  for (const std::string& value : fileIds) {
    int32_t id = 0;
    if (!parseId(value, id) || id == 0) {
      failed = true;
      continue;
    }
    ids.push_back(id);
  }
  // One save for the whole order, however many files it names.
  std::vector<CVantreldFile> removed = list.RemoveBatch(ids);
  std::string reply;
  for (const int32_t id : ids) {
    const auto it = std::find_if(removed.begin(), removed.end(),
                                 [id](const CVantreldFile& record) { return record.fileId == id; });
    if (it == removed.end()) {
      failed = true;
      continue;
    }
    reply += "&fileID=" + std::to_string(id);
    logText(log, "Removed file " + it->fileName + ", ID " + std::to_string(id), 1);
    removed.erase(it);  // an ID named twice was removed once
  }
  return std::string("result=") + (failed ? "3" : "0") + reply;
}

CommandResult addFilesCommand(const RequestParams& params, ProtocolContext& ctx, SharedFileList& list) {
  const std::string* dir = params.first("dirid");
  if (dir == nullptr) return {command_error::kNoDirectoryId, {}};
  const std::string* group = params.first("groupid");
  if (group == nullptr) return {command_error::kNoGroupId, {}};
  const std::string* groupName = params.first("groupname");
  if (groupName == nullptr) return {command_error::kNoGroupName, {}};
  const auto dirId = static_cast<int32_t>(std::strtol(dir->c_str(), nullptr, 10));
  const auto groupId = static_cast<int32_t>(std::strtol(group->c_str(), nullptr, 10));
  const std::string groupDir = params.firstOr("groupdirname", "");

  CommandResult result;
  bool full = false;
  auto failed = [&](const std::string& path, const char* why) {
    ++result.failed;
    appendResultLine(result.text, "Could not share " + path + " - " + why + "<BR>\n", full);
  };
  std::vector<CVantreldFile> records;
  std::vector<std::string> folders;
  for (std::string path : params.all("share")) {
    struct stat st {};
    // Share pages rendered before their check boxes carried the path as it is
    // wrote spaces as "+" (a page left open in a browser still does): a path
    // that is not there as given is read with them as spaces.
    if (::stat(path.c_str(), &st) != 0 && path.find('+') != std::string::npos) {
      std::string spaced = path;
      std::replace(spaced.begin(), spaced.end(), '+', ' ');
      if (::stat(spaced.c_str(), &st) == 0) path = std::move(spaced);
    }
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      folders.push_back(path);
      continue;
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
      failed(path, "Not readable");
      continue;
    }
    CVantreldFile record(sharedPathOf(path));
    if (!record.Verify()) {
      failed(path, "Error verifying file");
      continue;
    }
    records.push_back(std::move(record));
  }
  if ((!records.empty() || !folders.empty()) && !ctx.state.Connected()) {
    return {command_error::kNotConnected, result.text, 0, result.failed};
  }
  if (!records.empty()) {
    std::vector<FileRegistration> registrations;
    for (const CVantreldFile& record : records) registrations.push_back({record.fileName, record.fileSize, 0});
    if (const int rc = AddFiles(ctx, registrations, dirId, nullptr); rc != 0) return {rc, result.text, 0, result.failed};
    std::vector<CVantreldFile> shared;
    for (std::size_t i = 0; i < records.size(); ++i) {
      CVantreldFile& record = records[i];
      if (registrations[i].fileId <= 0) {
        // The server gave no ID: nothing was shared, and the person must know.
        failed(record.localPath, "the server did not register it");
        continue;
      }
      record.fileId = registrations[i].fileId;
      record.groupName = *groupName;
      record.groupDirPath = groupDir;
      record.groupId = groupId;
      record.dirId = dirId;
      ++result.done;
      appendResultLine(result.text, "Shared " + record.localPath + " <BR>\n", full);
      ctx.logText("Shared " + record.localPath + " - file ID " + std::to_string(record.fileId), 1);
      shared.push_back(std::move(record));
    }
    // One save for the whole form, however many files it shares.
    if (!shared.empty()) {
      std::vector<int32_t> ids;
      for (const CVantreldFile& record : shared) ids.push_back(record.fileId);
      if (!list.AddBatch(std::move(shared))) {
        // A share that cannot be kept here is taken back from the server too,
        // or it would come back at the next start as a file to share again.
        if (ctx.state.Connected()) RemoveFiles(ctx, ids, nullptr);
        ctx.logText("Could not keep the shared files: " + list.lastError(), 1);
        return {err::kSystemError, result.text, 0, result.failed, list.lastError()};
      }
    }
  }
  // A folder is shared with everything below it, its sub-folders becoming
  // folders on the server under the chosen one.
  for (const std::string& folder : folders) {
    const std::size_t before = list.size();
    ShareRun run(ctx, list);
    const int rc = run.ShareLocalPaths({folder}, ShareDestination{groupId, *groupName, dirId, groupDir});
    const auto shared = static_cast<int32_t>(list.size() - std::min(before, list.size()));
    result.done += shared;
    if (rc == err::kSystemError) return {rc, result.text, result.done, result.failed + 1, list.lastError()};
    if (rc != 0) {
      ++result.failed;
      appendResultLine(result.text,
                       "Could not share all of " + folder + " - " + std::to_string(rc) + " " + errorTitle(rc) + "<BR>\n",
                       full);
    } else if (shared == 0) {
      failed(folder, "the folder holds no file to share");
    } else {
      appendResultLine(result.text, "Shared " + folder + " (" + std::to_string(shared) + (shared == 1 ? " file" : " files") + ") <BR>\n", full);
    }
  }
  ctx.logText("Finished sharing files", 2);
  return result;
}

CommandResult removeFilesCommand(const RequestParams& params, ProtocolContext& ctx, SharedFileList& list) {
  ctx.logText("Removing files", 1);
  if (!params.has("stopsharing")) return {command_error::kNothingToStop, {}};
  CommandResult result;
  std::vector<int32_t> ids;
  std::vector<std::string> names;
  std::vector<int32_t> asked;
  for (const std::string& value : params.all("stopsharing")) {
    int32_t id = 0;
    if (!parseId(value, id) || !list.Contains(id)) {
      // Already gone (removed from another page, or by the server) or never shared.
      ++result.failed;
      result.text += "Could not remove fileID " + value + " - is not being shared by this file manager<BR>\n";
      continue;
    }
    asked.push_back(id);
  }
  // One save for the whole form, however many files it names. Only what is
  // saved is told to the server: a file kept here stays shared there.
  bool saved = true;
  for (const CVantreldFile& record : list.RemoveBatch(asked, &saved)) {
    ids.push_back(record.fileId);
    names.push_back(record.fileName);
  }
  if (!saved) {
    ctx.logText("Could not stop sharing: " + list.lastError(), 1);
    return {err::kSystemError, result.text, 0, result.failed, list.lastError()};
  }
  if (!ids.empty()) {
    const int rc = ctx.state.Connected() ? RemoveFiles(ctx, ids, nullptr) : command_error::kNotConnectedRemove;
    if (rc != 0 && rc != 501) return {rc, result.text, 0, result.failed};
    bool full = false;
    for (const std::string& name : names) {
      ++result.done;
      appendResultLine(result.text, "Removed " + name + " <BR>\n", full);
      ctx.logText("Removed " + name, 2);
    }
  }
  return result;
}

CommandResult removeUsersCommand(const RequestParams& params, const std::function<bool(int32_t)>& stopSession,
                                 Log* log) {
  logText(log, "Removing users", 2);
  if (!params.has("id") || !params.has("ip")) return {command_error::kNoUsers, {}};
  CommandResult result;
  const auto& ids = params.all("id");
  const auto& addresses = params.all("ip");
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::string address = i < addresses.size() ? addresses[i] : "Unknown IP";
    int32_t id = 0;
    if (parseId(ids[i], id) && stopSession(id)) {
      ++result.done;
      result.text += "Removed " + address + "\n<BR>";
      logText(log, "Removed user " + address, 1);
    } else {
      ++result.failed;
      result.text += "Could not remove " + address +
                     " - session not found, this user may have already disconnected<BR>\n";
      logText(log, "Could not remove " + address + " - session not found", 2);
    }
  }
  logText(log, "Finished removing user(s)", 2);
  return result;
}

CommandResult fileDescriptionCommand(const RequestParams& params, SharedFileList& list, int32_t& fileId) {
  const std::string* value = params.first("fileid");
  if (value == nullptr) return {command_error::kNoFileId, {}};
  int32_t id = 0;
  if (!parseId(*value, id)) return {command_error::kBadFileId, {}};
  if (!list.Contains(id)) return {command_error::kFileNotShared, {}};
  const std::string* description = params.first("description");
  if (description == nullptr) return {command_error::kNoDescription, {}};
  std::string before;
  list.Update(id, [&](CVantreldFile& record) {
    before = record.description;
    record.description = *description;
  });
  if (!list.Save()) {
    list.Update(id, [&](CVantreldFile& record) { record.description = before; });
    return {err::kSystemError, {}, 0, 0, list.lastError()};
  }
  fileId = id;
  return {};
}

SharingCommands::SharingCommands(ProtocolContext& ctx, SharedFileList& list, ClientState& state)
    : m_ctx(ctx), m_list(list), m_state(state) {
  // Nothing uploads before the file server runs: what an upload left is stale.
  if (const int removed = removeStaleUploads(list); removed > 0) {
    m_ctx.logText("Removed " + std::to_string(removed) + " unfinished upload(s) beside shared files", 1);
  }
}

void SharingCommands::answer(FileServerConnection& connection, const CommandResult& result, const char* page) {
  if (result.code == err::kSystemError && !result.message.empty()) {
    connection.sendErrorWithMessage(result.code, result.message, FileServerConnection::kStatusOk);
    return;
  }
  if (result.code != 0) {
    connection.sendError(result.code, FileServerConnection::kStatusOk);
    return;
  }
  connection.session().setResultText(result.text);
  connection.session().resultDone = result.done;
  connection.session().resultFailed = result.failed;
  connection.resourceName() = page;
  connection.sendTemplate(FileServerConnection::kStatusOk);
}

void SharingCommands::removeFile(FileServerConnection& connection) {
  const int fd = connection.socket();
  if (!isCentralServer(connection.requester(), connection.fileServer().host().centralServerHost())) {
    sendText(fd, "result=3");
    drain(fd);
    return;
  }
  m_ctx.logText("Removing files", 1);
  const auto& ids = connection.params().all("fileid");
  sendText(fd, ids.empty() ? std::string("result=0") : removeFileOrder(ids, m_list, m_ctx.log));
  if (!ids.empty()) m_ctx.logText("Finished removing files", 2);
  drain(fd);
}

// Sharing into this computer from another one needs the "remotes" setting; the
// share page itself follows the same rule.
bool SharingCommands::remoteSharingRefused(FileServerConnection& connection) {
  if (isLocalRequester(connection.addresses()) || connection.fileServer().host().remoteSharingAllowed()) return false;
  connection.sendError(command_error::kRemoteSharingOff, FileServerConnection::kStatusOk);
  return true;
}

void SharingCommands::sendFile(FileServerConnection& connection, const std::vector<HeaderLine>& headers) {
  if (remoteSharingRefused(connection)) return;
  int32_t fileId = -1;
  const int rc = receiveUpload(connection.socket(), headers, connection.params(), m_list, fileId);
  if (rc == upload::kEndWithoutReply) return;
  if (rc == upload::kOk) connection.session().fileId = fileId;
  answer(connection, {rc, {}}, "client-file_info_template.html");
}

void SharingCommands::addFiles(FileServerConnection& connection) {
  if (remoteSharingRefused(connection)) return;
  answer(connection, addFilesCommand(connection.params(), m_ctx, m_list),
         "client-successfully_shared_files_template.html");
}

void SharingCommands::fileDescription(FileServerConnection& connection) {
  int32_t fileId = -1;
  const CommandResult result = fileDescriptionCommand(connection.params(), m_list, fileId);
  if (result.code == 0) connection.session().fileId = fileId;
  answer(connection, result, "client-file_info_template.html");
}

void SharingCommands::removeUsers(FileServerConnection& connection) {
  const auto stop = [this](int32_t id) {
    const std::shared_ptr<UploadSession> session = m_state.LookupSession(id);
    if (!session) return false;
    session->active = false;
    return true;
  };
  answer(connection, removeUsersCommand(connection.params(), stop, m_ctx.log),
         "client-successfully_removed_users_template.html");
}

void SharingCommands::removeFiles(FileServerConnection& connection) {
  answer(connection, removeFilesCommand(connection.params(), m_ctx, m_list),
         "client-successfully_removed_files_template.html");
}

}  // namespace vantrel
