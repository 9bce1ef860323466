// SPDX-License-Identifier: MIT
#pragma once
// ClientActions: the main window's commands carried out by the application.
// UI thread only; the application and front end must outlive it.

#include "app/client_app.h"
#include "ui/log_window.h"
#include "ui/main_window.h"
#include "ui/qt_user_interface.h"

namespace vantrel::ui {

class ClientActions : public WindowActions {
 public:
  ClientActions(ClientApp& app, QtUserInterface& ui) : m_app(app), m_ui(ui) {}

  void connectAgain() override;
  bool confirmExit() override { return m_app.ConfirmExit(); }
  void openMissingFiles() override;
  void openSettings(QWidget* parent) override;
  void openLog(QWidget* parent) override;
  void openAbout(QWidget* parent) override;
  void openHelp() override;
  bool firstTrayProblem() override;
  // The README that "Getting Started" opens ("" when none was found).
  void setHelpFile(std::string path) { m_helpFile = std::move(path); }
  const std::string& helpFile() const { return m_helpFile; }
  // The About box's text.
  QString aboutText() const;
  void checkFirewall(QWidget* parent) override;

 private:
  ClientApp& m_app;
  QtUserInterface& m_ui;
  std::string m_helpFile;
  std::unique_ptr<LogWindow> m_logWindow;
  std::unique_ptr<LogFeed> m_logFeed;  // goes before the window
};

}  // namespace vantrel::ui
