// SPDX-License-Identifier: MIT
#include "app/client_core.h"

#include <cstdio>
#include <string>

#include "app/models/missing_files_model.h"
#include "app/models/share_model.h"
#include "app/models/sync_model.h"
#include "app/port_mapping_start.h"
#include "app/session_ui_adapter.h"
#include "catalogue/sync/server_comparison.h"
#include "fileserver/client_state_host.h"
#include "fileserver/commands/sharing_commands.h"
#include "fileserver/file_server.h"
#include "launcher/update/update_installer.h"
#include "net/socket_io.h"
#include "platform/app_paths.h"
#include "platform/file_status.h"
#include "platform/process.h"
#include "protocol/client_update.h"
#include "protocol/server_login.h"
#include "protocol/server_session.h"
#include "providers/client_state_facts.h"
#include "providers/page_renderer.h"

namespace vantrel {
namespace {

constexpr int kDefaultFileServerPort = 8323;
constexpr int kDefaultUdpPort = 8324;

bool fileExists(const std::string& path) {
  FileStatus status;
  return statFile(path, status).ok();
}

}  // namespace

ClientCore::ClientCore(AppContext& app)
    : m_app(app), m_mapper(PortMapper::Options{}, [&app](std::string_view text, int level) {
        app.protocol.logText(text, level);
      }) {}

ClientCore::~ClientCore() { Shutdown(true); }

int ClientCore::Prepare() {
  SettingsStore& settings = m_app.protocol.settings;
  const int32_t port = settings.GetSettingNumber("port");
  // 0 lets the system pick a free port (tests, several clients on one machine).
  const int configured = port >= 0 && port <= 65535 ? port : kDefaultFileServerPort;
  if (!m_server) {
    m_port = configured;
    // Another client on this computer (a second settings root) may hold the
    // port: take the next free one up, before the login tells the server.
    if (configured > 0) {
      const int free = firstFreeTcpPort(configured);
      if (free > 0 && free != configured) {
        m_app.protocol.logText("Port " + std::to_string(configured) +
                                   " is in use (another client on this computer?): the file server takes port " +
                                   std::to_string(free) + " instead",
                               1);
        m_port = free;
      }
    } else if (const int picked = systemPickedTcpPort(); picked > 0) {
      // "0" leaves the port to the system. It is picked now, before the
      // login tells the server where peers find our files: told 0, the
      // server hands out no download links at all.
      m_port = picked;
    }
  }
  m_app.protocol.fileServerPort = m_port.load();
  startPortMapping();

  auto archive = std::make_unique<templates::TemplateArchive>();
  const auto file = templates::findTemplateArchive(m_app.home, m_app.programDir, m_app.sharedDataDir);
  if (!templates::LoadTemplateArchive(file, *archive, m_app.ui)) return core::kNoTemplates;
  m_templates = std::move(archive);
  m_templateVersion = m_templates->TemplateVersion();

  const std::string user = settings.GetSettingText("user");
  if (!user.empty()) m_app.protocol.contest.LoadContest(ContestTable::contestFile(m_app.home, user));
  return core::kOk;
}

std::string ClientCore::templateArchiveHint() const {
  const auto file = templates::findTemplateArchive(m_app.home, m_app.programDir, m_app.sharedDataDir);
  if (fileExists(file.string())) return file.string() + " could not be read as a page archive.";
  std::string folders;
  for (const std::string* dir : {&m_app.home, &m_app.programDir, &m_app.sharedDataDir}) {
    if (dir->empty()) continue;
    folders += (folders.empty() ? "" : ", ") + *dir;
  }
  return "It is in none of the folders it is looked for in: " + folders + ".";
}

int ClientCore::Login(const std::string& user, const std::string& password,
                      const ClientRequest::Progress* progress) {
  // The login tells the server the port that peers reach: the router's.
  ProtocolContext& ctx = m_app.protocol;
  if (m_mapper.status().phase == PortMappingStatus::Phase::kSearching) {
    m_app.ui.setLoginStatus("Opening the ports on the router");
  }
  const PortMappingStatus mapping =
      m_mapper.waitForOutcome(kRouterAnswerWait, [&ctx] { return ctx.loginAbort.load() != 0; });
  ctx.announcedTcpPort = mapping.tcpExternal != 0 ? mapping.tcpExternal : -1;
  const int code = vantrel::Login(m_app.protocol, user, password, progress);
  if (code == 0) m_app.protocol.settings.setCurrentUser(user);
  return code;
}

void ClientCore::AcceptLogin(const std::string& user, const std::string& password) {
  vantrel::AcceptLogin(m_app.protocol, user, password);
  m_app.protocol.settings.setCurrentUser(user);
}

std::filesystem::path ClientCore::contestFile() const {
  return ContestTable::contestFile(m_app.home, m_app.protocol.state.UserName());
}

int ClientCore::StartSharing(bool checkUpdate) {
  if (!m_templates) return core::kNoTemplates;  // Prepare() first
  ProtocolContext& ctx = m_app.protocol;
  SettingsStore& settings = ctx.settings;
  settings.EnsureDefaults();
  const std::string user = ctx.state.UserName();
  const std::string listPath = SharedFileList::archivePathFor(m_app.home, user);

  if (!settings.UserKeyExists(user)) {
    settings.CreateUserKey(user);
    settings.SetUserText(user, "clientid", std::to_string(ctx.state.ClientId()));
    SharedFileList probe(listPath, ctx.log, nullptr);
    if (!probe.Load()) {
      char line[200];
      std::snprintf(line, sizeof line, "Creating new list of shared files for %s", user.c_str());
      ctx.logText(line, 2);
      probe.Clear();
      probe.Save();
    }
  }
  // A known user whose list file is gone (another home, a lost file) starts
  // with an empty list, but the server's records are the only copy of what was
  // shared: comparing an empty list with them would stop sharing every file.
  // So nothing is compared in this run, and the person is told. A list that
  // exists but cannot be read still stops the start below, so it is never
  // overwritten.
  const bool listMissing = !fileExists(listPath);
  if (listMissing) {
    SharedFileList fresh(listPath, ctx.log, nullptr);
    fresh.Load();
    const std::string warning = fresh.lastError();
    ctx.logText(warning + " - starting with an empty list; the files shared before stay on the server", 1);
    m_app.ui.showMessage({warning, "Warning", MessageIcon::Warning, MessageButtons::Ok, false});
    fresh.Save();
  }

  if (checkUpdate &&
      CheckForUpdate(settings, ClientState::kOwnClientVersion, ctx.state.LatestVersion()) == update::kOffer) {
    return core::kUpdateOffered;
  }

  auto files = std::make_unique<SharedFileList>(listPath, ctx.log, &m_app.ui);
  if (!files->Load()) return core::kListNotLoaded;
  {
    std::scoped_lock lock(m_filesMutex);
    m_files = std::move(files);
  }
  SharedFileList* list = m_files.get();
  ctx.localChecksum = [list] { return list->listChecksum(); };
  // Files that no longer open are marked missing (the tray notice offers to
  // find them) at once and on every file check; then the list is compared
  // with the server's.
  ClientState& state = ctx.state;
  VerificationPass(*list, ctx, [&state] { state.QueueTrayNotice(); });
  // At start-up the person decides about files the server has no record of.
  if (!listMissing) {
    SyncModel syncDialog(m_app.ui, ctx, *list);
    CompareWithServer(*list, ctx, state.ServerChecksum(), true, &syncDialog);
  }
  ctx.compareWithServer = [this, listMissing] {
    if (listMissing) return;  // the list was lost: the server keeps its records
    std::scoped_lock lock(m_filesMutex);
    if (m_files) CompareWithServer(*m_files, m_app.protocol, m_app.protocol.state.ServerChecksum(), false);
  };
  auto verify = [this] {
    std::scoped_lock lock(m_filesMutex);
    if (m_files) VerificationPass(*m_files, m_app.protocol, [this] { m_app.protocol.state.QueueTrayNotice(); });
  };
  state.setFileCheckHook(verify);
  ctx.saveContest = [this] { m_app.protocol.contest.SaveContest(contestFile()); };

  m_shareWindow = std::make_unique<ShareModel>(m_app.ui, ctx, *m_files);
  FileServerHooks hooks;
  hooks.compareWithServer = [this] { compareAsking(); };
  hooks.verifySharedFiles = verify;
  hooks.startShareWindow = [window = m_shareWindow.get()](RequestParams& params) { return window->start(params); };
  hooks.awardTransfer = [this](int kilobytes, int files, std::string_view peer) {
    m_app.protocol.contest.AwardTransfer(kilobytes, files, peer);
  };
  hooks.fileSecurity = [&ctx] { return ctx.fileSecurity.load(); };
  hooks.log = ctx.log;
  hooks.localAddressChanged = [this](const std::string& address) { m_app.protocol.contest.setLocalAddress(address); };
  m_host = std::make_unique<ClientStateHost>(ctx.state, ctx.settings, std::move(hooks));
  ClientEndpoints endpoints;
  endpoints.fileServerPort = [this] { return m_port.load(); };
  endpoints.serverAddress = [this] { return m_app.protocol.target.host(); };
  endpoints.serverPort = [this] { return m_app.protocol.target.port(); };
  endpoints.homeDirectory = withTrailingSlash(userHomeDirectory());
  m_facts = std::make_unique<ClientStateFacts>(ctx.state, ctx.settings, ctx.key, *m_files, std::move(endpoints));
  m_commands = std::make_unique<SharingCommands>(ctx, *m_files, ctx.state);
  m_renderer = std::make_unique<providers::ClientPageRenderer>(*m_templates, *m_facts, ctx.log);
  auto server = std::make_unique<FileServer>(*m_host, *m_renderer, *m_files, m_commands.get(), m_facts.get());
  if (server->listen(static_cast<uint16_t>(m_port)) != kListenOk || server->start() != 0) {
    ctx.logText("Could not open the file server's port " + std::to_string(m_port.load()), 1);
    releaseServices();
    return core::kPortFailed;
  }
  m_port = server->port();
  ctx.fileServerPort = m_port.load();
  m_server = std::move(server);

  m_app.sessionUi.rearm();
  m_session = std::make_unique<ServerSession>(ctx, m_app.sessionUi);
  m_session->start();
  // The pings may have taken another UDP port than the one mapped.
  if (const int udp = ctx.udpPort.load(); udp > 0) m_mapper.setUdpPort(static_cast<uint16_t>(udp));
  noteAddressMismatch(ctx, m_mapper.status());
  return core::kOk;
}

int ClientCore::Shutdown(bool force) {
  ProtocolContext& ctx = m_app.protocol;
  if (ctx.state.ActiveUploads() >= 1 && !force) return core::kUploadsActive;
  if (m_session) {
    m_session->stop();
    m_session.reset();
    ctx.udpPort = -1;
  }
  if (m_server) {
    ctx.logText("Client shut down", 1);
    m_server.reset();
    ctx.fileServerPort = -1;
  }
  // The router forwards nothing to a client that has gone.
  m_mapper.stop();
  ctx.announcedTcpPort = -1;
  joinAskingComparison();
  releaseServices();
  m_templates.reset();
  m_templateVersion = 0;
  ctx.localChecksum = nullptr;
  ctx.saveContest = nullptr;
  ctx.compareWithServer = nullptr;
  ctx.state.setFileCheckHook({});
  {
    // A file check or comparison that runs now finishes before the list goes.
    std::scoped_lock lock(m_filesMutex);
    if (m_files) {
      m_files->Save();
      m_files.reset();
    }
  }
  if (ctx.state.Connected()) Logout();
  return core::kOk;
}

int ClientCore::Logout() {
  // With the contest switched off nothing was counted, and nothing is written.
  if (!m_app.protocol.state.UserName().empty() && m_app.protocol.state.Contest()) {
    m_app.protocol.contest.SaveContest(contestFile());
  }
  return LogoutRequest(m_app.protocol);
}

int ClientCore::RunUpdate() {
  if (m_app.updatedByPackageManager) {
    m_app.sessionUi.showMessage(
        MessageBox{core::kPackagedUpdateText, SessionUi::kUpdateTitle, MessageIcon::Information, MessageButtons::Ok, true});
    return update::kNotUpdated;
  }
  // The files go to a folder of their own: the launcher installs them only
  // once their signature checks, and a running program is never overwritten.
  const std::string updateDir = m_app.programDir + std::string(kUpdateFolderName) + "/";
  if (!makeDirectories(updateDir, 0755)) {
    m_app.sessionUi.showMessage(MessageBox{"Could not create " + updateDir + ", could not download the update",
                                           "Error", MessageIcon::Warning, MessageButtons::Ok, true});
    return update::kNotUpdated;
  }
  return vantrel::RunUpdate(m_app.protocol, m_app.sessionUi, m_app.protocol.state.LatestVersion(),
                            std::filesystem::path(updateDir));
}

bool ClientCore::StartLauncher() {
  std::vector<std::string> arguments;
  // The launcher reads the update setting under the same root as the client.
  if (!m_app.rootName.empty() && m_app.rootName != SettingsStore::kDefaultRootName) {
    arguments = {"/reg", "'" + m_app.rootName + "'"};
  }
  return startProgram(m_app.programDir + "vantrel", arguments);
}

bool ClientCore::pauseFileServer() {
  if (!m_server || !m_server->running()) return false;
  m_server->stopListening();
  return true;
}

bool ClientCore::resumeFileServer() {
  if (!m_server) return false;
  if (m_server->running()) return true;
  return m_server->listen(static_cast<uint16_t>(m_port)) == kListenOk && m_server->start() == 0;
}

bool ClientCore::pauseUdpPings() { return m_session && m_session->pauseUdp(); }

bool ClientCore::resumeUdpPings() { return !m_session || m_session->resumeUdp(); }

uint16_t ClientCore::firewallTcpPort() const {
  if (m_server && m_port > 0) return static_cast<uint16_t>(m_port.load());
  const int32_t port = m_app.protocol.settings.GetSettingNumber("port");
  return port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kDefaultFileServerPort;
}

uint16_t ClientCore::firewallUdpPort() const {
  if (m_session && m_session->udpPort() != 0) return m_session->udpPort();
  const int32_t port = m_app.protocol.settings.GetSettingNumber("udpport");
  return port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kDefaultUdpPort;
}

int ClientCore::templateVersion() const { return m_templateVersion; }

bool ClientCore::portMappingWanted() {
  return m_portMappingAllowed && m_app.protocol.settings.GetSettingNumber("portmapping") != 0;
}

void ClientCore::startPortMapping() {
  // Peers find us through the central server: one on this computer sends
  // nobody from outside, and the router need not be asked.
  m_serverOnThisComputer = serverIsOnThisComputer(m_app.protocol.settings.GetSettingText("serveraddress"));
  const bool wanted = portMappingWanted() && !m_serverOnThisComputer;
  if (!wanted && m_serverOnThisComputer) {
    m_app.protocol.logText("The central server is on this computer: no ports are opened on the router", 2);
  }
  m_mapper.setEnabled(wanted);
  m_mapper.start(static_cast<uint16_t>(m_port.load()), expectedUdpPort(m_app.protocol));
}

void ClientCore::portMappingSettingChanged() {
  if (!m_server) return;  // the next login reads the setting
  m_mapper.setEnabled(portMappingWanted() && !m_serverOnThisComputer);
}

PortMappingStatus ClientCore::portMapping() const {
  PortMappingStatus status = m_mapper.status();
  if (status.phase == PortMappingStatus::Phase::kNotStarted && !m_portMappingAllowed) {
    status.phase = PortMappingStatus::Phase::kOff;
  } else if (status.phase == PortMappingStatus::Phase::kNotStarted) {
    // Read at the moment: the box may have been unticked since.
    if (m_app.protocol.settings.GetSettingNumber("portmapping") == 0) status.phase = PortMappingStatus::Phase::kOff;
  } else if (m_serverOnThisComputer) {
    status.phase = PortMappingStatus::Phase::kLocalServer;
  }
  if (status.tcpPort == 0) status.tcpPort = firewallTcpPort();
  if (status.udpPort == 0) status.udpPort = firewallUdpPort();
  return status;
}

int ClientCore::fileServerPort() const { return m_port; }

std::optional<CVantreldFile> ClientCore::lookupSharedFile(int32_t fileId) {
  std::scoped_lock lock(m_filesMutex);
  if (!m_files) return std::nullopt;
  return m_files->Lookup(fileId);
}

void ClientCore::OpenMissingFiles() {
  m_app.protocol.state.ClearTrayNotice();
  SharedFileList* list = nullptr;
  {
    std::scoped_lock lock(m_filesMutex);  // the login worker sets it
    list = m_files.get();
  }
  if (list == nullptr || m_missingFilesOpen.exchange(true)) return;
  MissingFilesModel dialog(*list, m_app.protocol);
  m_app.ui.runMissingFilesDialog(dialog);
  m_missingFilesOpen = false;
}

void ClientCore::compareAsking() {
  std::scoped_lock lock(m_askingMutex);
  // While the person is still being asked, the next request asks nothing more.
  if (!m_askingDone) return;
  if (m_asking.joinable()) m_asking.join();
  SharedFileList* list = nullptr;
  {
    std::scoped_lock filesLock(m_filesMutex);
    list = m_files.get();
  }
  if (list == nullptr) return;
  m_askingDone = false;
  // The connection that found the unknown ID is answered and ends meanwhile.
  m_asking = std::jthread([this, list] {
    ProtocolContext& ctx = m_app.protocol;
    SyncModel syncDialog(m_app.ui, ctx, *list);
    CompareWithServer(*list, ctx, ctx.state.ServerChecksum(), true, &syncDialog);
    m_askingDone = true;
  });
}

void ClientCore::joinAskingComparison() {
  std::scoped_lock lock(m_askingMutex);
  if (m_asking.joinable()) m_asking.join();
}

void ClientCore::releaseServices() {
  // Share windows still open finish before the list they share into goes.
  m_shareWindow.reset();
  m_renderer.reset();
  m_commands.reset();
  m_facts.reset();
  m_host.reset();
}

}  // namespace vantrel
