// SPDX-License-Identifier: MIT
#pragma once
// The values of "result=" in the server's replies. The client turns a value N
// into its code 500 + N and shows the text it keeps for that code, so these
// numbers must stay as they are.

namespace vantrel::server {

namespace result {
inline constexpr int kOk = 0;
inline constexpr int kNotLoggedIn = 1;
inline constexpr int kPartlyDone = 2;          // done, but some items failed
inline constexpr int kServerError = 3;
inline constexpr int kMissingParameter = 4;
inline constexpr int kWrongLogin = 5;          // unknown user or wrong password
inline constexpr int kDirectoryNotFound = 6;
inline constexpr int kMalformedParameter = 7;
inline constexpr int kAlreadyLoggedIn = 8;     // a login that was already used
inline constexpr int kApplicationSent = 100;
inline constexpr int kAlreadyMember = 101;
inline constexpr int kBanned = 102;
inline constexpr int kGroupClosed = 104;
inline constexpr int kWrongGroupPassword = 105;
inline constexpr int kGroupNameTaken = 110;
inline constexpr int kGroupNameTooShort = 111;
inline constexpr int kGroupPasswordTooShort = 112;
inline constexpr int kShareDirectoryMissing = 120;
inline constexpr int kNotMember = 121;
inline constexpr int kGroupMissing = 122;
}  // namespace result

// A user's relation to a group. 1 to 3 are what the client shows.
namespace member {
inline constexpr int kNone = 0;
inline constexpr int kOwner = 1;
inline constexpr int kMember = 2;
inline constexpr int kAdministrator = 3;
inline constexpr int kApplicant = 4;
inline constexpr int kBanned = 5;
}  // namespace member

// Membership policies and download permissions of a group.
namespace policy {
inline constexpr int kApply = 0;
inline constexpr int kPassword = 1;
inline constexpr int kApplyOrPassword = 2;
inline constexpr int kDenyAll = 3;
inline constexpr int kAdmitAll = 4;
inline constexpr int kPublicDownload = 2;
inline constexpr int kMemberDownload = 0;
}  // namespace policy

// Kinds of catalogue nodes; also the "type" of listing entries.
namespace node {
inline constexpr int kCategory = 1;
inline constexpr int kGroup = 2;
inline constexpr int kDirectory = 3;
inline constexpr int kFile = 4;
}  // namespace node

}  // namespace vantrel::server
