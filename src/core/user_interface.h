// SPDX-License-Identifier: MIT
#pragma once
// UserInterface: everything the client asks or tells a person goes through this
// one abstract class. The Qt window draws it, the terminal front end prints it
// and answers every question with its safe default, and tests record it.
//
// It lives beside the lowest layer so that every subsystem can reach a person
// without knowing which front end runs; no subsystem includes a front end.
// Methods may be called from any thread; an implementation moves the call to
// its own UI thread when it needs one and blocks until the person answers.
// Every named dialog has a default that keeps the user's data and shares, so a
// front end overrides only what it draws.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantrel {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No, Retry };

struct MessageBox {
  std::string text;
  std::string title;
  MessageIcon icon = MessageIcon::None;
  MessageButtons buttons = MessageButtons::Ok;
  bool foreground = false;  // brought to the foreground over other windows
};

// The answer each kind of box gets when nobody is asked: the choice that
// keeps the user's data and shares.
inline MessageAnswer safeAnswer(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::Ok:
    case MessageButtons::OkCancel:
      return MessageAnswer::Ok;
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
      return MessageAnswer::No;
    case MessageButtons::RetryCancel:
      return MessageAnswer::Cancel;
  }
  return MessageAnswer::Ok;
}

// The logic behind the login window ("Logging Into Vantrel"). The front end
// shows the fields filled from storedUser/storedPassword, calls pressLogin and
// pressCancel for the buttons, shows the status texts it is told, and closes
// the window once closeRequested() is true. All methods are thread-safe.
class LoginDialogModel {
 public:
  static constexpr const char* kTitle = "Logging Into Vantrel";
  virtual ~LoginDialogModel() = default;
  virtual std::string storedUser() const = 0;
  virtual std::string storedPassword() const = 0;
  // The automatic login: the worker starts as soon as the window opens.
  virtual bool autoLogin() const = 0;
  // Starts the login worker; does nothing while one runs.
  virtual void pressLogin(std::string user, std::string password) = 0;
  // Abandons a running login, waits for the worker, then asks for the close.
  virtual void pressCancel() = 0;
  virtual bool busy() const = 0;
  virtual bool closeRequested() const = 0;
  // The progress bar's maximum (4 x "maxlogintime"); it advances every 250 ms.
  virtual int progressMaximum() const = 0;
};

// The logic behind a progress dialog over work that runs on another thread.
// The front end shows text(), polls finished() every 100 ms while it stays
// responsive, and calls cancel() for its Cancel button; it closes the dialog
// once finished() is true. All methods are thread-safe.
class ProgressDialogModel {
 public:
  virtual ~ProgressDialogModel() = default;
  virtual std::string text() const = 0;
  virtual bool finished() const = 0;
  virtual void cancel() = 0;
};

// The logic behind the "Files Missing" dialog: shared files that the server
// has no record of, to share again or to stop sharing. The front end shows
// rows() with a check box each, forwards "Reshare" (which reads "Stop" while
// running()), "Select All" and "Remove All", advances its progress bar up to
// progressEnd() every 500 ms while running and shows progress()/status(), and
// closes once closeRequested(). All methods are thread-safe.
class SyncDialogModel {
 public:
  struct Row {
    std::string fileName, localPath, groupName, groupDirPath;
  };
  virtual ~SyncDialogModel() = default;
  virtual std::vector<Row> rows() const = 0;
  virtual void reshare(std::vector<bool> ticked) = 0;
  virtual void stop() = 0;
  virtual void removeAll() = 0;
  virtual bool running() const = 0;
  virtual std::string status() const = 0;
  virtual int progress() const = 0;
  virtual int progressEnd() const = 0;
  virtual bool closeRequested() const = 0;
};

