// SPDX-License-Identifier: MIT
#include "app/client_app.h"

#include <unistd.h>

#include <cstdio>

#include "app/catalogue_session.h"
#include "launcher/launcher.h"
#include "net/client_request.h"
#include "platform/app_paths.h"
#include "transfers/download_links.h"
#include "transfers/download_manager.h"
#include "transfers/download_prompts.h"

namespace vantrel {
namespace {

constexpr std::chrono::milliseconds kStatusPeriod{3000};

// "File Already Exists" and its folder choice, through the UserInterface.
class UiDownloadPrompts : public DownloadPrompts {
 public:
  explicit UiDownloadPrompts(UserInterface& ui) : m_ui(ui) {}
  FileExistsChoice fileExists(const FileExistsPrompt& prompt) override {
    switch (m_ui.fileAlreadyExists(prompt.fileName)) {
      case ExistingFileChoice::Overwrite:
        return FileExistsChoice::Overwrite;
      case ExistingFileChoice::Resume:
        return FileExistsChoice::Resume;
      case ExistingFileChoice::ChangeDestination:
        return FileExistsChoice::ChangeDestination;
      case ExistingFileChoice::CancelTransfer:
        return FileExistsChoice::CancelTransfer;
    }
    return FileExistsChoice::CancelTransfer;
  }
  std::optional<std::string> chooseFolder() override { return m_ui.chooseFolder("Change destination"); }
  void showMainWindow() override { m_ui.bringToFront(); }

