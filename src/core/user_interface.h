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
// Dialogs that later subsystems need are added here as named methods.

#include <string>

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

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Shows a message box and returns the button chosen.
  virtual MessageAnswer showMessage(const MessageBox& box) = 0;
};

// Answers every question with the choice that keeps the user's data and shares
// and shows nothing: for code that runs before or without a front end.
class SilentUserInterface : public UserInterface {
 public:
  MessageAnswer showMessage(const MessageBox& box) override {
    switch (box.buttons) {
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
};

}  // namespace vantrel
