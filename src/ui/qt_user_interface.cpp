// SPDX-License-Identifier: MIT
#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

#include "ui/dialogs.h"
#include "ui/file_exists_dialog.h"
#include "ui/login_window.h"
#include "ui/missing_files_window.h"
#include "ui/session_windows.h"
#include "ui/sync_window.h"

namespace vantrel::ui {

QtUserInterface::QtUserInterface()
    : m_openUrl([](const std::string& url) { QDesktopServices::openUrl(QUrl(qs(url))); }),
      m_chooseFolder([](QWidget* parent, const QString& title) -> std::optional<std::string> {
        const QString folder = QFileDialog::getExistingDirectory(parent, title);
        if (folder.isEmpty()) return std::nullopt;
        return folder.toStdString();
      }) {}

QtUserInterface::~QtUserInterface() = default;

void QtUserInterface::attachWindow(MainWindow* window) {
  m_window = window;
  window->setOnClosing([this] { beginClosing(); });
  if (m_tray) window->setTrayState(m_tray->icon, qs(m_tray->tooltip), m_tray->flash);
  if (m_status) window->setStatusText(qs(m_status->first), qs(m_status->second));
}

void QtUserInterface::beginClosing() {
  m_dispatcher.beginClosing();
  // Every window still open closes; those over a caller's model let it go first.
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog == nullptr || !dialog->isVisible()) continue;
    if (auto* port = qobject_cast<PortDialog*>(dialog)) {
      port->detach();
    } else {
      dialog->reject();
    }
  }
}

bool QtUserInterface::raiseMissingFiles() {
  if (!m_missing) return false;
  m_missing->raise();
  m_missing->activateWindow();
  return true;
}

MessageAnswer QtUserInterface::showMessage(const MessageBox& box) {
  // By value: once closing, the caller may be gone before the box has closed.
  return m_dispatcher.call<MessageAnswer>(
      [this, box] {
        std::unique_ptr<QMessageBox> dialog(makeMessageBox(box, parent()));
        dialog->exec();
        return closing() ? safeAnswer(box.buttons) : messageAnswer(*dialog, box);
      },
      safeAnswer(box.buttons));
}

void QtUserInterface::runLoginDialog(LoginDialogModel& model) {
  m_dispatcher.call<bool>(
      [this, &model] {
        // The main window that the login phase brings up first is shown
        // before the login window, which then comes above it.
        QCoreApplication::sendPostedEvents(m_dispatcher.context());
        LoginWindow window(model, parent(), &m_dispatcher);
        m_login = &window;
        window.show();
        if (m_credentials) {
          window.loginAs(qs(m_credentials->first), qs(m_credentials->second));
          m_credentials.reset();
        } else {
          window.startAutomaticLogin();
        }
        window.exec();
        m_login = nullptr;
        return true;
      },
      true);
}

void QtUserInterface::setLoginStatus(std::string_view text) {
  m_dispatcher.post([this, text = qs(std::string(text))] {
    if (m_login) m_login->setStatus(text);
  });
}

void QtUserInterface::showLoginPrompt() {
  m_dispatcher.post([this] {
    if (m_login) m_login->showPrompt();
  });
}

AlreadySharingChoice QtUserInterface::alreadySharing(std::string_view text, std::string_view detail) {
  return m_dispatcher.call<AlreadySharingChoice>(
      [&] {
        ChoiceBox box(ChoiceBox::kSharingTitle, qs(std::string(text)), qs(std::string(detail)), ChoiceBox::kGoBack,
                      ChoiceBox::kContinue, parent());
        box.exec();
        return !closing() && box.answer() == 1 ? AlreadySharingChoice::Continue : AlreadySharingChoice::GoBack;
      },
      AlreadySharingChoice::GoBack);
}

InvalidLoginChoice QtUserInterface::invalidLogin(std::string_view text, std::string_view detail) {
  return m_dispatcher.call<InvalidLoginChoice>(
      [&] {
        ChoiceBox box(ChoiceBox::kInvalidTitle, qs(std::string(text)), qs(std::string(detail)), ChoiceBox::kOk,
                      ChoiceBox::kCreateUser, parent());
        box.exec();
        return !closing() && box.answer() == 1 ? InvalidLoginChoice::CreateUser : InvalidLoginChoice::Ok;
      },
      InvalidLoginChoice::Ok);
}

