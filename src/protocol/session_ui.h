// SPDX-License-Identifier: MIT
#pragma once
// SessionUi: the windows that the server protocol shows to a person — the
// lost-connection window and the update window — as a small port that the
// application connects to its UserInterface. Methods are called on worker
// threads (the watchdog, the login worker) and block while the window is open.

#include <string>

#include "core/user_interface.h"

namespace vantrel {

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
