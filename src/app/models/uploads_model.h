// SPDX-License-Identifier: MIT
#pragma once
// The logic behind the "Outgoing" view: one row of texts per upload session of
// the file server, the running upload limits and the measured rate, and the
// two things a person does there — change the limits, stop a transfer.
//
// UploadsSource is what the view reads and changes; ClientUploads is that
// source over the running client. The row functions are pure. The client
// state, settings store and the file look-up must outlive ClientUploads;
// its methods may be called from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/vantreld_file.h"
#include "settings/settings_store.h"
#include "state/client_state.h"
#include "state/upload_session.h"

namespace vantrel {

// Upload limits: users served at once, bytes per second per user and in all.
struct UploadLimits {
  int maxUsers = 0;
  int maxUserBand = 0;
  int maxBand = 0;
  bool operator==(const UploadLimits&) const = default;
};

// One row of the uploads list, with the numbers its columns sort by.
struct UploadRow {
  static constexpr const char* kColumns[6] = {"Name", "User", "Progress", "Speed", "Status", "Time Left"};
  int32_t sessionId = 0;
  std::string name, user, progress, speed, status, timeLeft;
  int32_t percent = 0;
  int32_t bytesPerSecond = 0;
  int64_t secondsLeft = -1;  // -1: unknown
};

class UploadsSource {
 public:
  virtual ~UploadsSource() = default;
  // The live sessions, in ID order.
  virtual std::vector<std::shared_ptr<UploadSession>> sessions() const = 0;
  // The size of a shared file in bytes, -1 when unknown.
  virtual int64_t fileSize(int32_t fileId) const = 0;
  virtual UploadLimits limits() const = 0;
  // Bytes per second sent in the last measuring window.
  virtual uint32_t currentRate() const = 0;
  // Applies at once to running transfers and is stored for later runs.
  virtual void setLimits(const UploadLimits& limits) = 0;
  // Ends the session's transfer after the piece in flight.
  virtual void stopSession(int32_t sessionId) = 0;
};

class ClientUploads : public UploadsSource {
 public:
  // A shared file by ID, from the list of the current login.
  using FileLookup = std::function<std::optional<CVantreldFile>(int32_t fileId)>;
  ClientUploads(ClientState& state, SettingsStore& settings, FileLookup files)
      : m_state(state), m_settings(settings), m_files(std::move(files)) {}

  std::vector<std::shared_ptr<UploadSession>> sessions() const override { return m_state.Sessions(); }
  int64_t fileSize(int32_t fileId) const override;
  UploadLimits limits() const override;
  uint32_t currentRate() const override { return m_state.CurrentRate(); }
  void setLimits(const UploadLimits& limits) override;
  void stopSession(int32_t sessionId) override { m_state.MarkSessionInactive(sessionId); }

 private:
  ClientState& m_state;
  SettingsStore& m_settings;
  FileLookup m_files;
};

// Users at least 1, rates at least 1 byte per second, and no user allowed
// more than everybody together.
UploadLimits normalisedLimits(UploadLimits limits);

// A session's row. A session that has not read its request yet shows the
// texts it starts with: "None yet", "unknown" and "waiting".
UploadRow uploadRow(const UploadSession& session, int64_t fileSize);
std::vector<UploadRow> uploadRows(const UploadsSource& source);

// "%.1f k/s" of bytes per second.
std::string rateText(uint32_t bytesPerSecond);
// "H:MM:SS", or "unknown" for a negative count.
std::string timeLeftText(int64_t seconds);

}  // namespace vantrel
