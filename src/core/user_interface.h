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

#include <string>
#include <string_view>

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
  // Files of the list that the server no longer knows, or that are missing
  // here: true to remove them from the list. The default keeps them.
  virtual bool filesMissing(std::string_view title, std::string_view listing) {
    (void)title, (void)listing;
    return false;
  }
  // "File Already Exists" for a download.
  virtual ExistingFileChoice fileAlreadyExists(std::string_view fileName) {
    (void)fileName;
    return ExistingFileChoice::CancelTransfer;
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
  // The main window comes to the front (a second start asked for it).
  virtual void bringToFront() {}
  // Opens a URL in the default browser.
  virtual void openUrl(std::string_view url) { (void)url; }
};

// Answers every question with the choice that keeps the user's data and shares
// and shows nothing: for code that runs before or without a front end.
class SilentUserInterface : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override { return safeAnswer(box.buttons); }
};

}  // namespace vantrel
