// SPDX-License-Identifier: MIT
#pragma once
// The file server's sharing and administration commands: the central server's
// order to drop files ("remove_file") and the forms that pages post to share
// files ("addFiles"), stop sharing them ("removeFiles"), disconnect downloading
// users ("removeUsers") and describe a file ("filedescription").
//
// The work of each command is a function over the request's parameters that
// returns the code and the result text; SharingCommands plugs them into the
// file server and answers on the connection. Commands run on their
// connection's thread; the list, client state and context must outlive them.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "fileserver/file_server_host.h"
#include "fileserver/request_params.h"
#include "protocol/protocol_context.h"
#include "state/client_state.h"

namespace vantrel {

namespace command_error {
inline constexpr int kRemoteSharingOff = 21;
inline constexpr int kNoDirectoryId = 34;
inline constexpr int kNoGroupId = 36;
inline constexpr int kNoGroupName = 37;
inline constexpr int kNoFileId = 39;
inline constexpr int kBadFileId = 40;
inline constexpr int kFileNotShared = 41;
inline constexpr int kNoDescription = 42;
inline constexpr int kNothingToStop = 75;
inline constexpr int kNoUsers = 210;
inline constexpr int kNotConnected = 700;
inline constexpr int kNotConnectedRemove = 701;
}  // namespace command_error

struct CommandResult {
  int code = 0;
  std::string text;  // the result page's text
  int32_t done = 0;    // items that were done (files shared, removed; users disconnected)
  int32_t failed = 0;  // items that could not be done, each with its line in `text`
  std::string message;  // with code 800: the system's reason, shown on the error page
};

// The result text keeps within this many characters; the first line that would
// pass it becomes "...<BR>\n" and later lines are dropped.
inline constexpr std::size_t kResultTextRoom = 3989;
void appendResultLine(std::string& text, const std::string& line, bool& full);

// "result=0&fileID=5&fileID=7" (3 in place of 0 when any ID failed).
std::string removeFileOrder(const std::vector<std::string>& fileIds, SharedFileList& list, Log* log);
CommandResult addFilesCommand(const RequestParams& params, ProtocolContext& ctx, SharedFileList& list);
CommandResult removeFilesCommand(const RequestParams& params, ProtocolContext& ctx, SharedFileList& list);
// `stopSession` marks a session inactive; false when there is none with that ID.
CommandResult removeUsersCommand(const RequestParams& params, const std::function<bool(int32_t)>& stopSession,
                                 Log* log);
// The file ID to show on success.
CommandResult fileDescriptionCommand(const RequestParams& params, SharedFileList& list, int32_t& fileId);

class SharingCommands : public CommandHandlers {
 public:
  SharingCommands(ProtocolContext& ctx, SharedFileList& list, ClientState& state);

  void removeFile(FileServerConnection& connection) override;
  void sendFile(FileServerConnection& connection, const std::vector<HeaderLine>& headers) override;
  void addFiles(FileServerConnection& connection) override;
  void fileDescription(FileServerConnection& connection) override;
  void removeUsers(FileServerConnection& connection) override;
  void removeFiles(FileServerConnection& connection) override;

 private:
  void answer(FileServerConnection& connection, const CommandResult& result, const char* page);
  // Answers error 21 and returns true for another computer while "remotes" is off.
  static bool remoteSharingRefused(FileServerConnection& connection);

  ProtocolContext& m_ctx;
  SharedFileList& m_list;
  ClientState& m_state;
};

}  // namespace vantrel