 private:
  UserInterface& m_ui;
};

}  // namespace

ClientApp::ClientApp(UserInterface& ui, AppOptions options)
    : m_ui(ui),
      m_options(std::move(options)),
      m_home(clientHomeDirectory(m_options.home)),
      m_settings(m_hive, m_options.rootName),
      m_state(m_settings, m_timers),
      m_protocol(m_state, m_settings, m_key, m_target, m_contest, nullptr),
      m_sessionUi(ui) {
  if (m_options.programDir.empty()) m_options.programDir = programDirectory();
  const bool writable = m_options.programDirWritable.value_or(::access(m_options.programDir.c_str(), W_OK) == 0);
  m_appContext = std::make_unique<AppContext>(AppContext{m_protocol, m_ui, m_sessionUi, m_home, m_options.programDir,
                                                         m_options.sharedDataDir, m_options.rootName, !writable});
  m_core = std::make_unique<ClientCore>(*m_appContext);
  m_prompts = std::make_unique<UiDownloadPrompts>(m_ui);
  m_downloads = std::make_unique<DownloadManager>(m_settings, *m_prompts, &m_timers, ClientState::kOwnClientVersion);
  // A download tried again asks the catalogue for a fresh link while connected.
  m_downloads->setLinkSource([this](int32_t fileId) {
    if (m_state.Connected()) return fetchFileLink(m_protocol, fileId);
    FileLink offline;
    offline.code = transport::kCannotConnect;
    return offline;
  });
  m_catalogue = std::make_unique<CatalogueSession>(
      m_protocol, *m_downloads, m_timers, m_home, [this] { return m_core->sharedFiles(); },
      [this](std::function<void()> work) { m_ui.post(std::move(work)); });
  m_state.setTrayCallback([this](const TrayState& tray) { m_ui.setTrayState(tray.icon, tray.tooltip, tray.flashIcon); });
  m_state.Initialise();
  // A connection type applied anywhere changes the running limits at once.
  m_settings.setLimitsReloadHook([this] { m_state.ReloadLimits(); });
}

ClientApp::~ClientApp() {
  m_settings.setLimitsReloadHook(nullptr);
  if (m_statusTimer != TimerService::kNoTimer) m_timers.cancel(m_statusTimer);
  if (!m_finished) ForcedExit();
  m_catalogue.reset();
  m_downloads.reset();
  m_core.reset();
  // The totals go to the settings and the log closes last.
  m_state.Finalise();
  m_state.setLog(nullptr);
  m_protocol.log = nullptr;
}

void ClientApp::openLog() {
  m_log = std::make_unique<Log>(m_home + "log.txt", Log::kDefaultMaxSizeKb, true, &m_ui);
  m_state.setLog(m_log.get());
  m_protocol.log = m_log.get();
}

void ClientApp::recordInstallLocation() {
  // A fixed key: the launcher finds the program here whatever "/reg" chose.
  // It is not created when missing.
  if (m_hive.openKey(kInstallKey) == reg::kOk) {
    m_hive.writeValue(kInstallKey, "install", RegValue::ofText(m_options.programDir + "vantrel"));
  }
}

void ClientApp::showRefusedUpdate() {
  // The launcher refused an update before it started us; it has no window.
  const std::string text = m_settings.GetSettingText(Launcher::kUpdateErrorSetting);
  if (text.empty()) return;
  m_settings.SetSettingText(Launcher::kUpdateErrorSetting, "");
  if (m_log) m_log->logText(text, 1);
  m_ui.showMessage(MessageBox{text, "Error", MessageIcon::Warning, MessageButtons::Ok, true});
}

bool ClientApp::InitialiseWithoutLauncher() {
  if (m_options.singleInstance && !m_instance.claim(m_options.rootName, m_hive.filePath())) {
    m_anotherInstance = true;
    return false;
  }
  openLog();
  if (m_options.singleInstance) m_instance.listen(m_options.rootName, m_hive.filePath(), [this] { m_ui.bringToFront(); });
  m_statusTimer = m_timers.schedule(kStatusPeriod, [this] { statusTick(); });
  return true;
}

bool ClientApp::Initialise(const CommandLine& commandLine) {
  if (m_options.singleInstance && !m_instance.claim(m_options.rootName, m_hive.filePath())) {
    m_anotherInstance = true;
    if (commandLine.installed) {
      m_ui.showMessage(MessageBox{kAlreadyRunning, "Error", MessageIcon::Error, MessageButtons::Ok, true});
    }
    m_finished = true;
    return false;
  }
  if (!commandLine.start) {
    m_ui.showMessage(MessageBox{kNotStarted, "Error", MessageIcon::Error, MessageButtons::Ok, true});
    m_exitStatus = kExitNotStarted;
    m_finished = true;
    return false;
  }
  openLog();
  if (commandLine.uninstall) {
    m_settings.EnsureDefaults();
    m_settings.RemoveAllSettings();
    m_finished = true;
    return false;
  }
  if (m_options.singleInstance) m_instance.listen(m_options.rootName, m_hive.filePath(), [this] { m_ui.bringToFront(); });
  if (m_options.beforeLogin) m_options.beforeLogin(m_settings);
  showRefusedUpdate();
  if (commandLine.installed) {
    m_settings.EnsureDefaults();
    if (!m_ui.runInitialSetup()) return false;
    m_settings.SetAutorun(true);
  }
  recordInstallLocation();
  m_statusTimer = m_timers.schedule(kStatusPeriod, [this] { statusTick(); });
  return LoginPhase(true);
}

bool ClientApp::hasStoredLogin() {
  const std::string user = m_settings.GetSettingText("user");
  return !user.empty() && !m_settings.GetUserSecret(user, "password").empty();
}

bool ClientApp::LoginPhase(bool atStart) {
  m_settings.EnsureDefaults();
  m_ui.bringToFront();
  LoginModel dialog(*m_core, m_protocol, m_ui);
  dialog.setAtStart(atStart);
  m_ui.runLoginDialog(dialog);
  if (dialog.busy()) dialog.pressCancel();
  dialog.waitIdle();
  m_lastLoginCode = dialog.lastCode();
  m_lastStartFailure = dialog.startFailure();
  if (m_state.Connected()) {
    m_catalogue->beginLogin(m_state.UserName());
    // The user's downloads, taken up where the last run left them.
    m_downloads->openList(downloadListPath(m_home, m_state.UserName()));
  }
  return !dialog.quit();
}

bool ClientApp::Exit() {
  if (m_core->Shutdown(false) == core::kUploadsActive) {
    if (!ConfirmExit()) return false;
    m_core->Shutdown(true);
  }
  m_finished = true;
  return true;
}

bool ClientApp::ConfirmExit() {
  if (m_state.ActiveUploads() < 1) return true;
  m_ui.bringToFront();
  const MessageAnswer answer =
      m_ui.showMessage(MessageBox{kExitQuestion, "Warning", MessageIcon::Warning, MessageButtons::YesNo, false});
  return answer == MessageAnswer::Yes;
}

void ClientApp::ForcedExit() {
  m_core->Shutdown(true);
  m_finished = true;
}

std::string ClientApp::downloadListPath(const std::string& home, const std::string& user) {
  return home + user + "downloads.dat";
}

std::string ClientApp::connectionText() const { return m_state.Connected() ? "Connected" : "Disconnected"; }

std::string ClientApp::transfersText() const {
  char text[200];
  std::snprintf(text, sizeof text, "Receiving: %d files %d k/s Sending: %d files %d k/s", m_downloads->runningCount(),
                m_downloads->totalRate() / 1000, m_state.ActiveUploads(),
                static_cast<int>(m_state.CurrentRate() / 1000));
  return text;
}

void ClientApp::statusTick() { m_ui.setStatusText(connectionText(), transfersText()); }

}  // namespace vantrel
