// SPDX-License-Identifier: MIT
#pragma once
// ClientFacts: the live state of the running client that the page providers
// read: addresses, counters, settings, the upload sessions, the shared-file
// list and the session key. The application implements it over its client
// state, settings store and key holder; tests and the benchmark use fixtures.
//
// Called from connection threads that render pages, several at once, so every
// method must be thread-safe. The implementation must outlive every rendering.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class SharedFileList;
class UploadSession;

class ClientFacts {
 public:
  virtual ~ClientFacts() = default;

  // This computer's own address as text, and the file server's port.
  virtual std::string ownAddress() const = 0;
  virtual int fileServerPort() const = 0;
  // The logged-in user's name text ("Not logged into server" before a login).
  virtual std::string userName() const = 0;
  virtual std::string serverAddress() const = 0;
  virtual int serverPort() const = 0;

  virtual int activeUploads() const = 0;       // files being sent now
  virtual int peakUploads() const = 0;         // most simultaneous downloads seen
  virtual int filesSent() const = 0;           // total files sent
  virtual uint32_t currentRate() const = 0;    // bytes per second now
  virtual uint32_t peakRate() const = 0;       // highest bytes per second measured
  virtual std::string totalSentText() const = 0;  // "12.5 Megs" and the like
  virtual int64_t totalBytesSent() const = 0;     // the same total in bytes

  // The limits the file server enforces now: with the automatic connection
  // type they are worked out at start and differ from the stored settings.
  virtual int maxUsersEnforced() const = 0;
  virtual int maxPerUserEnforced() const = 0;

  // An integer setting of the current user, when it is stored.
  virtual std::optional<int32_t> setting(std::string_view name) const = 0;

  // The sessions of the session map, taken under its lock, and their number now.
  virtual std::vector<std::shared_ptr<UploadSession>> sessions() const = 0;
  virtual std::size_t sessionCount() const = 0;

  virtual SharedFileList& sharedFiles() const = 0;

  // Cipher bytes of the text under the session key ("" without a key).
  virtual std::string encryptText(std::string_view plain) const = 0;
  // A security token for links, made for the text (an address).
  virtual std::string makeToken(std::string_view text) const = 0;

  // The directory where the directory browser starts (the user's home).
  virtual std::string homeDirectory() const = 0;
};

}  // namespace vantrel
