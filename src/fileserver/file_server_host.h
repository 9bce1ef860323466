// SPDX-License-Identifier: MIT
#pragma once
// What the file server needs from the rest of the client, as ports it calls:
// the client state (limits, counters, upload sessions, addresses), the page
// renderer with its template archive, the sharing and administration commands,
// and the hooks into the shared-file checks. The application implements them
// over ClientState, the template system and the catalogue; tests use fakes.
// Every method is called from connection threads, many at once, and must be
// thread-safe. All of them must outlive the FileServer.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileserver/request_params.h"
#include "fileserver/request_reader.h"
#include "state/upload_session.h"

namespace vantrel {

class FileServerConnection;
class Log;

class FileServerHost {
 public:
  virtual ~FileServerHost() = default;

  // Upload sessions: one per connection, filed in the client's session map.
  virtual std::shared_ptr<UploadSession> newUploadSession() = 0;
  virtual void removeUploadSession(int32_t sessionId) = 0;
  // The number of sessions from `peer` when it exceeds the per-user limit, else 0
  // (always 0 for this computer).
  virtual int uploadsFromAddress(std::string_view peer) = 0;

  virtual void uploadStarted() = 0;
  virtual void uploadEnded() = 0;
  virtual int activeUploads() = 0;
  // Counts `bytes` sent to `peer` and returns how long to wait (ms) to keep the
  // process-wide limit.
  virtual int64_t countSent(uint32_t bytes, std::string_view peer) = 0;
  virtual void fileSent() = 0;

  virtual int maxUsers() = 0;
  virtual int maxPerUser() = 0;
  // Bytes per second per download to another computer; 0 or less means no limit.
  virtual int maxUserBand() = 0;
  // Bytes per second for all downloads to other computers together; 0 or less
  // means no limit.
  virtual int maxBand() = 0;
  virtual int clientVersion() = 0;

  // This computer's local address as recorded by the server at listen.
  virtual std::string localAddress() = 0;
  virtual void setLocalAddress(const std::string& address) = 0;
  // The address the central server saw us at, when it differs from the local one.
  virtual std::optional<std::string> externalAddress() = 0;
  // Hosts that may show pages which drive this server: the central server's.
  virtual std::string centralServerHost() = 0;

  // Setting "remotes" is 1.
  virtual bool remoteSharingAllowed() = 0;
  // Setting "firstTimeSharing" is 1 / write it as 0.
  virtual bool firstTimeSharing() = 0;
  virtual void clearFirstTimeSharing() = 0;
  // Download tokens are checked (the debug switch can turn this off).
  virtual bool fileSecurity() = 0;

  // Contest points for a transfer, when the contest is on.
  virtual bool contestEnabled() = 0;
  virtual void awardTransfer(int kilobytes, int files, std::string_view peer) = 0;

  // Shared-file checks that a request can set off.
  virtual void compareWithServer() = 0;
  virtual void verifySharedFiles() = 0;

  // Starts the share-files window for a request from this computer and returns
  // once it has taken the request's parameters over; false, with the
  // parameters left in place, when this client cannot open that window.
  virtual bool startShareWindow(RequestParams& params) = 0;

  // The log, or nullptr.
  virtual Log* log() = 0;
};

// The page renderer over the template archive.
struct PageContext {
  std::string_view templateName;
  UploadSession& session;
  const RequestParams& params;
  std::string_view requester;
};

class PageRenderer {
 public:
  virtual ~PageRenderer() = default;
  // Renders the page into `page`: 0, or 400 (no such template) / 401 (does not parse).
  virtual int render(const PageContext& context, std::string& page) = 0;
  // The bytes of an image stored in the archive; empty when there is none.
  virtual std::span<const uint8_t> image(std::string_view name) = 0;
};

// The sharing and administration commands. Each answers the request itself.
class CommandHandlers {
 public:
  virtual ~CommandHandlers() = default;
  virtual void removeFile(FileServerConnection& connection) = 0;  // GET "remove_file"
  // POST "sendfile": the upload reads its body from the socket; `headers` are the
  // header lines already read.
  virtual void sendFile(FileServerConnection& connection, const std::vector<HeaderLine>& headers) = 0;
  virtual void addFiles(FileServerConnection& connection) = 0;
  virtual void fileDescription(FileServerConnection& connection) = 0;
  virtual void removeUsers(FileServerConnection& connection) = 0;
  virtual void removeFiles(FileServerConnection& connection) = 0;
};

}  // namespace vantrel
