// SPDX-License-Identifier: MIT
#include "fileserver/file_server_connection.h"

#include <algorithm>
#include <ctime>

#include "core/error_table.h"
#include "core/log.h"
#include "fileserver/file_server.h"
#include "fileserver/http_header.h"
#include "net/socket_io.h"

namespace vantrel {
namespace {

constexpr std::size_t kRequestLineBuffer = 700;
constexpr std::size_t kHeaderLineBuffer = 1000;
constexpr std::size_t kTemplateHeaderBuffer = 200;
constexpr int kForbidden = 403;
constexpr long long kDefaultPostLength = 3000;

constexpr std::string_view kErrorTemplate = "client-error_template.html";
constexpr std::string_view kShareFilesTemplate = "client-share_files_template.html";
constexpr std::string_view kLoadingShareTemplate = "client-loading_share_window_template.html";
constexpr std::string_view kFirstTimeTemplate = "client-first_time.html";

}  // namespace

FileServerConnection::FileServerConnection(FileServer& server)
    : m_server(server), m_session(server.host().newUploadSession()) {
  m_session->requestParams = &m_params;
}

FileServerConnection::~FileServerConnection() {
  m_session->requestParams = nullptr;
  m_server.host().removeUploadSession(m_session->sessionId());
}

RequesterAddresses FileServerConnection::addresses() const {
  return RequesterAddresses{m_requester, m_server.host().localAddress(), m_server.host().externalAddress()};
}

void FileServerConnection::refuse(bool mayWait) {
  // Let the request arrive so that the reply is not lost to a reset, but never
  // wait long: a refusal must cost the server next to nothing.
  if (mayWait) waitReadable(socket(), std::chrono::seconds(1));
  if (auto text = peerAddressText(peer())) m_requester = *text;
  drain(socket());
  sendError(err::kTooManyConnections, kStatusOk);
}

void FileServerConnection::handle() {
  Log* log = m_server.host().log();
  m_start = std::chrono::steady_clock::now();
  m_deadline = m_start + kRequestDeadline;
  const auto text = peerAddressText(peer());
  if (!text) {
    sendError(err::kCannotGetIp, kStatusOk);
    return;
  }
  m_requester = *text;
  m_session->setPeerAddress(m_requester);
  if (log != nullptr) log->logActivity("Got Connection", m_requester, 2);

  std::string line;
  m_head.emplace(socket());
  if (m_head->readLine(line, kRequestLineBuffer, 2, headDeadline()) == 0) return;
  trimLineEnd(line);
  const auto request = splitRequestLine(line);
  if (!request || request->method == HttpMethod::Other) {
    sendError(err::kUnrecognizedHttpCommand, kStatusOk);
    return;
  }
  if (request->method == HttpMethod::Get) {
    handleGet(request->url);
  } else {
    handlePost(request->url);
  }
}

std::chrono::steady_clock::time_point FileServerConnection::headDeadline() const {
  // Asked again for every line, so a sender that began while the server was
  // quiet loses its extra time once the server fills up.
  return m_server.nearConnectionLimit() ? std::min(m_deadline, m_start + kBusyRequestDeadline) : m_deadline;
}

std::string FileServerConnection::readHeaderBlock(int waitSeconds) {
  // Headers may arrive in several pieces: read up to the empty line that ends
  // them rather than only what is waiting at this moment.
  std::string block;
  std::string line;
  while (block.size() < kHeaderBlockLimit) {
    if (m_head->readLine(line, kHeaderLineBuffer, waitSeconds, headDeadline()) == 0) break;
    block += line;
    if (line == "\r\n" || line == "\n") break;
  }
  // What follows the head (a POST body) is read from the socket from here on.
  m_head->take();
  // Whole or cut at its limit, the head is read: from here the request keeps
  // its place even when the server is full.
  headRead();
  return block;
}

void FileServerConnection::handleGet(const std::string& url) {
  const std::string block = readHeaderBlock(1);
  std::size_t start = 0;
  while (start < block.size()) {
    const std::size_t end = std::min(block.find('\n', start), block.size() - 1);
    if (isOwnClientUserAgent(std::string_view(block).substr(start, end - start + 1))) m_ownClient = true;
    start = end + 1;
  }
  addHeaderParams(block, m_params);
  m_headers = headerLines(block);

  const auto parts = splitUrl(url);
  if (!parts) {
    sendError(err::kNoCommandInUrl, kStatusOk);
    return;
  }
  if (parts->query) parseQueryString(*parts->query, m_params, m_server.cipher());
  m_resource = parts->resource;
  m_urlPath = parts->path;
  const std::string& command = parts->command;
  const bool download = equalsNoCase(command, "getfile") || equalsNoCase(command, "getfileinfo") ||
                        equalsNoCase(command, "images");
  const TrustedHosts trusted = m_server.trustedHosts();
  if (download && !hostHeaderAllowed(m_headers, trusted)) {
    // Pages of other sites link downloads on purpose, so only the Host rule
    // applies: it stops a page whose own name now points at this computer.
    sendError(err::kTokenMissing, kForbidden);
  } else if (equalsNoCase(command, "getfile")) {
    getFile();
  } else if (equalsNoCase(command, "getfileinfo")) {
    getFileInfo();
  } else if (equalsNoCase(command, "images")) {
    sendImage();
  } else if (equalsNoCase(command, "remove_file")) {
    // The central server's order never comes through a browser; a page that
    // makes the browser send it is refused like any other command.
    if (!browserMayDrive(m_headers, trusted)) {
      sendError(err::kTokenMissing, kForbidden);
    } else if (CommandHandlers* commands = m_server.commands()) {
      commands->removeFile(*this);
    } else {
      sendError(err::kUnrecognizedGetCommand, kStatusOk);
    }
  } else if (equalsNoCase(command, "template")) {
    // The page and the refusal both drain the socket after their reply.
    if (allowCommand()) sendTemplate(kStatusOk);
    return;
  } else if (allowCommand()) {
    sendError(err::kUnrecognizedGetCommand, kStatusOk);
  }
  drain(socket());
}

bool FileServerConnection::allowCommand() {
  if (!browserMayDrive(m_headers, m_server.trustedHosts())) {
    sendError(err::kTokenMissing, kForbidden);
    return false;
  }
  const RequesterAddresses a = addresses();
  int code = checkCommandToken(m_params.first("token"), a);
  // A command or page from another computer carries its token encrypted: a
  // plain one anybody can write for their own address. This computer's own
  // browser may use the plain form.
  if (code == err::kOk && plainTokenFromElsewhere()) code = err::kTokenMissing;
  if (code != err::kOk) {
    sendError(code, kStatusOk);
    return false;
  }
  return true;
}

bool FileServerConnection::plainTokenFromElsewhere() const {
  return !isLocalRequester(addresses()) && m_params.receivedPlain("token");
}

int FileServerConnection::downloadTokenRefusal(int groupId) const {
  if (!m_server.host().fileSecurity()) return err::kOk;
  const int code = checkDownloadToken(m_params.first("token"), addresses(), groupId);
  if (code != err::kOk) return code;
  // The group ID and a requester's own address are no secret: only the token
  // the central server sealed for this client lets another computer in.
  return plainTokenFromElsewhere() ? err::kDownloadTokenMissing : err::kOk;
}

void FileServerConnection::handlePost(const std::string& url) {
  const auto parts = splitUrl(url);
  if (!parts) {
    sendError(err::kNoPostCommand, kStatusOk);
    return;
  }
  if (parts->query) parseQueryString(*parts->query, m_params, m_server.cipher());
  m_resource = parts->resource;
  m_urlPath = parts->path;

  const std::string block = readHeaderBlock(2);
  m_headers = headerLines(block);
  long long contentLength = kDefaultPostLength;
  bool lengthGiven = false;
  std::size_t start = 0;
  while (start < block.size()) {
    const std::size_t end = std::min(block.find('\n', start), block.size() - 1);
    const std::string_view headerLine = withoutLineEnd(std::string_view(block).substr(start, end - start + 1));
    start = end + 1;
    if (const auto length = contentLengthOf(headerLine, kMaxPostBody)) {
      if (*length < 0 && !equalsNoCase(parts->command, "sendfile")) {
        sendError(err::kContentLengthTooLong, kStatusOk);
        return;
      }
      contentLength = *length;
      lengthGiven = true;
    }
  }
  if (!allowCommand()) return;

  const std::string& command = parts->command;
  CommandHandlers* commands = m_server.commands();
  if (equalsNoCase(command, "sendfile")) {
    if (commands != nullptr) {
      commands->sendFile(*this, m_headers);
    } else {
      sendError(err::kUnrecognizedCommand, kStatusOk);
    }
    return;
  }
  std::string body;
  if (!readPostBody(contentLength, lengthGiven, body)) {
    sendError(err::kNoDataReturned, kStatusOk);
    return;
  }
  parseQueryString(body, m_params, m_server.cipher());
  if (equalsNoCase(command, "systemmsg")) {
    // Accepted; nothing to do and nothing to answer.
  } else if (commands == nullptr) {
    sendError(err::kUnrecognizedCommand, kStatusOk);
  } else if (equalsNoCase(command, "addFiles")) {
    commands->addFiles(*this);
  } else if (equalsNoCase(command, "filedescription")) {
    commands->fileDescription(*this);
  } else if (equalsNoCase(command, "removeUsers")) {
    commands->removeUsers(*this);
  } else if (equalsNoCase(command, "removeFiles")) {
    commands->removeFiles(*this);
  } else {
    sendError(err::kUnrecognizedCommand, kStatusOk);
  }
  drain(socket());
}

bool FileServerConnection::readPostBody(long long contentLength, bool lengthGiven, std::string& body) {
  // Lines are joined without their line ends; the count of bytes taken from the
  // socket decides when the body is complete, so a body that ends without a
  // line end needs no wait.
  long long consumed = 0;
  std::string line;
  while (consumed < contentLength) {
    const auto want = static_cast<std::size_t>(std::min<long long>(kHeaderLineBuffer, contentLength - consumed + 1));
    const std::size_t n = readLine(socket(), line, want, 2, m_deadline + kRequestDeadline);
    if (n == 0) break;
    consumed += static_cast<long long>(n);
    trimLineEnd(line);
    body += line;
    if (!lengthGiven && !dataWaiting(socket())) break;
  }
  return !body.empty();
}

void FileServerConnection::sendError(int code, int status) {
  if (m_ownClient) {
    sendText(socket(), "client=1&error=" + std::to_string(code) + "&errorMessage=" + errorTitle(code));
  } else {
    m_resource = std::string(kErrorTemplate);
    m_session->fileId = code;
    sendTemplate(status);
  }
  drain(socket());
}

void FileServerConnection::sendErrorWithMessage(int code, const std::string& message, int status) {
  if (m_ownClient) {
    sendText(socket(), "client=1&error=" + std::to_string(code) + "&errormessage=" + message);
  } else {
    m_session->setResultText(message);
    m_resource = std::string(kErrorTemplate);
    m_session->fileId = code;
    sendTemplate(status);
  }
  drain(socket());
}

void FileServerConnection::sendTemplate(int status) {
  FileServerHost& host = m_server.host();
  if (equalsNoCase(m_resource, kShareFilesTemplate)) {
    if (isLocalRequester(addresses())) {
      // Without a window of its own the browser gets the share page itself.
      if (host.startShareWindow(m_params)) {
        m_params = RequestParams();
        m_resource = std::string(kLoadingShareTemplate);
      }
    } else if (!host.remoteSharingAllowed()) {
      sendError(err::kRemoteSharingDisabled, kStatusOk);
      return;
    } else if (host.firstTimeSharing()) {
      m_resource = std::string(kFirstTimeTemplate);
    }
  }
  std::string page;
  const int code = m_server.renderer().render(PageContext{m_resource, *m_session, m_params, m_requester}, page);
  const bool errorPage = m_resource == kErrorTemplate;
  if (code != err::kOk) {
    if (errorPage) {
      sendErrorFallback(code, status);
    } else {
      sendError(code, kStatusOk);
    }
    return;
  }
  sendPage(status, page);
  // The setting is read only where it matters, not for every connection: it
  // lives in the settings store, and most requests are downloads and other pages.
  if (m_resource == kFirstTimeTemplate && host.firstTimeSharing()) host.clearFirstTimeSharing();
  drain(socket());
}

void FileServerConnection::sendPage(int status, const std::string& page) {
  std::string reply;
  if (buildHeader(reply, kTemplateHeaderBuffer, status, m_server.host().clientVersion(), std::time(nullptr)) != kHeaderOk) {
    if (m_resource == kErrorTemplate) {
      sendErrorFallback(err::kHeaderTooLong, status);
    } else {
      sendError(err::kHeaderTooLong, kStatusOk);
    }
    return;
  }
  // One buffer for header and page: the bytes are the same, and small separate
  // sends would wait on delayed acknowledgements.
  reply += "Content-type: text/html\r\n\r\n";
  reply += page;
  sendInPieces(socket(), reply);
}

void FileServerConnection::sendErrorFallback(int code, int status) {
  std::string reply;
  buildHeader(reply, 1000, status, m_server.host().clientVersion(), std::time(nullptr));
  reply += "\r\n";
  reply += errorTitle(code);
  sendInPieces(socket(), reply);
}

}  // namespace vantrel
