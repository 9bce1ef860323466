// SPDX-License-Identifier: MIT
#include "app/models/login_model.h"

#include <cstdio>

#include "core/deployment.h"
#include "core/error_table.h"
#include "net/client_request.h"

namespace vantrel {
namespace {

constexpr int kSignedRangeLimit = 0x7FFF;  // the progress bar keeps 16 bits

std::string formatCode(const char* format, int code, const std::string& text) {
  char line[600];
  std::snprintf(line, sizeof line, format, code, text.c_str());
  return line;
}

}  // namespace

LoginModel::LoginModel(CoreOperations& core, ProtocolContext& ctx, UserInterface& ui)
    : m_core(core), m_ctx(ctx), m_ui(ui) {}

LoginModel::~LoginModel() { waitIdle(); }

std::string LoginModel::automaticUser() const {
  if (!m_atStart) return {};
  const std::string user = m_ctx.settings.GetSettingText("autologinuser");
  if (user.empty() || !m_ctx.settings.UserKeyExists(user)) return {};
  return m_ctx.settings.GetUserSecret(user, "password").empty() ? std::string() : user;
}

std::string LoginModel::storedUser() const {
  const std::string automatic = automaticUser();
  return automatic.empty() ? m_ctx.settings.GetSettingText("user") : automatic;
}

std::string LoginModel::storedPassword() const {
  const std::string user = storedUser();
  if (user.empty()) return {};
  return m_ctx.settings.GetUserSecret(user, "password");
}

bool LoginModel::autoLogin() const {
  // The users page's "Log in automatically as:" decides. (Every login writes
  // "autologin" 1, so that value cannot.)
  return !automaticUser().empty();
}

int LoginModel::progressMaximum() const {
  const int32_t seconds = m_ctx.settings.GetSettingNumber("maxlogintime");
  const int64_t steps = 4LL * (seconds > 0 ? seconds : 0);
  return static_cast<int>(steps > kSignedRangeLimit ? kSignedRangeLimit : steps);
}

std::string LoginModel::cannotConnectText() const {
  // Which address was tried, and where a person changes it.
  return std::string(kCannotConnect) + "\n\nNo Vantrel server answered at " + m_ctx.target.host() + " port " +
         std::to_string(m_ctx.target.port()) +
         ". Start the server there, or change its address in Settings, Server (\"View Settings\" in the "
         "\"Settings\" menu).";
}

std::string LoginModel::signupUrl() { return "http://" + deployment::signupHost() + "/signup.jsp"; }

void LoginModel::pressLogin(std::string user, std::string password) {
  std::scoped_lock lock(m_workerMutex);
  if (m_busy) return;
  if (m_worker.joinable()) m_worker.join();
  m_busy = true;
  m_close = false;
  m_worker = std::jthread([this, user = std::move(user), password = std::move(password)] {
    work(user, password);
    m_busy = false;
  });
}

void LoginModel::pressCancel() {
  if (m_busy) {
    {
      // Cancel stops the new login, never the one made again after it failed.
      std::scoped_lock lock(m_abortMutex);
      if (!m_restoring) m_ctx.loginAbort = 1;
    }
    waitIdle();
    m_ctx.loginAbort = 0;
  }
  m_close = true;
}

void LoginModel::waitIdle() {
  std::scoped_lock lock(m_workerMutex);
  if (m_worker.joinable()) m_worker.join();
}

void LoginModel::message(std::string text, MessageIcon icon, bool foreground) {
  m_ui.showMessage(MessageBox{std::move(text), "Error", icon, MessageButtons::Ok, foreground});
}

void LoginModel::startFailed(std::string text, MessageIcon icon, bool foreground) {
  {
    std::scoped_lock lock(m_failureMutex);
    m_startFailure = text;
  }
  message(std::move(text), icon, foreground);
}

std::string LoginModel::startFailure() const {
  std::scoped_lock lock(m_failureMutex);
  return m_startFailure;
}

void LoginModel::storeLogin(const std::string& user, const std::string& password) {
  SettingsStore& settings = m_ctx.settings;
  settings.SetSettingText("user", user);
  settings.setCurrentUser(user);
  settings.SetUserSecret("password", password);
  settings.SetSettingNumber("autologin", 1);
}

void LoginModel::work(const std::string& user, const std::string& password) {
  {
    std::scoped_lock lock(m_failureMutex);
    m_startFailure.clear();
  }
  // "Connect" while connected: the running login ends first, and comes back
  // when the new one fails, so the client stays connected and sharing.
  std::optional<std::pair<std::string, std::string>> previous;
  if (m_ctx.state.Connected()) {
    previous.emplace(m_ctx.state.UserName(), m_ctx.state.Password());
    m_ui.setLoginStatus("Logging out");
    m_core.Shutdown(true);
    const int code = m_core.Logout();
    if (code != 0) m_ctx.logText(formatCode("Error %d Logging out from server - %s", code, errorTitle(code)), 1);
  }

  if (m_core.Prepare() == core::kNoTemplates) {
    m_lastCode = core::kNoTemplates;
    const std::string hint = m_core.templateArchiveHint();
    startFailed(hint.empty() ? std::string(kNoTemplates) : std::string(kNoTemplates) + "\n\n" + hint,
                MessageIcon::None, false);
    return;
  }

  char connecting[300];
  std::snprintf(connecting, sizeof connecting, "Connecting to %s port %d",
                m_ctx.settings.GetSettingText("serveraddress").c_str(), m_ctx.settings.GetSettingNumber("serverport"));
  m_ui.setLoginStatus(connecting);

  const ClientRequest::Progress progress = [this](int code, long) {
    switch (code) {
      case progress::kSending:
        m_ui.setLoginStatus("Logging into server");
        break;
      case progress::kReadingLine:
        m_ui.setLoginStatus("Receiving server response");
        break;
      case progress::kDone:
        m_ui.setLoginStatus("Finished receiving response");
        break;
      default:
        break;
    }
    return m_ctx.loginAbort == 0 ? 1 : 0;
  };
  const int loginCode = m_core.Login(user, password, &progress);
  m_lastCode = loginCode;
  if (!loginOutcome(loginCode, user, password)) {
    if (previous) restore(previous->first, previous->second);
    m_ui.showLoginPrompt();
    return;
  }

  m_ui.setLoginStatus("Synchronizing files with server");
  const int startCode = m_core.StartSharing(true);
  m_lastCode = startCode == core::kUpdateOffered ? 0 : startCode;
  if (startOutcome(startCode, user, password)) {
    m_lastCode = 0;
    m_close = true;
  } else {
    // The server has us logged in, but nothing is shared or served: log out,
    // so that neither the server nor the status bar says "Connected"; a
    // person who was connected before gets that login back.
    m_core.Shutdown(true);
    m_ctx.state.SetConnected(false);
    if (previous) restore(previous->first, previous->second);
    m_ui.showLoginPrompt();
  }
}

void LoginModel::restore(const std::string& user, const std::string& password) {
  {
    std::scoped_lock lock(m_abortMutex);
    m_restoring = true;
    m_ctx.loginAbort = 0;  // a Cancel of the failed login is spent
  }
  struct Done {
    LoginModel& dialog;
    ~Done() {
      std::scoped_lock lock(dialog.m_abortMutex);
      dialog.m_restoring = false;
    }
  } done{*this};
  m_ctx.logText("The new login did not succeed; logging in again as " + user, 1);
  m_ui.setLoginStatus("Logging in again as " + user);
  m_core.Shutdown(true);  // whatever the failed start left running
  // The shutdown let the page archive go: without it the file server would
  // render every page from nothing.
  if (const int prepared = m_core.Prepare(); prepared != core::kOk) {
    m_ctx.logText(formatCode("Error %d preparing to log in again - %s", prepared, errorTitle(prepared)), 1);
    m_ui.setLoginStatus("Could not share again as " + user);
    return;
  }
  const int code = m_core.Login(user, password, nullptr);
  if (code != 0) {
    m_ctx.logText(formatCode("Error %d logging in again - %s", code, errorTitle(code)), 1);
    return;
  }
  const int started = m_core.StartSharing(false);
  if (started != core::kOk) m_ctx.logText(formatCode("Error %d sharing again - %s", started, errorTitle(started)), 1);
  m_ui.setLoginStatus(started == core::kOk ? "Still logged in as " + user : "Could not share again as " + user);
}

bool LoginModel::loginOutcome(int code, const std::string& user, const std::string& password) {
  switch (code) {
    case 0:
      return true;
    case err::kMalformedResultsFirst:
    case transport::kAborted:
    case transport::kAbortedPartial:
      return false;
    case err::kServerUnreachable:
      m_ui.showMessage(MessageBox{cannotConnectText(), "Error", MessageIcon::Warning, MessageButtons::Ok, true});
      return false;
    case err::kSharingElsewhere: {
      if (m_ui.alreadySharing(kSharingElsewhere, kSharingElsewhereDetail) != AlreadySharingChoice::Continue) {
        return false;
      }
      const MessageAnswer sure = m_ui.showMessage(
          MessageBox{kStopSharingQuestion, "Warning", MessageIcon::Warning, MessageButtons::YesNo, false});
      if (sure != MessageAnswer::Yes) return false;
      // The server answered before recording the login; it is made now.
      m_core.AcceptLogin(user, password);
      m_lastCode = 0;
      return true;
    }
    case err::kWrongLogin:
      if (m_ui.invalidLogin(kInvalidLogin, kInvalidLoginDetail) == InvalidLoginChoice::CreateUser) {
        m_ui.openUrl(signupUrl());
      }
      return false;
    default:
      message(formatCode("Error %d could not start client\n %s", code, errorTitle(code)), MessageIcon::Warning, true);
      return false;
  }
}

bool LoginModel::startOutcome(int code, const std::string& user, const std::string& password) {
  switch (code) {
    case core::kOk:
      storeLogin(user, password);
      return true;
    case core::kPortFailed:
      startFailed(std::string(kPortFailed) + "\n\nPort " + std::to_string(m_ctx.fileServerPort.load()) +
                      " could not be opened. Choose another port in Settings, Client, then Connect again.",
                  MessageIcon::Warning, false);
      return false;
    case core::kListNotLoaded: {
      char text[300];
      std::snprintf(text, sizeof text, "Could not load %s.dat, cannot continue", user.c_str());
      startFailed(text, MessageIcon::None, false);
      return false;
    }
    case core::kUpdateOffered:
      storeLogin(user, password);
      if (m_core.RunUpdate() == 0) {
        if (m_core.StartLauncher()) {
          m_quit = true;
          return true;
        }
        message(kLauncherFailed, MessageIcon::None, false);
      }
      // Declined, failed, or the launcher would not start: this version keeps
      // running, so it must share and keep its session as after any login.
      {
        const int next = m_core.StartSharing(false);
        m_lastCode = next;
        return startOutcome(next, user, password);
      }
    default:
      startFailed(formatCode("Error %d could not start client\n %s", code, errorTitle(code)), MessageIcon::Warning, true);
      return false;
  }
}

}  // namespace vantrel
