// SPDX-License-Identifier: MIT
#pragma once
// The client's result codes and the one table that turns a code into the texts
// shown to a person: a title (one line, used in "client=1&error=..." replies and
// message boxes), a message, and an optional back link for the error page.
//
// Every failure in the client is one of these small integers, 0 for success.
// Stateless and thread-safe. The texts are the client's own and are kept
// letter for letter, misspellings included, because pages and peers show them.

#include <string>
#include <string_view>

namespace vantrel {

namespace err {
constexpr int kOk = 0;
// File server: connections and request parsing.
constexpr int kCannotGetIp = 1;
constexpr int kUnrecognizedHttpCommand = 2;
constexpr int kTooManyConnections = 3;
constexpr int kNoCommandInUrl = 4;
constexpr int kUnrecognizedGetCommand = 6;
constexpr int kNoPostCommand = 7;
constexpr int kContentLengthTooLong = 8;
constexpr int kNoDataReturned = 9;
constexpr int kUnrecognizedCommand = 11;
constexpr int kInfoNoFileId = 12;
constexpr int kInfoMalformedFileId = 13;
constexpr int kInfoFileNotShared = 14;
constexpr int kHeaderTooLong = 20;
constexpr int kRemoteSharingDisabled = 21;
constexpr int kImageHeaderTooLong = 22;
constexpr int kNoFileId = 23;
constexpr int kMalformedFileId = 24;
constexpr int kFileNotShared = 25;
// Download token check (getfile, getfileinfo).
constexpr int kDownloadTokenMissing = 26;
constexpr int kDownloadTokenNoAddress = 27;
constexpr int kDownloadTokenWrongNetwork = 28;
constexpr int kDownloadTokenLast = 30;
constexpr int kTooManyUsers = 31;
constexpr int kFileVanished = 32;
constexpr int kDownloadHeaderTooLong = 33;
constexpr int kNoDirectoryId = 34;
constexpr int kNoGroupId = 36;
constexpr int kNoGroupName = 37;
constexpr int kFileInUse = 38;
// Description command; these fall under "Unrecognized error" on purpose.
constexpr int kDescriptionNoFileId = 39;
constexpr int kDescriptionMalformedFileId = 40;
constexpr int kDescriptionFileNotShared = 41;
constexpr int kDescriptionMissing = 42;
// Command token check.
constexpr int kTokenMissing = 43;
constexpr int kTokenNoAddress = 44;
constexpr int kTokenNoOwnAddress = 46;
constexpr int kTokenForeignTarget = 47;
constexpr int kTokenWrongOwnAddress = 48;
constexpr int kTokenWrongRequester = 49;
constexpr int kCannotCreateFile = 50;
constexpr int kCannotWriteFile = 51;
constexpr int kMaxDownloadsPerUser = 52;
constexpr int kNoFilesToRemove = 75;
// Requests to the central server.
constexpr int kBadUrl = 200;
constexpr int kCannotConnect = 201;
constexpr int kSendFailed = 202;
constexpr int kNoResults = 203;
constexpr int kMalformedResultsFirst = 204;
constexpr int kMalformedResultsLast = 208;
constexpr int kMalformedFileIdReply = 209;
constexpr int kNoUserIds = 210;
constexpr int kServerUnreachable = 211;
constexpr int kNoChecksum = 212;
constexpr int kSharingElsewhere = 213;
constexpr int kDirectoryListingEmpty = 214;
constexpr int kCannotCreateDirectory = 215;
constexpr int kNullDirectoryId = 216;
constexpr int kGroupsCurrent = 217;
constexpr int kNoClientId = 218;
constexpr int kNoGroupIdReturned = 219;
constexpr int kNoUpdateFileName = 220;
// Templates.
constexpr int kTemplateNotFound = 400;
constexpr int kTemplateParse = 401;
// Central server "result=" codes arrive as 500 + result.
constexpr int kServerResultBase = 500;
constexpr int kNotLoggedIn = 501;
constexpr int kPartialSuccess = 502;
constexpr int kServerError = 503;
constexpr int kMissingParameters = 504;
constexpr int kWrongLogin = 505;
constexpr int kDirectoryNotFound = 506;
constexpr int kMalformedParameter = 507;
constexpr int kAlreadyLoggedIn = 508;
constexpr int kApplicationSent = 600;
constexpr int kAlreadyMember = 601;
constexpr int kBannedFirst = 602;
constexpr int kBannedLast = 603;
constexpr int kGroupClosed = 604;
constexpr int kIncorrectPassword = 605;
constexpr int kShareDirectoryMissing = 620;
constexpr int kNotGroupMember = 621;
constexpr int kShareGroupMissing = 622;
// Local checks before a request is sent.
constexpr int kNotConnectedAdding = 700;
constexpr int kNotConnectedRemoving = 701;
constexpr int kNoFilesSelected = 702;
constexpr int kTooManyFilesSelected = 703;
// Carries the operating system's text (e.g. of a failed file open) as its message.
constexpr int kSystemError = 800;
}  // namespace err

struct ErrorText {
  std::string title;
  std::string message;
  std::string link;  // "" or the back link
};

// What a few messages need from the running client.
struct ErrorContext {
  int maxUsers = 10;            // the current "maxusers" limit, for code 31
  int maxPerUser = 5;           // the current "maxperuser" limit, for code 52
  std::string_view resultText;  // the session's result text, message of code 800
};

inline constexpr std::string_view kBackLink = "<A HREF='JavaScript: history.go(-1)'> Back </A>";
inline constexpr std::string_view kDefaultErrorMessage = "Plese go back and retry the operation";
// Longest part of the result text that code 800 shows.
inline constexpr std::size_t kSystemErrorTextMax = 300;

// The texts for `code`. Codes the table does not know get "Unrecognized error".
ErrorText lookupError(int code, const ErrorContext& context = {});

// Just the title: the one-line text of a code.
std::string errorTitle(int code);

}  // namespace vantrel
