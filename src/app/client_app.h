// SPDX-License-Identifier: MIT
#pragma once
// ClientApp: the application object, one per process. It builds the
// process-wide objects (settings hive and store, timers, client state, log,
// session key, server target, contest table, protocol context), runs the
// start-up sequence from the command line, the login phase ("Connect"), the
// status text every 3,000 ms and "Exit". Everything shown to a person goes
// through the UserInterface it is given, which must outlive it.
//
// Start-up, Connect and Exit come from the front end's main thread; the status
// tick runs on the timer thread and only reads.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/client_core.h"
#include "app/command_line.h"
#include "app/models/login_model.h"
#include "app/session_ui_adapter.h"
#include "core/log.h"
#include "core/timer_service.h"
#include "crypto/session_key.h"
#include "platform/registry_hive.h"
#include "platform/single_instance.h"
#include "protocol/contest_table.h"
#include "protocol/protocol_context.h"
#include "protocol/server_target.h"
#include "settings/settings_store.h"
#include "state/client_state.h"

namespace vantrel {

class CatalogueSession;
class DownloadManager;
class DownloadPrompts;

struct AppOptions {
  std::string rootName = std::string(SettingsStore::kDefaultRootName);
  std::string home;           // --home; "" for the default
  std::string programDir;     // "" for the directory of the running program
  std::string sharedDataDir;  // where "filedata.dat" is looked for last
  bool singleInstance = true;
  // Whether the user may change the program folder; unset: as the file
  // system says. When not, updates are left to the system's package manager.
  std::optional<bool> programDirWritable;
  // Settings given on the command line, stored once this instance holds its
  // settings root and before the login.
  std::function<void(SettingsStore&)> beforeLogin;
};

class ClientApp {
 public:
  static constexpr const char* kWindowTitle = "Vantrel File Manager";
  static constexpr const char* kNotStarted = "Please run vantrel to start the file manager";
  static constexpr const char* kAlreadyRunning =
      "The Vantrel File Manager is already running, please close it and re-install";
  static constexpr const char* kExitQuestion =
      "There are users downloading from your file manager? Do you want to shutdown?";
  static constexpr const char* kInstallKey = "Software\\Vantrel\\VtClient\\settings";
  // The front end that cannot ask for a login (the terminal one) says this
  // when there is no stored user name to log in with, and ends.
  static constexpr const char* kNoStoredLogin =
      "no stored user name and password: log in once with vantreld --user NAME --password-file FILE "
      "(it stores them for this settings root), then start vantrel again";

  // Exit statuses of a front end's process, the same for both front ends.
  static constexpr int kExitOk = 0;
  static constexpr int kExitNotStarted = 64;     // started without "/start" (not by the launcher)
  static constexpr int kExitNoStoredLogin = 3;   // terminal front end: nothing to log in with

  ClientApp(UserInterface& ui, AppOptions options);
  ~ClientApp();
  ClientApp(const ClientApp&) = delete;
  ClientApp& operator=(const ClientApp&) = delete;

  // The start-up sequence of the launched client; false when the process
  // should end now (with exitStatus()), true when it runs on (connected or
  // not) until Exit.
  bool Initialise(const CommandLine& commandLine);
  // The status the process ends with after Initialise returned false:
  // kExitNotStarted when "/start" was missing, else kExitOk.
  int exitStatus() const { return m_exitStatus; }
  // Whether Initialise or InitialiseWithoutLauncher ended because another
  // instance runs for these settings (it was asked to come forward).
  bool anotherInstanceRuns() const { return m_anotherInstance; }
  // Whether the settings name a user whose password is stored, so that a
  // login without a window has something to log in with.
  bool hasStoredLogin();
  // The part of start-up that the terminal client runs: log, status timer,
  // single instance; false when another instance runs.
  bool InitialiseWithoutLauncher();
  // The login phase, also "Connect": false when the process must end (an
  // update was handed to the launcher). At the start of the program the
  // login may run by itself (the automatic login of the users page).
  bool LoginPhase(bool atStart = false);
  // "Exit": false when the user chose to keep running (active uploads).
  bool Exit();
  // The question of "Exit" while others are downloading: false when the user
  // keeps the client running. A windowed front end asks it before it closes
  // its windows, then shuts down with ForcedExit.
  bool ConfirmExit();
  // Exit without asking (a signal): shuts down, forced.
  void ForcedExit();

  // The two status-bar texts as the 3,000 ms tick sets them.
  std::string connectionText() const;
  std::string transfersText() const;
  void statusTick();

  int lastLoginCode() const { return m_lastLoginCode; }
  // The message of the start-up step that failed in the last login phase, "" when none did.
  const std::string& lastStartFailure() const { return m_lastStartFailure; }
  const std::string& home() const { return m_home; }
  RegistryHive& hive() { return m_hive; }
  SettingsStore& settings() { return m_settings; }
  ClientState& state() { return m_state; }
  ClientCore& core() { return *m_core; }
  ProtocolContext& protocol() { return m_protocol; }
  Log* log() { return m_log.get(); }
  DownloadManager& downloads() { return *m_downloads; }
  // "<home><user>downloads.dat", the user's saved download list.
  static std::string downloadListPath(const std::string& home, const std::string& user);
  // The catalogue the window's views browse, fresh for every login.
  CatalogueSession& catalogue() { return *m_catalogue; }

 private:
  void openLog();
  void recordInstallLocation();
  void showRefusedUpdate();

  UserInterface& m_ui;
  AppOptions m_options;
  std::string m_home;
  RegistryHive m_hive;
  SettingsStore m_settings;
  TimerService m_timers;
  ClientState m_state;
  SessionKey m_key;
  ServerTarget m_target;
  ContestTable m_contest;
  ProtocolContext m_protocol;
  std::unique_ptr<Log> m_log;
  SessionUiAdapter m_sessionUi;
  std::unique_ptr<AppContext> m_appContext;
  std::unique_ptr<ClientCore> m_core;
  std::unique_ptr<DownloadPrompts> m_prompts;
  std::unique_ptr<DownloadManager> m_downloads;
  std::unique_ptr<CatalogueSession> m_catalogue;  // its requests use the downloads and the core
  SingleInstance m_instance;
  TimerService::TimerId m_statusTimer = TimerService::kNoTimer;
  int m_lastLoginCode = 0;
  int m_exitStatus = kExitOk;
  std::string m_lastStartFailure;
  bool m_finished = false;
  bool m_anotherInstance = false;
};

}  // namespace vantrel