bool QtUserInterface::runInitialSetup() {
  return m_dispatcher.call<bool>(
      [this] {
        if (m_setupHost != nullptr) {
          SetupWizard wizard(*m_setupHost, parent());
          wizard.exec();
          return !closing();
        }
        InitialSetupWindow window(parent());
        window.exec();
        return !closing();
      },
      false);
}

void QtUserInterface::runSyncDialog(SyncDialogModel& model) {
  m_dispatcher.call<bool>(
      [this, &model] {
        SyncWindow window(model, parent(), &m_dispatcher);
        window.exec();
        return true;
      },
      true);
}

void QtUserInterface::runMissingFilesDialog(MissingFilesDialogModel& model) {
  m_dispatcher.call<bool>(
      [this, &model] {
        MissingFilesWindow window(model, parent(), &m_dispatcher);
        m_missing = &window;
        window.exec();
        m_missing = nullptr;
        return true;
      },
      true);
}

ExistingFileChoice QtUserInterface::fileAlreadyExists(std::string_view fileName) {
  return m_dispatcher.call<ExistingFileChoice>(
      [&] {
        FileExistsDialog dialog(qs(std::string(fileName)), parent());
        dialog.exec();
        return closing() ? ExistingFileChoice::CancelTransfer : dialog.choice();
      },
      ExistingFileChoice::CancelTransfer);
}

std::optional<std::string> QtUserInterface::chooseFolder(std::string_view title) {
  using Chosen = std::optional<std::string>;
  return m_dispatcher.call<Chosen>(
      [&]() -> Chosen {
        Chosen folder = m_chooseFolder(parent(), qs(std::string(title)));
        return closing() ? std::nullopt : folder;
      },
      std::nullopt);
}

void QtUserInterface::setTrayState(int icon, std::string_view tooltip, int flashIcon) {
  m_dispatcher.post([this, icon, tooltip = std::string(tooltip), flashIcon] {
    if (m_window) {
      m_window->setTrayState(icon, qs(tooltip), flashIcon);
    } else {
      if (!m_tray) m_tray.emplace();
      m_tray->icon = icon;
      if (!tooltip.empty()) m_tray->tooltip = tooltip;
      m_tray->flash = flashIcon;
    }
  });
}

void QtUserInterface::setStatusText(std::string_view connection, std::string_view transfers) {
  m_dispatcher.post([this, connection = std::string(connection), transfers = std::string(transfers)] {
    if (m_window) {
      m_window->setStatusText(qs(connection), qs(transfers));
    } else {
      m_status.emplace(connection, transfers);
    }
  });
}

std::optional<std::vector<std::string>> QtUserInterface::chooseFilesToShare(std::string_view groupName) {
  using Chosen = std::optional<std::vector<std::string>>;
  return m_dispatcher.call<Chosen>(
      [&]() -> Chosen {
        SharePicker picker(qs(std::string(groupName)), parent());
        if (picker.exec() != QDialog::Accepted || closing()) return std::nullopt;
        return picker.paths();
      },
      std::nullopt);
}

void QtUserInterface::runProgressDialog(ProgressDialogModel& model) {
  const bool shown = m_dispatcher.call<bool>(
      [this, &model] {
        ProgressWindow window(model, parent());
        window.exec();
        return !closing();
      },
      false);
  // Closing: the work stops rather than keep the client waiting.
  if (!shown) model.cancel();
}

bool QtUserInterface::runLostConnectionWindow(LostConnectionPrompt& prompt,
                                              const std::function<bool()>& closeRequested) {
  return m_dispatcher.call<bool>(
      [&] {
        LostConnectionWindow window(prompt, closeRequested, parent(), &m_dispatcher);
        window.exec();
        return true;
      },
      true);
}

int QtUserInterface::runUpdateWindow(std::string_view text, std::string_view comment, UpdatePrompt& prompt) {
  return m_dispatcher.call<int>(
      [&] {
        UpdateWindow window(qs(std::string(text)), qs(std::string(comment)), prompt, parent(), &m_dispatcher);
        {
          std::scoped_lock lock(m_viewsMutex);
          m_updateViews.push_back(window.view());
        }
        const int result = window.exec();
        if (closing()) return 2;
        return result == 1 ? 1 : 2;
      },
      2);
}

void QtUserInterface::bringToFront() {
  m_dispatcher.post([this] {
    if (m_window) m_window->bringToFront();
  });
}

void QtUserInterface::openUrl(std::string_view url) {
  m_dispatcher.post([this, url = std::string(url)] { m_openUrl(url); });
}

}  // namespace vantrel::ui
