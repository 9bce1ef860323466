// SPDX-License-Identifier: MIT
#pragma once
// ClientRequest: the client's small HTTP/1.0 client. One object per exchange
// with the central server, another user's file server or the update host: one
// TCP connection, the request written by hand, the reply read line by line with
// short waits. Used by one thread at a time; the optional login abort flag is
// shared with the login window (set there, read and cleared here) and must
// outlive the object.
//
// A reply is never read past what the exchange allows: reply bodies stop at
// kMaxReplyBytes and every exchange ends by kReplyDeadline, so a server that
// keeps sending cannot hold the client or its memory.
//
// The files of GetFile and GetUpdateFile go from the socket to the disk in
// large pieces, by splice where the kernel allows, so that their bytes do not
// pass through the process; each piece gets one progress call.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/client_socket.h"

namespace vantrel {

// Out codes of PostForm / PostEncrypted (also the requests' transport codes).
namespace transport {
inline constexpr int kOk = 0;
inline constexpr int kBadUrl = 200;
inline constexpr int kSendFailed = 202;
inline constexpr int kNoReply = 203;
inline constexpr int kAborted = 205;
inline constexpr int kAbortedPartial = 206;
inline constexpr int kCannotConnect = 211;
// True for every code above: the request never got a usable reply.
constexpr bool isTransportCode(int code) {
  return code == kBadUrl || code == kSendFailed || code == kNoReply || code == kAborted ||
         code == kAbortedPartial || code == kCannotConnect;
}
}  // namespace transport

// The client setting (text) that holds the address of this computer its
// exchanges leave from; missing or empty (the default): the system picks it.
inline constexpr std::string_view kSourceAddressSetting = "sourceaddress";

// Codes of progress callbacks.
namespace progress {
inline constexpr int kReadingLine = 100;
inline constexpr int kBodyPiece = 101;
inline constexpr int kDone = 102;
inline constexpr int kSending = 103;
inline constexpr int kConnecting = 105;
}  // namespace progress

// Results of the GET operations.
namespace get {
inline constexpr int kOk = 0;
inline constexpr int kConnectFailed = 1;
inline constexpr int kBadUrlOrStatus = 3;
inline constexpr int kSendOrReceive = 4;
inline constexpr int kWrongTypeOrWrite = 5;
inline constexpr int kStopped = 6;
inline constexpr int kPeerErrorOrNoLength = 11;
inline constexpr int kNoLength = 12;
}  // namespace get

// What GetFile needs from a download record. Called on the downloading thread.
class DownloadTarget {
 public:
  virtual ~DownloadTarget() = default;
  virtual bool resume() const = 0;
  virtual long resumeOffset() const = 0;
  virtual long expectedSize() const = 0;
  virtual void setResumeOffset(long offset) = 0;
  virtual void setLength(long length) = 0;
  virtual void setRate(long bytesPerSecond) = 0;
  // The peer's "client=..." error line.
  virtual void peerError(const std::string& line) = 0;
  // Bytes now present in the file; false stops the download.
  virtual bool progress(long bytesPresent) = 0;
};

class ClientRequest {
 public:
  // code (progress:: or a byte count) → 0 to stop, non-zero to go on.
  using Progress = std::function<int(int code, long value)>;
  // Turns a form body into cipher bytes (the session key's EncryptText).
  using Cipher = std::function<std::string(std::string_view)>;

  static constexpr std::size_t kMaxReplyBytes = 16 * 1024 * 1024;
  static constexpr std::chrono::seconds kReplyDeadline{120};
  static constexpr int kFlagNoHost = 1;
  static constexpr int kFlagBadHost = 2;

  explicit ClientRequest(std::atomic<int>* loginAbort = nullptr, int clientVersion = 201);

  int ParseUrl(std::string_view url);  // 0, or kFlagNoHost | kFlagBadHost
  int SetHost(std::string_view host);  // 0; 1 too long / does not fit; 2 look-up failed

  int GetText(std::string_view url);
  int GetFile(std::string_view url, const std::string& path, DownloadTarget& record);
  int GetUpdateFile(std::string_view url, const std::string& path, const std::function<void(long)>& onLength);

  std::string PostForm(const Progress* callback, std::string_view url, std::string_view body, int& outCode);
  std::string PostEncrypted(const Progress* callback, std::string_view url, std::string_view body, int& outCode,
                            const Cipher& cipher);

  int StatusCode() const;
  long ContentLength() const;
  void AddHeader(std::string_view text);

  // Connects from this dotted address of this computer ("": the system's
  // choice), so that a second client on one computer can stand in for another
  // computer. An address this computer does not have fails the connect.
  void setSourceAddress(std::string dottedAddress) { m_socket.setSourceAddress(std::move(dottedAddress)); }

  // Progress of GetUpdateFile (bytes so far → 0 to stop).
  void setProgress(Progress progress) { m_progress = std::move(progress); }

  const std::string& host() const { return m_host; }
  const std::string& address() const { return m_address; }
  uint16_t port() const { return m_port; }
  const std::string& target() const { return m_target; }
  const std::vector<std::string>& headerLines() const { return m_headers; }
  const std::vector<std::string>& bodyLines() const { return m_body; }
  // The local address of the last connection (the address the server sees us at).
  const std::string& localAddress() const { return m_localAddress; }

 private:
  std::string post(const Progress* callback, std::string_view url, std::string_view body, int& outCode,
                   const Cipher* cipher);
  // Clears the reply, parses the URL, adds "Host:" and the caller's headers,
  // connects and sends the request.
  int openGet(std::string_view url, const std::function<void()>& addHeaders);
  void readHeaders(std::chrono::steady_clock::time_point deadline);
  bool abortRequested();
  std::string headerValue(std::string_view name) const;

  std::atomic<int>* m_loginAbort;
  const int m_clientVersion;
  ClientSocket m_socket;
  std::string m_host;     // at most 255 characters
  std::string m_address;  // dotted IPv4
  uint16_t m_port = 80;
  std::string m_target;
  std::vector<std::string> m_extraHeaders;  // each ending in CR LF
  std::vector<std::string> m_headers;       // status line first, line ends removed
  std::vector<std::string> m_body;          // line ends kept
  std::string m_localAddress;
  Progress m_progress;
};

}  // namespace vantrel
