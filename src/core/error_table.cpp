// SPDX-License-Identifier: MIT
#include "core/error_table.h"

#include <array>

#include "core/deployment.h"

namespace vantrel {

namespace {

enum class Message {
  Default,        // kDefaultErrorMessage
  Empty,          // nothing
  Text,           // the row's own text
  SecurityToken,  // expired token, with the proxy-check link
  MaxUsers,       // the "maxusers" limit
  PerUser,        // the "maxperuser" limit
  SystemText,     // the caller's result text
};

struct Row {
  int first;
  int last;
  std::string_view title;
  Message message;
  bool backLink;
  std::string_view text = {};
};

constexpr std::string_view kPermissionDenied = "Permission denied";
constexpr std::string_view kMalformedResults = "Error adding files, server returned malformed results";

// Rows are sorted by code and never overlap: findRow stops at the first row past the code.
constexpr std::array kRows{
    Row{1, 1, "Cannot get your IP", Message::Default, true},
    Row{2, 2, "Unrecognized HTTP command", Message::Default, true},
    Row{3, 3, "Too many connections to this file manager", Message::Text, true, "Please try again later"},
    Row{4, 4, "No command in URL", Message::Default, true},
    Row{5, 5, kPermissionDenied, Message::SecurityToken, true},
    Row{6, 6, "Unrecognized get command", Message::Default, true},
    Row{7, 7, "No post command", Message::Default, true},
    Row{8, 8, "Content length too long", Message::Default, false},
    Row{9, 9, "No data returned by server", Message::Default, true},
    Row{10, 10, kPermissionDenied, Message::SecurityToken, true},
    Row{11, 11, "Unrecognized command", Message::Default, true},
    Row{12, 12, "No file ID in request", Message::Default, true},
    Row{13, 13, "Malformed file ID", Message::Default, true},
    Row{14, 14, "File does not exist", Message::Text, true,
        "The administrator of this file manager may have removed this file very recently"},
    Row{15, 19, kPermissionDenied, Message::SecurityToken, true},
    Row{20, 20, "Error creating OK header", Message::Default, true},
    Row{21, 21, "Remote Sharing Is Disabled", Message::Text, true,
        "This file manager does not allow shaing of files from a remote location.  Sharing from a remote "
        "location has been disabled in the File Manager settings."},
    Row{22, 22, "Error creating OK header", Message::Default, true},
    Row{23, 23, "No file ID in request", Message::Default, true},
    Row{24, 24, "Malformed file ID", Message::Default, true},
    Row{25, 25, "File does not exist", Message::Text, true,
        "The administrator of this file manager may have removed this file very recently"},
    Row{26, 30, kPermissionDenied, Message::SecurityToken, true},
    Row{31, 31, "Too many users currently downloading files", Message::MaxUsers, true},
    Row{32, 32,
        "File does not exist, the administrator of this file manager may have removed this file very recently",
        Message::Default, true},
    Row{33, 33, "Error creating OK header", Message::Default, true},
    Row{34, 34, "No directory ID in request", Message::Default, true},
    Row{36, 36, "No group ID in request", Message::Default, true},
    Row{37, 37, "No group name in request", Message::Default, true},
    Row{38, 38,
        "This file is in use on the computer that you are trying to download it from, it may have been opened "
        "for editing, it cannot be downloaded until it is no-longer in use",
        Message::Default, true},
    Row{43, 49, kPermissionDenied, Message::SecurityToken, true},
    Row{50, 50, "Could not create file!", Message::Default, true},
    Row{51, 51, "Error writing data to file", Message::Default, true},
    Row{52, 52, "Max downloads per user", Message::PerUser, true},
    Row{75, 75, "No files chosen to remove", Message::Default, true},
    Row{200, 200, "Error parsing URL", Message::Default, true},
    Row{201, 201, "Cannot connect", Message::Default, true},
    Row{202, 202, "Error sending data", Message::Default, true},
    Row{203, 203, "Error getting results: server returned no results", Message::Default, true},
    Row{204, 208, kMalformedResults, Message::Default, true},
    Row{210, 210, "No User IDs in remove request", Message::Default, true},
    Row{211, 211, "Could not connect to server", Message::Default, true},
    Row{212, 212, "No checksum returned by server", Message::Default, true},
    Row{215, 215, "Error adding files to server: server error - could not create directory", Message::Text, false,
        "Could not create a directory on the server"},
    Row{216, 216, "Client Error: cannot add files", Message::Text, false, "NULL dirID"},
    Row{218, 218, "No client ID returned by server", Message::Default, true},
    Row{219, 219, "Server did not return a group ID", Message::Empty, false},
    Row{220, 220, "No filename in update URL!", Message::Empty, false},
    Row{230, 230, "The server's catalogue has no category in which groups can be created", Message::Text, false,
        "Ask the operator of the server to add a category that holds groups"},
    Row{400, 400, "Cannot find requested template", Message::Default, true},
    Row{401, 401, "Cannot parse template", Message::Default, true},
    Row{501, 501,
        "File manager is not logged into the server, please close the Vantrel File Manager and relogin",
        Message::Default, true},
    Row{502, 502, "Server completed command but errors were reported - some of the files may not have been added",
        Message::Empty, false},
    Row{503, 503, "Server error processing request", Message::Default, true},
    Row{504, 504, "Server is missing parameters in request", Message::Default, true},
    Row{505, 505, "Unknown username or wrong password", Message::Empty, false},
    Row{506, 506, "Directory not found", Message::Empty, false},
    Row{507, 507, "Server malformed parameter", Message::Default, true},
    Row{508, 508, "Already logged into server", Message::Empty, false},
    Row{600, 600, "Your application has been sent, when it is approved you will be notified via Vantrel Messaging",
        Message::Empty, false},
    Row{601, 601, "You are already a member of this group", Message::Empty, false},
    Row{602, 603, "You have been banned from this group, you cannot join", Message::Empty, false},
    Row{604, 604, "This group is closed and is not accepting any members", Message::Empty, false},
    Row{605, 605, "Incorrect password", Message::Empty, false},
    Row{620, 620, "The directory you are trying to share files into does not exist", Message::Empty, false},
    Row{621, 621, "You are not a member of this group you cannot share files here", Message::Empty, false},
    Row{622, 622, "The group you are trying to share files into does not exist", Message::Empty, false},
    Row{700, 701, "Not logged into the server", Message::Text, true, "Shutdown and login to the server"},
    Row{702, 702, "No files selected", Message::Empty, false},
    Row{703, 703, "You have selected more than 500 files to add, you can only add 500 files at a time",
        Message::Empty, false},
    Row{800, 800, "Error", Message::SystemText, true},
};

constexpr bool rowsAreOrdered() {
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    if (kRows[i].first > kRows[i].last) return false;
    if (i > 0 && kRows[i - 1].last >= kRows[i].first) return false;
  }
  return true;
}
static_assert(rowsAreOrdered(), "error rows must be sorted and disjoint");

constexpr Row kUnrecognized{0, 0, "Unrecognized error", Message::Default, true};

const Row& findRow(int code) {
  for (const Row& row : kRows) {
    if (code < row.first) break;
    if (code <= row.last) return row;
  }
  return kUnrecognized;
}

std::string securityTokenText() {
  const std::string proxyCheck = "http://" + deployment::webHost() + "/checkforproxy.jsp";
  std::string text =
      "The security token may have expired, please go back and reload the page that you came from"
      "<P>It is possible that this may be a firewall/proxy problem. If you are unsure or think that this might "
      "be the case then go to ";
  text += "<A HREF='" + proxyCheck + "'>" + proxyCheck + "</A>";
  return text;
}

std::string messageFor(const Row& row, const ErrorContext& context) {
  switch (row.message) {
    case Message::Default:
      return std::string(kDefaultErrorMessage);
    case Message::Empty:
      return {};
    case Message::Text:
      return std::string(row.text);
    case Message::SecurityToken:
      return securityTokenText();
    case Message::MaxUsers:
      return "This Vantrel file manager has a maximum of " + std::to_string(context.maxUsers) +
             " users downloading at one time, please try again later";
    case Message::PerUser: {
      const std::string limit = std::to_string(context.maxPerUser);
      return "You are already downloading " + limit + " files from this file manager, this file manager only allows " +
             limit + " simultaneous downloads per user";
    }
    case Message::SystemText:
      return std::string(context.resultText.substr(0, kSystemErrorTextMax));
  }
  return {};
}

}  // namespace

ErrorText lookupError(int code, const ErrorContext& context) {
  const Row& row = findRow(code);
  return ErrorText{std::string(row.title), messageFor(row, context),
                   row.backLink ? std::string(kBackLink) : std::string()};
}

std::string errorTitle(int code) { return std::string(findRow(code).title); }

}  // namespace vantrel