// The logic behind the "Missing Files.." dialog: shared files that were moved
// or deleted, one row per lower-cased name. The front end shows rows() and
// calls, for its buttons: browseProblem() and, after its file dialog,
// replaceWith(); stopSharing(); autoFind() over the folders the person picks,
// on a thread of its own, showing each line it reports, with stopSearching()
// for "Stop Searching (Keeps current results)"; and for OK, once the person
// confirmed stopSharingNames() ("I'm sure" / "Go Back!"), apply(). One call at
// a time, except stopSearching() during autoFind().
class MissingFilesDialogModel {
 public:
  struct Row {
    std::string name;          // "Missing File"
    int64_t recordedSize = 0;  // "Size"
    std::string replacement;   // "Replace With"
    int64_t replacementSize = 0;
  };
  virtual ~MissingFilesDialogModel() = default;
  virtual std::vector<Row> rows() const = 0;
  // The warning to show for this many selected rows, or "".
  virtual std::string browseProblem(std::size_t selectedRows) const = 0;
  virtual void replaceWith(const std::string& name, const std::string& path) = 0;
  // The warning for an empty selection, or "".
  virtual std::string stopSharing(const std::vector<std::string>& names) = 0;
  virtual void autoFind(const std::vector<std::string>& folders, const std::function<void(const std::string&)>& onLine) = 0;
  virtual void stopSearching() = 0;
  virtual std::vector<std::string> stopSharingNames() const = 0;
  virtual void apply() = 0;
};

// The logic behind the "Lost Connection To Vantrel" window. The front end calls
// onTimer every 5,000 ms while the window is open and tryReconnect when "Try To
// Reconnect" is pressed, then shows the returned message and keeps the window.
class LostConnectionPrompt {
 public:
  virtual ~LostConnectionPrompt() = default;
  // True when the window should close now (as if "OK" was pressed).
  virtual bool onTimer() = 0;
  virtual MessageBox tryReconnect() = 0;
};

// The logic behind the "New Version!" window. Button 1 ("Update Now", later
// "Cancel", "Try Again", "Continue") calls pressUpdate; the front end shows
// the texts and the progress it is told through UpdateView.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  virtual void setFileLine(const std::string& text) = 0;
  virtual void setProgressLine(const std::string& text) = 0;
  virtual void setProgressRange(long total) = 0;
  virtual void setProgressPosition(long position) = 0;
  // Labels and enabled states of the two buttons; "" leaves a label as it is.
  virtual void setButtons(const std::string& first, const std::string& second, bool secondEnabled) = 0;
  virtual void showNotice(const MessageBox& box) = 0;
};

class UpdatePrompt {
 public:
  virtual ~UpdatePrompt() = default;
  // Button 1. Returns true when the window should close now.
  virtual bool pressUpdate(UpdateView& view) = 0;
};

