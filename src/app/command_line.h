// SPDX-License-Identifier: MIT
#pragma once
// The client's command line: the launcher's switches (launch_switches.h) and,
// beside them, the few options the windowed client takes ("--help", "--user",
// ...). Stateless and thread-safe.

#include <string>
#include <string_view>
#include <vector>

#include "launcher/launch_switches.h"

namespace vantrel {

class SettingsStore;

// The options the windowed client takes beside the launcher's switches, for a
// person or a script that starts it by hand: words that begin with "-" are
// options, every other word belongs to the launcher's line.
struct ClientOptions {
  enum class Action { Run, Help, Usage };  // Usage: a wrong command line, `error` says why
  Action action = Action::Run;
  std::string error;
  CommandLine launcher;
  std::string user, passwordFile, home;
  std::string serverHost;  // "" unless --server
  int serverPort = 0;
  int port = -1, udpPort = -1;  // -1 unless given
  std::vector<std::string> shares;  // --share, after the login
};

ClientOptions parseClientOptions(int argc, const char* const* argv);

// The first line of a password file, a trailing CR dropped; false when the
// file cannot be opened.
bool readPasswordFile(const std::string& file, std::string& password);

// Who to log in as at start: `user` is "" when no --user was given.
struct StartCredentials {
  std::string user, password;
};
// Stores what the options change in the settings (the server, the ports),
// before the login, and gives the credentials: the password read from
// --password-file (`filePassword`), else the one stored for the user.
StartCredentials applyClientOptions(SettingsStore& settings, const ClientOptions& options,
                                    const std::string& filePassword);
// The text of --help.
const char* clientUsage();

// The arguments after the program name joined with spaces, as one line.
std::string joinArguments(int argc, const char* const* argv);

}  // namespace vantrel
