// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "settings/settings_store.h"

namespace vantrel {
namespace {

bool parsePort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  if (value > 65535) return false;
  port = value;
  return true;
}

bool validRootName(std::string_view name) {
  return !name.empty() && name.size() <= CommandLine::kMaxRootName && name.find('\\') == std::string_view::npos;
}

}  // namespace

std::string joinArguments(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}


const char* clientUsage() {
  return "usage: vantrel-client /start [/installed] [/uninstall] [/reg 'NAME'] [options]\n"
         "The Vantrel File Manager with its window and tray icon, as the launcher vantrel starts it.\n"
         "\n"
         "  /start                start the File Manager (the launcher passes it)\n"
         "  /installed            first start after installing: the \"Initial Setup\" wizard comes first\n"
         "  /uninstall            remove every setting of this settings root and end\n"
         "  /reg 'NAME'           use the settings root NAME, so that another person on this computer\n"
         "                        has settings of their own (--reg NAME does the same)\n"
         "  --user NAME           log in as NAME at once (the password from --password-file,\n"
         "                        else the stored one)\n"
         "  --password-file FILE  read the password from the first line of FILE\n"
         "  --server HOST:PORT    use this central server (stored; the automatic search is switched off)\n"
         "  --port N              this client's file server port (stored; 0: one the system picks)\n"
         "  --udp-port N          this client's UDP port for pings (stored; 0: one the system picks)\n"
         "  --home DIR            the client's data folder: log.txt and the lists of shared files\n"
         "  --share PATH          after the login, share a file or a folder tree into your personal\n"
         "                        group (repeatable)\n"
         "  -h, --help            show this text\n"
         "\n"
         "Settings live in $VANTREL_CONFIG_DIR (else $XDG_CONFIG_HOME/vantrel/), data and the log\n"
         "log.txt in --home, $VANTREL_HOME (else $XDG_DATA_HOME/vantrel/). A second start for the\n"
         "same settings brings the running window to the front.\n";
}

ClientOptions parseClientOptions(int argc, const char* const* argv) {
  ClientOptions o;
  auto fail = [&o](std::string why) {
    o.action = ClientOptions::Action::Usage;
    o.error = std::move(why);
    return o;
  };
  std::vector<const char*> words{argc > 0 ? argv[0] : "vantrel-client"};
  std::string root;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.empty() || arg[0] != '-') {
      words.push_back(argv[i]);
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      o.action = ClientOptions::Action::Help;
      return o;
    }
    static constexpr std::string_view kWithValue[] = {"--user", "--password-file", "--server", "--port",
                                                      "--udp-port", "--home", "--reg", "--share"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) == std::end(kWithValue)) {
      return fail("unknown option " + std::string(arg));
    }
    if (i + 1 >= argc) return fail(std::string(arg) + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--user") {
      o.user = value;
    } else if (arg == "--password-file") {
      o.passwordFile = value;
    } else if (arg == "--home") {
      o.home = value;
    } else if (arg == "--share") {
      o.shares.push_back(value);
    } else if (arg == "--reg") {
      if (!validRootName(value)) return fail("--reg wants a name of 1 to 99 characters without \\");
      root = value;
    } else if (arg == "--server") {
      const std::size_t colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0 ||
          !parsePort(std::string_view(value).substr(colon + 1), o.serverPort) || o.serverPort == 0) {
        return fail("--server wants HOST:PORT");
      }
      o.serverHost = value.substr(0, colon);
    } else if (arg == "--port") {
      if (!parsePort(value, o.port)) return fail("--port wants a port number (0: one the system picks)");
    } else if (!parsePort(value, o.udpPort)) {
      return fail("--udp-port wants a port number (0: one the system picks)");
    }
  }
  o.launcher = parseCommandLine(joinArguments(static_cast<int>(words.size()), words.data()));
  if (!root.empty()) o.launcher.rootName = root;
  return o;
}

bool readPasswordFile(const std::string& file, std::string& password) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::getline(in, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

StartCredentials applyClientOptions(SettingsStore& settings, const ClientOptions& options,
                                    const std::string& filePassword) {
  settings.EnsureDefaults();
  if (!options.serverHost.empty()) {
    settings.SetSettingText("serveraddress", options.serverHost);
    settings.SetSettingNumber("serverport", options.serverPort);
    settings.SetSettingNumber("autofind", 0);
  }
  if (options.port >= 0) settings.SetSettingNumber("port", options.port);
  if (options.udpPort >= 0) settings.SetSettingNumber("udpport", options.udpPort);
  if (options.user.empty()) return {};
  return {options.user,
          options.passwordFile.empty() ? settings.GetUserSecret(options.user, "password") : filePassword};
}

}  // namespace vantrel