// Choices of the named dialogs.
enum class AlreadySharingChoice { GoBack, Continue };
enum class InvalidLoginChoice { Ok, CreateUser };
enum class ExistingFileChoice { Overwrite, Resume, ChangeDestination, CancelTransfer };

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Shows a message box and returns the button chosen.
  virtual MessageAnswer showMessage(const MessageBox& box) = 0;

  // The login window, modal: returns when the model asks for the close or the
  // person closes the window (which cancels a running login first).
  virtual void runLoginDialog(LoginDialogModel& model) { (void)model; }
  virtual void setLoginStatus(std::string_view text) { (void)text; }
  // A login failed: the prompt text shows again and the window stays open.
  virtual void showLoginPrompt() {}
  // "Warning!": another File Manager shares for this user from another address.
  virtual AlreadySharingChoice alreadySharing(std::string_view text, std::string_view detail) {
    (void)text, (void)detail;
    return AlreadySharingChoice::GoBack;
  }
  // "Invalid login".
  virtual InvalidLoginChoice invalidLogin(std::string_view text, std::string_view detail) {
    (void)text, (void)detail;
    return InvalidLoginChoice::Ok;
  }
  // "Initial Setup" after installation; false when it could not be shown.
  virtual bool runInitialSetup() { return true; }
  // "Files Missing", modal: returns when the person closes it. Nobody asked,
  // every record stays as it is.
  virtual void runSyncDialog(SyncDialogModel& model) { (void)model; }
  // "Missing Files..", modal, after a click on the tray notice. Nobody asked,
  // every record stays as it is.
  virtual void runMissingFilesDialog(MissingFilesDialogModel& model) { (void)model; }
  // "File Already Exists" for a download.
  virtual ExistingFileChoice fileAlreadyExists(std::string_view fileName) {
    (void)fileName;
    return ExistingFileChoice::CancelTransfer;
  }
  // A folder picked by the person (for a download's new destination), or
  // nothing when they cancel. Nobody asked, nothing is picked.
  virtual std::optional<std::string> chooseFolder(std::string_view title) {
    (void)title;
    return std::nullopt;
  }
  // The firewall report; true to mail it with the address and comments given.
  virtual bool firewallReport(std::string_view report, std::string& email, std::string& comments) {
    (void)report, (void)email, (void)comments;
    return false;
  }
  // The tray icon and its tooltip (empty: keep the tooltip); flashIcon alternates.
  virtual void setTrayState(int icon, std::string_view tooltip, int flashIcon) {
    (void)icon, (void)tooltip, (void)flashIcon;
  }
  // The two panes of the status bar.
  virtual void setStatusText(std::string_view connection, std::string_view transfers) {
    (void)connection, (void)transfers;
  }
  // The share-files window: false when this front end cannot open one, and the
  // browser then gets the share page that another computer would see.
  virtual bool canOpenShareWindow() { return false; }
  // Its file-selection dialog for the group named: the chosen files and
  // folders (full paths), or nothing when the person cancels.
  virtual std::optional<std::vector<std::string>> chooseFilesToShare(std::string_view groupName) {
    (void)groupName;
    return std::nullopt;
  }
  // Asks the browser window with this title to close.
  virtual void closeBrowserWindow(std::string_view title) { (void)title; }
  // Shows the progress dialog until the model's work has finished.
  virtual void runProgressDialog(ProgressDialogModel& model);
  // "Lost Connection To Vantrel" drawn by the front end itself: false when it
  // has no such window (the client then shows a warning box and keeps trying
  // on its own). Otherwise the window calls prompt.onTimer() every 5,000 ms and
  // prompt.tryReconnect() for "Try To Reconnect", closes when onTimer or "OK"
  // says so or once closeRequested() is true, and returns then.
  virtual bool runLostConnectionWindow(LostConnectionPrompt& prompt, const std::function<bool()>& closeRequested) {
    (void)prompt, (void)closeRequested;
    return false;
  }
  // "New Version!" drawn by the front end itself, with the fixed text and the
  // comment: -1 when it has no such window (the client then asks Yes or No and
  // shows the download's lines as login status). Otherwise button 1 calls
  // prompt.pressUpdate with the window's own view, and the result is the button
  // that closed the window: 1, or 2 for "Update Later".
  virtual int runUpdateWindow(std::string_view text, std::string_view comment, UpdatePrompt& prompt) {
    (void)text, (void)comment, (void)prompt;
    return -1;
  }
  // The main window comes to the front (a second start asked for it).
  virtual void bringToFront() {}
  // Opens a URL in the default browser.
  virtual void openUrl(std::string_view url) { (void)url; }
  // Runs `work` later on the front end's own thread (a window's UI thread);
  // a front end without one runs it at once on the calling thread.
  virtual void post(std::function<void()> work) { work(); }
};

inline void UserInterface::runProgressDialog(ProgressDialogModel& model) {
  while (!model.finished()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// Answers every question with the choice that keeps the user's data and shares
// and shows nothing: for code that runs before or without a front end.
class SilentUserInterface : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override { return safeAnswer(box.buttons); }
};

}  // namespace vantrel
