// SPDX-License-Identifier: MIT
#include "ui/setup_wizard.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWizardPage>

#include "settings/settings_store.h"

namespace vantrel::ui {

namespace {

// Goes on only with a connection type chosen, and applies it then.
class ConnectionTypePage : public QWizardPage {
 public:
  ConnectionTypePage(SetupHost& host, QListWidget* types) : m_host(host), m_types(types) {
    setTitle("Connection Type");
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(SetupWizard::kChooseType);
    text->setWordWrap(true);
    layout->addWidget(text);
    for (std::string_view name : SettingsStore::ConnectionTypeNames()) {
      m_types->addItem(QString::fromUtf8(name.data(), static_cast<int>(name.size())));
    }
    layout->addWidget(m_types, 1);
  }
  bool validatePage() override {
    const int row = m_types->currentRow();
    if (row < 0 || m_types->selectedItems().isEmpty()) {
      QMessageBox::information(this, "Notice", SetupWizard::kChooseType);
      return false;
    }
    m_host.applyConnectionType(row);
    return true;
  }

 private:
  SetupHost& m_host;
  QListWidget* m_types;
};

}  // namespace

SetupWizard::SetupWizard(SetupHost& host, QWidget* parent) : QWizard(parent), m_host(host) {
  setWindowTitle(kTitle);
  setWizardStyle(QWizard::ClassicStyle);
  m_types = new QListWidget;
  setPage(kConnectionPage, new ConnectionTypePage(host, m_types));

  auto* firewall = new QWizardPage;
  firewall->setTitle("Firewall");
  auto* layout = new QVBoxLayout(firewall);
  auto* text = new QLabel(
      "Other people can download your shared files only when your computer can be reached from the Internet. "
      "Check whether a firewall is in the way, or click 'Finish' to skip the check.");
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* check = new QPushButton(kCheckFirewall);
  connect(check, &QPushButton::clicked, this, [this] { m_host.checkFirewallFromWizard(this); });
  layout->addWidget(check, 0, Qt::AlignLeft);
  layout->addStretch(1);
  setPage(kFirewallPage, firewall);
  resize(460, 420);
}

}  // namespace vantrel::ui
