// SPDX-License-Identifier: MIT
#pragma once
// FileServerConnection: one request to the file server, from its request line
// to the close. Reads and splits the request, checks where it comes from and
// its token, dispatches to the download, page and command handlers, and gives
// them the two common answers: an error reply and a rendered page. Also the
// upload session that shows the connection in the client's views.
//
// Created by FileServer on the connection's worker thread and used only there
// (the command handlers of a request run on it too). Holds references to the
// server, which outlives it.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fileserver/request_params.h"
#include "fileserver/request_reader.h"
#include "fileserver/token_check.h"
#include "net/head_reader.h"
#include "net/tcp_connection.h"
#include "state/upload_session.h"

namespace vantrel {

class FileServer;

class FileServerConnection : public TcpConnection {
 public:
  static constexpr int kStatusOk = 200;
  // Longest POST body read into memory; uploads ("sendfile") stream instead.
  static constexpr long long kMaxPostBody = 1 << 20;
  // The request line and its headers must arrive within this, however slowly.
  static constexpr std::chrono::seconds kRequestDeadline{10};
  // ... and within this while the server is near its connection limit, so that
  // senders trickling their requests give their places up to real ones. Once
  // the head is read, the request keeps its usual time.
  static constexpr std::chrono::seconds kBusyRequestDeadline{2};
  static constexpr std::size_t kHeaderBlockLimit = 3500;

  explicit FileServerConnection(FileServer& server);
  ~FileServerConnection() override;

  void handle() override;
  void refuse(bool mayWait) override;

  // The error page (or the own client's one-line error) with `status`, then drain.
  void sendError(int code, int status);
  void sendErrorWithMessage(int code, const std::string& message, int status);
  // Renders the template named by resourceName() and sends it with `status`.
  void sendTemplate(int status);

  FileServer& fileServer() const { return m_server; }
  UploadSession& session() const { return *m_session; }
  RequestParams& params() { return m_params; }
  const std::string& requester() const { return m_requester; }
  RequesterAddresses addresses() const;
  std::string& resourceName() { return m_resource; }
  const std::string& urlPath() const { return m_urlPath; }
  bool ownClient() const { return m_ownClient; }

 private:
  void handleGet(const std::string& url);
  void handlePost(const std::string& url);
  // The checks of commands that pages and scripts send: where a browser says
  // the request comes from, then the token. Answers and returns false on refusal.
  bool allowCommand();
  // True when the token came in the clear from another computer.
  bool plainTokenFromElsewhere() const;
  // 0, or the download-token error for a file shared under `groupId`.
  int downloadTokenRefusal(int groupId) const;
  // Reads header lines up to the empty line that ends them (or the limits).
  std::string readHeaderBlock(int waitSeconds);
  // When the request head must have arrived, by how busy the server is now.
  std::chrono::steady_clock::time_point headDeadline() const;
  bool readPostBody(long long contentLength, bool lengthGiven, std::string& body);

  void getFile();
  void getFileInfo();
  void sendImage();
  void sendPage(int status, const std::string& page);
  void sendErrorFallback(int code, int status);

  FileServer& m_server;
  std::shared_ptr<UploadSession> m_session;
  RequestParams m_params;
  std::string m_resource;
  std::string m_urlPath;
  std::string m_requester;
  std::vector<HeaderLine> m_headers;
  std::optional<HeadReader> m_head;  // of socket(), from handle() on
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_deadline;
  bool m_ownClient = false;
};

}  // namespace vantrel
