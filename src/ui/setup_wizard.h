// SPDX-License-Identifier: MIT
#pragma once
// The "Initial Setup" wizard after installation: the connection type (a
// choice is required; it is applied when the person goes on), then the
// firewall check, which the person may run or skip. Starting with the desktop
// is switched on by the caller once the wizard is done. UI thread only.

#include <QListWidget>
#include <QWizard>

namespace vantrel::ui {

class SetupHost {
 public:
  virtual ~SetupHost() = default;
  // Writes "contype" and its limits; the running limits follow at once.
  virtual void applyConnectionType(int index) = 0;
  // The firewall check, its outcome shown over `parent` in the wizard's words.
  virtual void checkFirewallFromWizard(QWidget* parent) = 0;
};

class SetupWizard : public QWizard {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Initial Setup";
  static constexpr const char* kChooseType = "Please choose a connection type, choose 'Don't Know' if you are unsure";
  static constexpr const char* kCheckFirewall = "Check Firewall";
  static constexpr int kConnectionPage = 0, kFirewallPage = 1;

  explicit SetupWizard(SetupHost& host, QWidget* parent = nullptr);
  QListWidget* connectionTypes() const { return m_types; }

 private:
  SetupHost& m_host;
  QListWidget* m_types;
};

}  // namespace vantrel::ui
