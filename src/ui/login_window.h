// SPDX-License-Identifier: MIT
#pragma once
// "Logging Into Vantrel": the login window over a LoginDialogModel. It fills
// the fields from the stored login, starts the automatic login when the model
// says so, runs the progress bar in 250 ms steps while a login runs, shows the
// status texts it is told, and closes once the model asks. Cancel (and closing
// the window) abandons a running login off the UI thread. UI thread only.

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "core/user_interface.h"
#include "ui/port_dialog.h"

namespace vantrel::ui {

class LoginWindow : public PortDialog {
  Q_OBJECT
 public:
  static QString promptText();

  LoginWindow(LoginDialogModel& model, QWidget* parent = nullptr, UiDispatcher* dispatcher = nullptr);

  void setStatus(const QString& text);
  // A login failed: the prompt shows again and the window stays open.
  void showPrompt();
  // The automatic login, when the model asks for one; called once shown.
  void startAutomaticLogin();
  // Fills the fields and logs in at once: a login given on the command line.
  void loginAs(const QString& user, const QString& password);
  void reject() override;

  QLineEdit* userField() const { return m_user; }
  QLineEdit* passwordField() const { return m_password; }
  QPushButton* loginButton() const { return m_login; }
  QPushButton* cancelButton() const { return m_cancel; }
  QProgressBar* progressBar() const { return m_progress; }
  QLabel* statusLine() const { return m_status; }

 private:
  void login();
  void stopProgress();
  void poll();

  LoginDialogModel& m_model;
  QLineEdit* m_user;
  QLineEdit* m_password;
  QPushButton* m_login;
  QPushButton* m_cancel;
  QProgressBar* m_progress;
  QLabel* m_status;
  QTimer m_step;  // 250 ms: the progress bar
  QTimer m_poll;  // 100 ms: the model's close request and busy flag
  bool m_cancelling = false;
};

}  // namespace vantrel::ui
