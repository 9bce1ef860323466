// SPDX-License-Identifier: MIT
#pragma once
// QtUserInterface: UserInterface drawn with Qt Widgets. Every call from
// another thread moves to the UI thread (blocking calls wait for the answer);
// a call made on the UI thread runs there at once. Once the client is closing
// every question gets its safe answer at once and open windows close.
//
// Built on the UI thread before the application object; the main window is
// attached once the application exists. Must outlive the application.

#include <QPointer>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/user_interface.h"
#include "ui/login_window.h"
#include "ui/main_window.h"
#include "ui/missing_files_window.h"
#include "ui/setup_wizard.h"
#include "ui/ui_dispatcher.h"

namespace vantrel::ui {

class QtUserInterface : public UserInterface {
 public:
  QtUserInterface();
  ~QtUserInterface() override;

  // The window becomes the dialogs' parent and receives the status and tray
  // state (also what was set before it came).
  void attachWindow(MainWindow* window);
  MainWindow* window() const { return m_window; }
  UiDispatcher& dispatcher() { return m_dispatcher; }
  // From now on every question gets its safe answer; open windows close. UI thread.
  void beginClosing();
  bool closing() const { return m_dispatcher.closing(); }
  // Brings an open "Missing Files.." window to the front; false when none is open.
  bool raiseMissingFiles();
  bool loginWindowOpen() const { return m_login != nullptr; }
  // How URLs are opened (the default browser unless a test says otherwise).
  void setUrlOpener(std::function<void(const std::string&)> opener) { m_openUrl = std::move(opener); }
  // The first login window logs in with these at once (a login given on the
  // command line); later ones ("Connect") start as usual.
  void setCredentials(std::string user, std::string password) {
    m_credentials.emplace(std::move(user), std::move(password));
  }

  MessageAnswer showMessage(const MessageBox& box) override;
  void runLoginDialog(LoginDialogModel& model) override;
  void setLoginStatus(std::string_view text) override;
  void showLoginPrompt() override;
  AlreadySharingChoice alreadySharing(std::string_view text, std::string_view detail) override;
  InvalidLoginChoice invalidLogin(std::string_view text, std::string_view detail) override;
  bool runInitialSetup() override;
  // What the "Initial Setup" wizard changes; without it a short welcome shows.
  void setSetupHost(SetupHost* host) { m_setupHost = host; }
  void runSyncDialog(SyncDialogModel& model) override;
  void runMissingFilesDialog(MissingFilesDialogModel& model) override;
  ExistingFileChoice fileAlreadyExists(std::string_view fileName) override;
  std::optional<std::string> chooseFolder(std::string_view title) override;
  // How chooseFolder asks (the folder dialog unless a test says otherwise). UI thread.
  void setFolderChooser(std::function<std::optional<std::string>(QWidget*, const QString&)> chooser) {
    m_chooseFolder = std::move(chooser);
  }
  void setTrayState(int icon, std::string_view tooltip, int flashIcon) override;
  void setStatusText(std::string_view connection, std::string_view transfers) override;
  bool canOpenShareWindow() override { return true; }
  std::optional<std::vector<std::string>> chooseFilesToShare(std::string_view groupName) override;
  void runProgressDialog(ProgressDialogModel& model) override;
  bool runLostConnectionWindow(LostConnectionPrompt& prompt, const std::function<bool()>& closeRequested) override;
  int runUpdateWindow(std::string_view text, std::string_view comment, UpdatePrompt& prompt) override;
  void bringToFront() override;
  void openUrl(std::string_view url) override;
  void post(std::function<void()> work) override { m_dispatcher.post(std::move(work)); }

 private:
  QWidget* parent() const { return m_window; }

  UiDispatcher m_dispatcher;
  SetupHost* m_setupHost = nullptr;
  std::optional<std::pair<std::string, std::string>> m_credentials;  // UI thread
  QPointer<MainWindow> m_window;
  QPointer<LoginWindow> m_login;
  QPointer<MissingFilesWindow> m_missing;
  std::function<void(const std::string&)> m_openUrl;
  std::function<std::optional<std::string>(QWidget*, const QString&)> m_chooseFolder;
  // What the client set before the window came (UI thread).
  struct TrayState {
    int icon = 0;
    std::string tooltip;
    int flash = 0;
  };
  std::optional<TrayState> m_tray;
  std::optional<std::pair<std::string, std::string>> m_status;
  // Views of update windows: a download may still report after its window closed.
  std::mutex m_viewsMutex;
  std::vector<std::shared_ptr<UpdateView>> m_updateViews;  // guarded by m_viewsMutex
};

}  // namespace vantrel::ui
