// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(CommandLineTest, ArgumentsJoinIntoOneLine) {
  const char* argv[] = {"vantrel-client", "/start", "/reg", "'Test'"};
  EXPECT_EQ(joinArguments(4, argv), "/start /reg 'Test'");
  EXPECT_EQ(parseCommandLine(joinArguments(4, argv)).rootName, "Test");
}

TEST(CommandLineTest, ClientOptionsBesideTheLaunchersSwitches) {
  using Action = ClientOptions::Action;
  struct Case {
    const char* name;
    std::vector<const char*> args;
    Action action;
    std::string error;
  };
  const Case cases[] = {
      {"help", {"--help"}, Action::Help, ""},
      {"short help after a switch", {"/start", "-h"}, Action::Help, ""},
      {"unknown option", {"/start", "--frobnicate"}, Action::Usage, "unknown option --frobnicate"},
      {"a lone dash", {"-"}, Action::Usage, "unknown option -"},
      {"missing value", {"/start", "--user"}, Action::Usage, "--user needs a value"},
      {"server without a port", {"--server", "localhost"}, Action::Usage, "--server wants HOST:PORT"},
      {"server on port 0", {"--server", "localhost:0"}, Action::Usage, "--server wants HOST:PORT"},
      {"port out of range", {"--port", "65536"}, Action::Usage,
       "--port wants a port number (0: one the system picks)"},
      {"root with a backslash", {"--reg", "a\\b"}, Action::Usage,
       "--reg wants a name of 1 to 99 characters without \\"},
      {"launcher switches only", {"/start", "/reg", "'Test'"}, Action::Run, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<const char*> argv{"vantrel-client"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ClientOptions got = parseClientOptions(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(got.action, c.action);
    EXPECT_EQ(got.error, c.error);
  }

  const char* argv[] = {"vantrel-client", "/start",      "--user",   "Zoë & Co",      "--password-file",
                        "/tmp/pw",        "--server",    "127.0.0.1:7001", "--port", "0",
                        "--udp-port",     "8330",        "--home",   "/tmp/h",        "/reg",
                        "'Second #1'"};
  const ClientOptions o = parseClientOptions(static_cast<int>(std::size(argv)), argv);
  ASSERT_EQ(o.action, Action::Run);
  EXPECT_TRUE(o.launcher.start);
  EXPECT_EQ(o.launcher.rootName, "Second #1");
  EXPECT_EQ(o.user, "Zoë & Co");
  EXPECT_EQ(o.passwordFile, "/tmp/pw");
  EXPECT_EQ(o.serverHost, "127.0.0.1");
  EXPECT_EQ(o.serverPort, 7001);
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.udpPort, 8330);
  EXPECT_EQ(o.home, "/tmp/h");
  const char* withReg[] = {"vantrel-client", "--reg", "Family PC", "/start"};
  EXPECT_EQ(parseClientOptions(4, withReg).launcher.rootName, "Family PC");
}

}  // namespace
}  // namespace vantrel
