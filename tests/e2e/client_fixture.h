// SPDX-License-Identifier: MIT
#pragma once
// ClientE2eTest: what the whole-program tests of clients in this process
// share. A temporary folder holds everything; vantrel-server runs on a
// database in it on loopback ports the system picks; the environment (the
// settings folder, the runtime and XDG folders) points into it; the settings
// a test client starts from are written there; each client gets a home with
// the page templates and options that name it. Tests only; the test's thread.
// VANTREL_FILEDATA names the built page archive.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/client_app.h"
#include "platform/registry_hive.h"
#include "platform/testing/env_override.h"
#include "settings/settings_store.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/temp_folder.h"

namespace vantrel::e2e {

class ClientE2eTest : public ::testing::Test {
 protected:
  // Starts the server with `serverArgs` on dir/server.db and points the
  // environment into dir, the settings at dir/config. A fatal failure when
  // the server does not start.
  void startServer(const std::vector<std::string>& serverArgs) {
    ASSERT_TRUE(server.start((dir.path() / "server.db").string(), serverArgs)) << server.output();
    env.set("VANTREL_CONFIG_DIR", (dir.path() / "config").string());
    env.set("XDG_RUNTIME_DIR", dir.path().string());
    env.set("XDG_CONFIG_HOME", (dir.path() / "xdg").string());
  }

  // The settings `root` in the hive at dir/`config`: this server, no search
  // for missing files at start, the file server on `port` (0: one the system
  // picks), any UDP port; then whatever `more` sets.
  void writeSettings(int port, const std::function<void(SettingsStore&)>& more = {},
                     const std::string& root = "Vantrel", const std::string& config = "config") {
    RegistryHive hive((dir.path() / config).string());
    SettingsStore settings(hive, root);
    settings.EnsureDefaults();
    settings.SetSettingText("serveraddress", "127.0.0.1");
    settings.SetSettingNumber("serverport", server.httpPort);
    settings.SetSettingNumber("autofind", 0);
    settings.SetSettingNumber("port", port);
    settings.SetSettingNumber("udpport", 0);
    if (more) more(settings);
  }

  // A client's home dir/`home` with the page templates in it, the program
  // folder dir/`program`, and options for a client of the settings `root`.
  AppOptions clientOptions(const std::string& home, const std::string& program = "program",
                           const std::string& root = "Vantrel") const {
    std::filesystem::create_directories(dir.path() / program);
    std::filesystem::create_directories(dir.path() / home);
    if (!std::filesystem::exists(dir.path() / home / "filedata.dat")) {
      std::filesystem::copy_file(VANTREL_FILEDATA, dir.path() / home / "filedata.dat");
    }
    AppOptions o;
    o.rootName = root;
    o.home = (dir.path() / home).string();
    o.programDir = (dir.path() / program).string() + "/";
    o.singleInstance = false;
    return o;
  }

  vantrel::testing::TempFolder dir;
  ServerProcess server;
  vantrel::testing::EnvOverride env;
};

}  // namespace vantrel::e2e
