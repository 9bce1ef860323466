// SPDX-License-Identifier: MIT
#pragma once
// The firewall check as the settings sheet and the setup wizard run it: the
// window stays alive while the check runs, then "Congratulations" when both
// probes arrived, or the report dialog, whose "Send Report" mails the report
// with the e-mail address and comments entered. UI thread only.

#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "diag/firewall_runner.h"

namespace vantrel::ui {

class FirewallReportDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Firewall Check";
  static constexpr const char* kSend = "Send Report";

  explicit FirewallReportDialog(const QString& report, QWidget* parent = nullptr);
  QPlainTextEdit* report() const { return m_report; }
  QLineEdit* email() const { return m_email; }
  QPlainTextEdit* comments() const { return m_comments; }

 private:
  QPlainTextEdit* m_report;
  QLineEdit* m_email;
  QPlainTextEdit* m_comments;
};

// The report dialog as the check shows it.
class QtFirewallReportUi : public FirewallReportUi {
 public:
  explicit QtFirewallReportUi(QWidget* parent) : m_parent(parent) {}
  bool showFirewallReport(const std::string& report, std::string& email, std::string& comments) override;

 private:
  QWidget* m_parent;
};

namespace firewall_texts {
inline constexpr const char* kCaption = "Congratulations";
inline constexpr const char* kNotBehind = "You are not behind a firewall";
inline constexpr const char* kNotBehindWizard = "You are not behind a firewall, click 'next' to continue.";
// Said by the check that runs on its own, outside the settings.
inline constexpr const char* kNotBehindDirect = "You are not behind a firewall.";
inline constexpr const char* kReportSent = "The report was sent. Thank you.";
}  // namespace firewall_texts

// Runs `check` with the file server paused, then tells the outcome. Returns
// the check's result (firewall::kCheckUnfinished when it outlasted the wait).
int runFirewallCheckWindowed(QWidget* parent, FirewallCheck& check, const FileServerSwitch& server,
                             int templateVersion, bool wizard, FirewallReportUi* reportUi = nullptr);
// The same, saying `notBehind` when both probes arrived (the check run on its
// own, from the menu, says firewall_texts::kNotBehindDirect).
int runFirewallCheckSaying(QWidget* parent, FirewallCheck& check, const FileServerSwitch& server, int templateVersion,
                           const char* notBehind, FirewallReportUi* reportUi = nullptr);

}  // namespace vantrel::ui
