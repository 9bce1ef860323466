// SPDX-License-Identifier: MIT
#include "ui/firewall_window.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <atomic>
#include <thread>

namespace vantrel::ui {

FirewallReportDialog::FirewallReportDialog(const QString& report, QWidget* parent) : QDialog(parent) {
  setWindowTitle(kTitle);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Your computer could not be reached from outside. Send this report to get help:"));
  m_report = new QPlainTextEdit(report);
  m_report->setReadOnly(true);
  m_report->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(m_report, 1);
  auto* form = new QFormLayout;
  m_email = new QLineEdit;
  m_comments = new QPlainTextEdit;
  m_comments->setFixedHeight(70);
  form->addRow("E-mail:", m_email);
  form->addRow("Comments:", m_comments);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(kSend, QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(520, 520);
}

bool QtFirewallReportUi::showFirewallReport(const std::string& report, std::string& email, std::string& comments) {
  // The report's lines end in CR LF; the dialog shows plain lines.
  FirewallReportDialog dialog(QString::fromStdString(report).remove('\r'), m_parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  email = dialog.email()->text().trimmed().toStdString();
  // The mail carries CR LF line ends, as the report does.
  comments = dialog.comments()->toPlainText().replace("\n", "\r\n").toStdString();
  return true;
}

int runFirewallCheckWindowed(QWidget* parent, FirewallCheck& check, const FileServerSwitch& server,
                             int templateVersion, bool wizard, FirewallReportUi* reportUi) {
  return runFirewallCheckSaying(parent, check, server, templateVersion,
                                wizard ? firewall_texts::kNotBehindWizard : firewall_texts::kNotBehind, reportUi);
}

int runFirewallCheckSaying(QWidget* parent, FirewallCheck& check, const FileServerSwitch& server, int templateVersion,
                           const char* notBehind, FirewallReportUi* reportUi) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int result = RunFirewallCheck(check, server, [](std::chrono::milliseconds step, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + step;
    while (!done() && std::chrono::steady_clock::now() < end) {
      QApplication::processEvents(QEventLoop::AllEvents, 20);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  QApplication::restoreOverrideCursor();
  if (result == firewall::kBothReached) {
    QMessageBox::information(parent, firewall_texts::kCaption, notBehind);
    return result;
  }
  QtFirewallReportUi windowed(parent);
  const std::optional<std::string> report = check.reportToMail(reportUi != nullptr ? *reportUi : windowed, templateVersion);
  if (!report) return result;
  // The mail server may be slow or away: the window keeps answering meanwhile.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::atomic<bool> done{false};
  std::string failure;
  std::jthread mailer([&] {
    failure = check.mailReport(*report);
    done = true;
  });
  while (!done) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  mailer.join();
  QApplication::restoreOverrideCursor();
  if (failure.empty()) {
    QMessageBox::information(parent, FirewallReportDialog::kSend, firewall_texts::kReportSent);
  } else {
    QMessageBox::warning(parent, FirewallReportDialog::kSend, QString::fromStdString(failure));
  }
  return result;
}

}  // namespace vantrel::ui
