// SPDX-License-Identifier: MIT
#pragma once
// SessionUi: the windows that the server protocol shows to a person — the
// lost-connection window and the update window — as a small port that the
// application connects to its UserInterface. Methods are called on worker
// threads (the watchdog, the login worker) and block while the window is open.

#include <string>

#include "core/user_interface.h"

namespace vantrel {

// LostConnectionPrompt, UpdatePrompt and UpdateView live with UserInterface,
// which a front end implements to draw these windows itself.

class SessionUi {
 public:
  // The connection window, as the lost-connection window and the texts of its
  // caption, message and buttons.
  static constexpr const char* kLostTitle = "Lost Connection To Vantrel";
  static constexpr const char* kLostText =
      "Connection to the Vantrel server has been lost and the File Manager has not been able to reconnect.";
  static constexpr const char* kUpdateTitle = "New Version!";
  static constexpr const char* kUpdateText =
      "There is a new version of the Vantrel File Manager available. Would you like to update to the latest "
      "version?";

  virtual ~SessionUi() = default;

  // Shows the lost-connection window modally; returns when it closes.
  virtual void showLostConnection(LostConnectionPrompt& prompt) = 0;
  // Closes that window if it is open (from another thread); showLostConnection returns.
  virtual void closeLostConnection() = 0;
  // Shows the update window with the comment; returns the button that closed
  // it: 1 ("Update Now" / "Continue" / "Try Again") or 2 ("Update Later").
  virtual int showUpdate(const std::string& comment, UpdatePrompt& prompt) = 0;
  // A plain message box.
  virtual MessageAnswer showMessage(const MessageBox& box) = 0;
};

}  // namespace vantrel
