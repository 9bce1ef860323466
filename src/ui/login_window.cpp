// SPDX-License-Identifier: MIT
#include "ui/login_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QVBoxLayout>

#include "core/deployment.h"

namespace vantrel::ui {

QString LoginWindow::promptText() {
  return tr("Log into Vantrel with your user name and password. No user yet? Sign up at http://%1/signup.jsp")
      .arg(qs(deployment::signupHost()));
}

LoginWindow::LoginWindow(LoginDialogModel& model, QWidget* parent, UiDispatcher* dispatcher)
    : PortDialog(parent, dispatcher), m_model(model) {
  setWindowTitle(LoginDialogModel::kTitle);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  m_user = new QLineEdit;
  m_password = new QLineEdit;
  m_password->setEchoMode(QLineEdit::Password);
  form->addRow(tr("User name:"), m_user);
  form->addRow(tr("Password:"), m_password);
  layout->addLayout(form);
  m_progress = new QProgressBar;
  m_progress->setTextVisible(false);
  m_progress->hide();
  layout->addWidget(m_progress);
  m_status = new QLabel(promptText());
  m_status->setWordWrap(true);
  m_status->setMinimumHeight(40);
  layout->addWidget(m_status);
  auto* buttons = new QDialogButtonBox;
  m_login = buttons->addButton(tr("Login"), QDialogButtonBox::AcceptRole);
  m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
  m_login->setDefault(true);
  layout->addWidget(buttons);
  connect(m_login, &QPushButton::clicked, this, &LoginWindow::login);
  connect(m_cancel, &QPushButton::clicked, this, &LoginWindow::reject);
  connect(&m_step, &QTimer::timeout, this, [this] {
    if (m_progress->value() < m_progress->maximum()) m_progress->setValue(m_progress->value() + 1);
  });
  connect(&m_poll, &QTimer::timeout, this, &LoginWindow::poll);

  const std::string user = model.storedUser();
  m_user->setText(qs(user));
  if (!user.empty()) m_password->setText(qs(model.storedPassword()));
  resize(380, 200);
  m_poll.start(100);
}

void LoginWindow::startAutomaticLogin() {
  if (!detached() && m_model.autoLogin()) login();
}

void LoginWindow::loginAs(const QString& user, const QString& password) {
  m_user->setText(user);
  m_password->setText(password);
  login();
}

void LoginWindow::login() {
  if (detached() || m_model.busy()) return;
  m_model.pressLogin(ss(m_user->text()), ss(m_password->text()));
  m_progress->setRange(0, m_model.progressMaximum());
  m_progress->setValue(0);
  m_progress->show();
  m_step.start(250);
}

void LoginWindow::stopProgress() {
  m_step.stop();
  m_progress->hide();
}

void LoginWindow::setStatus(const QString& text) { m_status->setText(text); }

void LoginWindow::showPrompt() {
  stopProgress();
  m_status->setText(promptText());
}

void LoginWindow::poll() {
  if (detached()) return;
  if (m_model.closeRequested()) {
    stopProgress();
    m_poll.stop();
    accept();
  } else if (!m_model.busy() && m_step.isActive()) {
    // The worker ended without closing (a failed login): the bar goes.
    stopProgress();
  }
}

void LoginWindow::reject() {
  if (detached()) {
    QDialog::reject();
    return;
  }
  if (m_cancelling) return;
  m_cancelling = true;
  m_login->setEnabled(false);
  m_cancel->setEnabled(false);
  // The worker may be waiting for this thread (a question it asks): wait for
  // it elsewhere while events are handled.
  runBlocking([this] { m_model.pressCancel(); });
  stopProgress();
  m_poll.stop();
  QDialog::reject();
}

}  // namespace vantrel::ui
