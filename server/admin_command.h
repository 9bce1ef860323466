// SPDX-License-Identifier: MIT
#pragma once
// `vantrel-server admin --db FILE COMMAND [ARGS]`: the operator's commands,
// run against the database while the server has it open (SQLite waits for
// the server's writes to finish). Passwords come from standard input or a
// file, never from the command line.

#include <cstdio>

namespace vantrel::server {

// argv holds what follows "admin". The exit status: 0 done, 1 refused or
// failed (with a message on `err`), 2 a usage error.
int runAdmin(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err);

}  // namespace vantrel::server
