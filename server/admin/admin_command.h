// SPDX-License-Identifier: MIT
#pragma once
// `vantrel-server admin --db FILE COMMAND [ARGS]`: the operator's commands,
// run against the database while the server has it open (SQLite waits for
// the server's writes to finish). Passwords come from standard input or a
// file, never from the command line.

#include <cstdio>
#include <vector>
#include <utility>
#include <string_view>
#include <string>

namespace vantrel::server {

// argv holds what follows "admin". The exit status: 0 done, 1 refused or
// failed (with a message on `err`), 2 a usage error.
int runAdmin(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err);

// The accounts of a users file (vantrel-server --add-user-file): one
// NAME:PASSWORD a line, the password being everything after the first ":";
// blank lines are skipped, line ends may be CR LF. False, with the line's
// number in `error`, when a line has no ":".
bool parseUsersText(std::string_view text, std::vector<std::pair<std::string, std::string>>& users,
                    std::string& error);

}  // namespace vantrel::server
