// SPDX-License-Identifier: MIT
#pragma once
// ClientCore: the owner of the running services of one login — the template
// archive, the shared-file list of the logged-in user, the file server and the
// server session — and the operations that bring them up and down in order.
//
// CoreOperations is what the login worker and the exit path call; ClientCore
// implements it over the real subsystems, tests over fakes. Prepare, Login,
// StartSharing and Logout run on the login worker; Shutdown on the main thread
// (Exit) or the login worker (Connect), never both at once. AppContext's
// references must outlive the core.

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "catalogue/shared_file_list.h"
#include "core/user_interface.h"
#include "diag/port_mapper.h"
#include "net/client_request.h"
#include "protocol/protocol_context.h"
#include "templates/template_archive.h"

namespace vantrel {

class ClientStateFacts;
class ClientStateHost;
class FileServer;
class ShareModel;
class SharingCommands;
class ServerSession;
class SessionUiAdapter;
namespace providers {
class ClientPageRenderer;
}

// Result codes of the core's operations.
namespace core {
inline constexpr int kOk = 0;
inline constexpr int kPortFailed = 1;        // the file server could not listen
inline constexpr int kNoTemplates = 3;       // the template archive could not be loaded
inline constexpr int kListNotLoaded = 4;     // the user's shared-file list could not be loaded
inline constexpr int kUploadsActive = 100;   // Shutdown without force while uploads run
inline constexpr int kUpdateOffered = 201;   // StartSharing: a newer client is offered
// The "New Version!" window of a client that its user cannot change.
inline constexpr const char* kPackagedUpdateText =
    "There is a new version of the Vantrel File Manager available. It is installed by your system's package "
    "manager: update the Vantrel File Manager package there.";
}  // namespace core

class CoreOperations {
 public:
  virtual ~CoreOperations() = default;
  virtual int Prepare() = 0;
  virtual int Login(const std::string& user, const std::string& password, const ClientRequest::Progress* progress) = 0;
  // After Login answered 213 and the person chose to take the files over:
  // the login counts as made, exactly as when Login returns 0.
  virtual void AcceptLogin(const std::string& user, const std::string& password) = 0;
  // With checkUpdate false the update check is left out (after a declined update).
  // Needs Prepare() since the last Shutdown(): kNoTemplates without the page archive.
  virtual int StartSharing(bool checkUpdate) = 0;
  virtual int Shutdown(bool force) = 0;
  virtual int Logout() = 0;
  // Runs the offered update: 0 when every file arrived in the program's
  // update folder and the user went on.
  virtual int RunUpdate() = 0;
  // Starts the launcher that finishes an update; false when it cannot start.
  virtual bool StartLauncher() = 0;
  // After a failed Prepare: which page archive could not be read, or where it
  // was looked for, for a person to read; "" when unknown.
  virtual std::string templateArchiveHint() const { return {}; }
};

struct AppContext {
  ProtocolContext& protocol;
  UserInterface& ui;
  SessionUiAdapter& sessionUi;
  std::string home;        // the client's home, with a trailing "/"
  std::string programDir;  // where the program and its launcher live, with a trailing "/"
  std::string sharedDataDir;  // <prefix>/share/vantrel/
  std::string rootName;       // the settings root, handed to the launcher
  // The user cannot change the program (a system-wide install): an update is
  // left to the system's package manager and nothing is downloaded.
  bool updatedByPackageManager = false;
};

class ClientCore : public CoreOperations {
 public:
  explicit ClientCore(AppContext& app);
  ~ClientCore() override;
  ClientCore(const ClientCore&) = delete;
  ClientCore& operator=(const ClientCore&) = delete;

  int Prepare() override;
  std::string templateArchiveHint() const override;
  int Login(const std::string& user, const std::string& password, const ClientRequest::Progress* progress) override;
  void AcceptLogin(const std::string& user, const std::string& password) override;
  int StartSharing(bool checkUpdate) override;
  int Shutdown(bool force) override;
  int Logout() override;
  int RunUpdate() override;
  bool StartLauncher() override;

  // The file server's port as read by Prepare; the bound port once it listens.
  int fileServerPort() const;
  // The firewall check listens on the file server's port: the server lets the
  // port go meanwhile. pauseFileServer is true when the server was listening
  // and has stopped; resumeFileServer listens on the same port again (false
  // when it cannot). Front end's main thread, like Exit and Connect.
  bool pauseFileServer();
  bool resumeFileServer();
  // The same for the UDP port of the session's pings.
  bool pauseUdpPings();
  bool resumeUdpPings();
  // The ports the firewall check probes: those this client listens on while it
  // runs, else the settings "port" and "udpport" (8323 and 8324 when unset).
  uint16_t firewallTcpPort() const;
  uint16_t firewallUdpPort() const;
  // The version of the loaded template archive; 0 before it is loaded.
  int templateVersion() const;
  // Opening the ports on the home router: what it has done so far (any
  // thread), whether this run may do it at all (vantreld --no-port-mapping;
  // before the login), and the setting "portmapping" switched while running.
  PortMappingStatus portMapping() const;
  void allowPortMapping(bool allowed) { m_portMappingAllowed = allowed; }
  void portMappingSettingChanged();
  SharedFileList* sharedFiles() { return m_files.get(); }
  // A shared file of the current login by ID; nothing between logins. Any thread.
  std::optional<CVantreldFile> lookupSharedFile(int32_t fileId);
  bool sharing() const { return m_server != nullptr; }
  // A click on the tray notice of moved or deleted files: takes the notice
  // away and shows "Missing Files..", unless it is open already. Called on the
  // front end's main thread, like Exit and Connect, so the list outlives it.
  void OpenMissingFiles();
  // The contest file of the user logged in now.
  std::filesystem::path contestFile() const;

 private:
  // What the file server uses, in the order it can go once the server has stopped.
  void releaseServices();
  // A peer asked for a file ID that the list lacks: the list is compared with
  // the server's on a thread of its own, asking the person about files the
  // server has no record of. One at a time; joined before the list goes.
  void compareAsking();
  void joinAskingComparison();
  bool portMappingWanted();
  void startPortMapping();

  AppContext& m_app;
  std::atomic<int> m_port{0};  // read by page renderings on connection threads
  std::atomic<bool> m_missingFilesOpen{false};
  std::unique_ptr<templates::TemplateArchive> m_templates;
  std::atomic<int> m_templateVersion{0};  // read by the settings sheet on the UI thread
  std::mutex m_filesMutex;  // lets the file-check timer and the session use m_files safely
  std::unique_ptr<SharedFileList> m_files;  // guarded by m_filesMutex where other threads read it
  std::unique_ptr<ShareModel> m_shareWindow;
  std::unique_ptr<ClientStateHost> m_host;
  std::unique_ptr<ClientStateFacts> m_facts;
  std::unique_ptr<SharingCommands> m_commands;
  std::unique_ptr<providers::ClientPageRenderer> m_renderer;
  std::unique_ptr<FileServer> m_server;
  std::unique_ptr<ServerSession> m_session;
  std::mutex m_askingMutex;
  std::jthread m_asking;                 // guarded by m_askingMutex
  std::atomic<bool> m_askingDone{true};  // the last asking comparison has ended
  std::atomic<bool> m_portMappingAllowed{true};
  std::atomic<bool> m_serverOnThisComputer{false};
  PortMapper m_mapper;  // its worker removes the mappings before the core goes
};

}  // namespace vantrel
