// SPDX-License-Identifier: MIT
// "Initial Setup": no going on without a connection type; the chosen type is
// applied; the firewall page runs the check; the front end runs the wizard
// when it has something to apply to.

#include "ui/setup_wizard.h"

#include <gtest/gtest.h>

#include <QMessageBox>

#include "ui/qt_user_interface.h"
#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using namespace vantrel::ui::testing;
using Calls = std::vector<std::string>;

class FakeSetup : public SetupHost {
 public:
  void applyConnectionType(int index) override { calls.push_back("apply " + std::to_string(index)); }
  void checkFirewallFromWizard(QWidget*) override { calls.push_back("firewall"); }
  Calls calls;
};

TEST(SetupWizardTest, AConnectionTypeIsRequiredThenAppliedAndTheFirewallPageChecks) {
  FakeSetup host;
  SetupWizard wizard(host);
  wizard.show();
  screenshot(&wizard, "initial-setup-connection");
  EXPECT_EQ(wizard.windowTitle(), "Initial Setup");
  ASSERT_EQ(wizard.connectionTypes()->count(), 14);

  QString notice;
  auto refuse = std::make_unique<WhenShown>("Notice", [&](QWidget* window) {
    if (auto* box = qobject_cast<QMessageBox*>(window)) notice = box->text();
    button(window, "OK")->click();
  });
  wizard.next();
  EXPECT_TRUE(refuse->done());
  EXPECT_EQ(notice, "Please choose a connection type, choose 'Don't Know' if you are unsure");
  EXPECT_EQ(wizard.currentId(), SetupWizard::kConnectionPage);
  EXPECT_TRUE(host.calls.empty());

  wizard.connectionTypes()->setCurrentRow(2);
  wizard.next();
  EXPECT_EQ(wizard.currentId(), SetupWizard::kFirewallPage);
  screenshot(&wizard, "initial-setup-firewall");
  button(&wizard, SetupWizard::kCheckFirewall)->click();
  EXPECT_EQ(host.calls, (Calls{"apply 2", "firewall"}));
}

TEST(SetupWizardTest, TheFrontEndRunsTheWizardToItsEnd) {
  FakeSetup host;
  QtUserInterface ui;
  ui.setSetupHost(&host);
  auto drive = std::make_unique<WhenShown>("Initial Setup", [](QWidget* window) {
    auto* wizard = qobject_cast<SetupWizard*>(window);
    if (wizard == nullptr) return;
    wizard->connectionTypes()->setCurrentRow(0);
    wizard->next();
    wizard->button(QWizard::FinishButton)->click();
  });
  EXPECT_TRUE(ui.runInitialSetup());
  EXPECT_TRUE(drive->done());
  EXPECT_EQ(host.calls, Calls{"apply 0"});
}

}  // namespace
}  // namespace vantrel::ui
