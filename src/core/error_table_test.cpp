// SPDX-License-Identifier: MIT
#include "core/error_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vantrel {
namespace {

const std::string kBack(kBackLink);
const std::string kDefault(kDefaultErrorMessage);

struct Case {
  int code;
  std::string title;
  std::string message;
  std::string link;
};

TEST(ErrorTable, FixedRowsGiveTitleMessageAndLink) {
  const Case cases[] = {
      {0, "Unrecognized error", kDefault, kBack},
      {1, "Cannot get your IP", kDefault, kBack},
      {3, "Too many connections to this file manager", "Please try again later", kBack},
      {8, "Content length too long", kDefault, ""},
      {14, "File does not exist", "The administrator of this file manager may have removed this file very recently",
       kBack},
      {21, "Remote Sharing Is Disabled",
       "This file manager does not allow shaing of files from a remote location.  Sharing from a remote location has "
       "been disabled in the File Manager settings.",
       kBack},
      {22, "Error creating OK header", kDefault, kBack},
      {35, "Unrecognized error", kDefault, kBack},
      {39, "Unrecognized error", kDefault, kBack},
      {42, "Unrecognized error", kDefault, kBack},
      {206, "Error adding files, server returned malformed results", kDefault, kBack},
      {209, "Unrecognized error", kDefault, kBack},
      {215, "Error adding files to server: server error - could not create directory",
       "Could not create a directory on the server", ""},
      {216, "Client Error: cannot add files", "NULL dirID", ""},
      {217, "Unrecognized error", kDefault, kBack},
      {219, "Server did not return a group ID", "", ""},
      {230, "The server's catalogue has no category in which groups can be created",
       "Ask the operator of the server to add a category that holds groups", ""},
      {400, "Cannot find requested template", kDefault, kBack},
      {499, "Unrecognized error", kDefault, kBack},
      {505, "Unknown username or wrong password", "", ""},
      {603, "You have been banned from this group, you cannot join", "", ""},
      {701, "Not logged into the server", "Shutdown and login to the server", kBack},
      {703, "You have selected more than 500 files to add, you can only add 500 files at a time", "", ""},
      {-1, "Unrecognized error", kDefault, kBack},
      {100000, "Unrecognized error", kDefault, kBack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const ErrorText text = lookupError(c.code);
    EXPECT_EQ(text.title, c.title);
    EXPECT_EQ(text.message, c.message);
    EXPECT_EQ(text.link, c.link);
    EXPECT_EQ(errorTitle(c.code), c.title);
  }
}

TEST(ErrorTable, EveryPermissionCodeCarriesTheProxyCheckLink) {
  ::setenv("VANTREL_WEB_HOST", "web.example:8080", 1);
  const std::string want =
      "The security token may have expired, please go back and reload the page that you came from<P>It is possible "
      "that this may be a firewall/proxy problem. If you are unsure or think that this might be the case then go to "
      "<A HREF='http://web.example:8080/checkforproxy.jsp'>http://web.example:8080/checkforproxy.jsp</A>";
  for (int code : {5, 10, 15, 19, 26, 30, 43, 49}) {
    SCOPED_TRACE(code);
    const ErrorText text = lookupError(code);
    EXPECT_EQ(text.title, "Permission denied");
    EXPECT_EQ(text.message, want);
    EXPECT_EQ(text.link, kBack);
  }
  ::unsetenv("VANTREL_WEB_HOST");
  for (int code : {20, 25, 31, 50}) EXPECT_NE(lookupError(code).title, "Permission denied") << code;
}

TEST(ErrorTable, LimitMessagesShowTheCurrentLimits) {
  const ErrorContext limits{.maxUsers = 7, .maxPerUser = 5};
  EXPECT_EQ(lookupError(err::kTooManyUsers, limits).message,
            "This Vantrel file manager has a maximum of 7 users downloading at one time, please try again later");
  EXPECT_EQ(lookupError(err::kMaxDownloadsPerUser, limits).message,
            "You are already downloading 5 files from this file manager, this file manager only allows 5 "
            "simultaneous downloads per user");
  EXPECT_EQ(lookupError(err::kMaxDownloadsPerUser, limits).title, "Max downloads per user");
}

TEST(ErrorTable, SystemErrorShowsTheResultTextCutTo300) {
  const std::string longText(400, 'x');
  const ErrorText cut = lookupError(err::kSystemError, {.resultText = longText});
  EXPECT_EQ(cut.title, "Error");
  EXPECT_EQ(cut.message, std::string(300, 'x'));
  EXPECT_EQ(cut.link, kBack);
  EXPECT_EQ(lookupError(err::kSystemError, {.resultText = "Permission denied"}).message, "Permission denied");
  EXPECT_EQ(lookupError(err::kSystemError).message, "");
}

}  // namespace
}  // namespace vantrel
