// SPDX-License-Identifier: MIT
#pragma once
// UploadSession: what the client knows about one connection of its file
// server while it is open — who asked, for what, and how far the transfer
// has come. The upload views and the pages that list connected users read it.
//
// Ownership: ClientState files every session in its map and hands out
// shared pointers, so a page that lists sessions keeps each one alive while it
// reads it even when the connection ends at that moment.
// Threads: the connection's thread writes it while other threads read it.
// Numbers are atomics; texts are behind the session's own mutex and are read
// as copies.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vantrel {

class UploadSession {
 public:
  explicit UploadSession(int32_t sessionId) : m_sessionId(sessionId) {}
  UploadSession(const UploadSession&) = delete;
  UploadSession& operator=(const UploadSession&) = delete;

  int32_t sessionId() const { return m_sessionId; }

  // Dotted address of the peer; the last word of the connection's log lines.
  std::string peerAddress() const { return read(m_peerAddress); }
  void setPeerAddress(std::string value) { write(m_peerAddress, std::move(value)); }
  // The request line as received.
  std::string request() const { return read(m_request); }
  void setRequest(std::string value) { write(m_request, std::move(value)); }
  // The remote user's name, when the request carried one.
  std::string userName() const { return read(m_userName); }
  void setUserName(std::string value) { write(m_userName, std::move(value)); }
  // Outcome for the person: a result page's text, or the system's text of a
  // failure that the error page shows for code 800.
  std::string resultText() const { return read(m_resultText); }
  void setResultText(std::string value) { write(m_resultText, std::move(value)); }

  // The file asked for; error pages reuse it to carry the error code.
  std::atomic<int32_t> fileId{-1};
  std::atomic<int32_t> speed{0};       // bytes per second of this transfer
  std::atomic<int64_t> bytesSent{0};
  std::atomic<int32_t> percentage{0};  // of the file, 0 to 100
  std::atomic<bool> active{true};      // false once the transfer ended
  // A command's result page: how many of the items asked for were done and
  // how many failed, so the page never shows success over a failure.
  std::atomic<int32_t> resultDone{0};
  std::atomic<int32_t> resultFailed{0};

  // For the file server: the connection's request parameters. Not owned; the
  // connection sets it while it holds them and clears it before they go.
  std::atomic<void*> requestParams{nullptr};

 private:
  std::string read(const std::string& field) const {
    std::scoped_lock lock(m_mutex);
    return field;
  }
  void write(std::string& field, std::string value) {
    std::scoped_lock lock(m_mutex);
    field = std::move(value);
  }

  const int32_t m_sessionId;
  mutable std::mutex m_mutex;
  std::string m_peerAddress;  // guarded by m_mutex
  std::string m_request;      // guarded by m_mutex
  std::string m_userName;     // guarded by m_mutex
  std::string m_resultText;   // guarded by m_mutex
};

}  // namespace vantrel
