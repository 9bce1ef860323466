// SPDX-License-Identifier: MIT
// The settings sheet against a fake client: what each page shows, what Apply
// writes and in which order, the connection type's suggestions, the users
// page and the debug dialog.

#include "ui/settings_sheet.h"

#include <gtest/gtest.h>

#include <map>

#include "app/client_app.h"
#include "platform/testing/env_override.h"
#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"
#include "ui/client_settings_host.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using namespace vantrel::ui::testing;
using Calls = std::vector<std::string>;

class FakeSettings : public SettingsHost {
 public:
  int32_t number(std::string_view name) override {
    auto it = numbers.find(std::string(name));
    return it == numbers.end() ? -1 : it->second;
  }
  std::string text(std::string_view name) override {
    auto it = texts.find(std::string(name));
    return it == texts.end() ? "" : it->second;
  }
  void setNumber(std::string_view name, int32_t value) override {
    numbers[std::string(name)] = value;
    calls.push_back(std::string(name) + "=" + std::to_string(value));
  }
  void setText(std::string_view name, std::string_view value) override {
    texts[std::string(name)] = std::string(value);
    calls.push_back(std::string(name) + "='" + std::string(value) + "'");
  }
  std::vector<std::string> users() override { return userNames; }
  void deleteUser(const std::string& user) override {
    std::erase(userNames, user);
    calls.push_back("delete " + user);
  }
  void applyConnectionType(int index) override {
    // As the store does: the applied values, then the running limits reload.
    numbers["contype"] = index;
    numbers["maxusers"] = SettingsStore::AppliedMaxUsers(index);
    numbers["maxband"] = SettingsStore::SuggestedMaxBandwidth(index);
    calls.push_back("apply " + std::to_string(index));
  }
  void setRunningLimits(int maxUsers, int maxBand, int maxUserBand) override {
    calls.push_back("limits " + std::to_string(maxUsers) + " " + std::to_string(maxBand) + " " +
                    std::to_string(maxUserBand));
  }
  void setMaxPerUser(int count) override { setNumber("maxperuser", count); }
  bool autostart() override { return autostartOn; }
  void setAutostart(bool on) override {
    autostartOn = on;
    calls.push_back(on ? "autostart on" : "autostart off");
  }
  int templateVersion() override { return 7; }
  std::string totalSent() override { return "2.5 Megs"; }
  int detailLevel() override { return detail; }
  int errorLevel() override { return error; }
  void setLogLevels(int d, int e) override {
    detail = d;
    error = e;
  }
  bool fileSecurity() override { return security; }
  void setFileSecurity(bool on) override { security = on; }
  void checkFirewall(QWidget*) override { calls.push_back("firewall"); }
  int portInUse(bool udp) override { return udp ? udpInUse : tcpInUse; }
  std::string portMappingStatus() override { return router; }

  // A profile as the defaults leave it, with two users.
  std::map<std::string, int32_t> numbers{{"port", 8323},          {"serverport", 80},  {"autofind", 1},
                                         {"maxusers", 10},        {"maxband", 2000000}, {"maxusrband", 2000000},
                                         {"maxlogintime", 40},    {"checkforupdates", 1}, {"udpport", 8324},
                                         {"remotes", 0}};
  std::map<std::string, std::string> texts{{"serveraddress", "central.example"}, {"autologinuser", "bob"}};
  std::vector<std::string> userNames{"alice", "bob"};
  Calls calls;
  bool autostartOn = false;
  int detail = 1, error = 1;
  bool security = true;
  int tcpInUse = -1, udpInUse = -1;
  std::string router;
};

TEST(SettingsSheetTest, PagesShowTheStoredValues) {
  FakeSettings host;
  host.numbers["contype"] = 7;
  host.texts["cname"] = "den";
  SettingsSheet sheet(host);
  sheet.show();
  ASSERT_EQ(sheet.pages()->count(), 5);
  for (int page = 0; page < sheet.pages()->count(); ++page) {
    sheet.pages()->setCurrentIndex(page);
    screenshot(&sheet, "settings-" + sheet.pages()->tabText(page).toLower());
  }
  EXPECT_EQ(sheet.windowTitle(), "Settings");
  EXPECT_EQ(sheet.clientName()->text(), "den");
  EXPECT_EQ(sheet.port()->value(), 8323);
  EXPECT_EQ(sheet.templateVersion()->text(), "Template Version 7");
  EXPECT_EQ(sheet.totalSent()->text(), "2.5 Megs");
  EXPECT_EQ(sheet.serverAddress()->text(), "central.example");
  EXPECT_FALSE(sheet.serverAddress()->isEnabled());  // found automatically
  EXPECT_EQ(sheet.autologinUser()->currentText(), "bob");
  EXPECT_EQ(sheet.autologinUser()->itemText(0), "None");
  EXPECT_EQ(sheet.connectionType()->count(), 14);
  EXPECT_EQ(sheet.connectionType()->currentText(), "Cable Modem");
  // Bandwidths are shown in thousands; a stored value above the type's
  // suggestion widens the slider instead of being cut.
  EXPECT_EQ(sheet.band()->value(), 2000);
  EXPECT_EQ(sheet.bandSlider()->maximum(), 2000);
  EXPECT_EQ(sheet.maxPerUser()->value(), 5);    // missing: what readers use
  EXPECT_EQ(sheet.maxDownloads()->value(), 2);  // missing: what readers use
  EXPECT_EQ(sheet.portMapping()->text(), "Open the ports on my router automatically (UPnP / NAT-PMP)");
  EXPECT_TRUE(sheet.portMapping()->isChecked());  // missing: on
}

// The Connection page's status line follows what the router does while the
// sheet is open.
TEST(SettingsSheetTest, TheConnectionPageSaysWhatTheRouterDoes) {
  FakeSettings host;
  host.router = "looking for a router that opens ports (NAT-PMP, then UPnP)";
  SettingsSheet sheet(host);
  sheet.show();
  sheet.pages()->setCurrentIndex(SettingsSheet::kConnectionPage);
  EXPECT_EQ(sheet.routerStatus()->text().toStdString(), "Router: " + host.router);
  host.router = "UPnP gateway 192.168.1.1 forwards TCP port 8323 and UDP port 8324 of 198.51.100.7 to this computer";
  EXPECT_TRUE(waitUntil([&] { return sheet.routerStatus()->text().toStdString() == "Router: " + host.router; }));
  screenshot(&sheet, "settings-connection-router");
}

// A second client on this computer took other ports than the ones set: the
// client page says which, and only then.
TEST(SettingsSheetTest, TheClientPageNamesThePortsTakenInsteadOfTheOnesSet) {
  struct Case {
    const char* name;
    int tcp, udp;
    QString want;
  };
  const Case cases[] = {
      {"not started", -1, -1, ""},
      {"the ones set", 8323, 8324, ""},
      {"both moved", 8325, 8326,
       "In use now: the file server on port 8325 (8323 was taken); pings from UDP port 8326 (8324 was taken). "
       "Another program or client on this computer holds the port set here; this client took the next free one."},
      {"only the UDP port", 8323, 8325,
       "In use now: pings from UDP port 8325 (8324 was taken). Another program or client on this computer holds "
       "the port set here; this client took the next free one."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSettings host;
    host.tcpInUse = c.tcp;
    host.udpInUse = c.udp;
    SettingsSheet sheet(host);
    EXPECT_EQ(sheet.portsInUse() != nullptr ? sheet.portsInUse()->text() : QString(), c.want);
    if (c.tcp == 8325) {
      sheet.show();
      screenshot(&sheet, "settings-client-ports-moved");
    }
  }
}

TEST(SettingsSheetTest, UnusualStoredValuesAreShownAndWrittenBackUnchanged) {
  FakeSettings host;
  host.numbers["port"] = 0;  // the system picks the port
  host.numbers["maxusrband"] = 500;
  SettingsSheet sheet(host);
  EXPECT_EQ(sheet.port()->value(), 0);
  EXPECT_EQ(sheet.userBand()->value(), 1);
  sheet.apply();
  EXPECT_EQ(host.numbers["port"], 0);
  EXPECT_EQ(shownWindow("Note"), nullptr);  // the port did not change
}

TEST(SettingsSheetTest, PickingAConnectionTypeFillsTheLimitsFromItsSuggestions) {
  FakeSettings host;
  SettingsSheet sheet(host);
  EXPECT_EQ(sheet.connectionType()->currentIndex(), -1);  // none stored
  struct Case {
    int index;
    int users, thousands;
  };
  // The page suggests 3 users for "28k modem"; applying the type alone gives 4.
  for (const Case& c : {Case{2, 3, 4}, Case{7, 20, 100}, Case{13, 999, 9999}, Case{0, 10, 2000}}) {
    sheet.pickConnectionType(c.index);
    EXPECT_EQ(sheet.connectionType()->currentIndex(), c.index);
    EXPECT_EQ(sheet.maxUsers()->value(), c.users) << c.index;
    for (QSlider* slider : {sheet.bandSlider(), sheet.userBandSlider()}) {
      EXPECT_EQ(slider->minimum(), 1);
      EXPECT_EQ(slider->maximum(), c.thousands) << c.index;
      EXPECT_EQ(slider->value(), c.thousands) << c.index;
    }
    EXPECT_EQ(sheet.band()->value(), c.thousands);
    EXPECT_EQ(sheet.userBand()->value(), c.thousands);
  }
  // An edit field moves its slider.
  sheet.userBand()->setValue(1500);
  EXPECT_EQ(sheet.userBandSlider()->value(), 1500);
}

TEST(SettingsSheetTest, ApplyWritesEveryPageInOrderAndTheLimitsOverTheType) {
  FakeSettings host;
  SettingsSheet sheet(host);
  sheet.clientName()->setText(" den ");
  sheet.checkForUpdates()->setChecked(false);
  sheet.autostart()->setChecked(true);
  sheet.autofind()->setChecked(false);
  sheet.serverAddress()->setText("other.example");
  sheet.serverPort()->setValue(8080);
  sheet.autologinUser()->setCurrentIndex(0);  // "None"
  sheet.pickConnectionType(2);                // 28k modem: 3 users, 4 k/s
  sheet.userBand()->setValue(3);
  sheet.maxPerUser()->setValue(4);
  sheet.maxDownloads()->setValue(3);
  EXPECT_EQ(sheet.downloadFolder()->text().toStdString(), "");  // the default, shown as the placeholder
  EXPECT_FALSE(sheet.downloadFolder()->placeholderText().isEmpty());
  sheet.downloadFolder()->setText("/home/den/Zoë & Co #1+");
  sheet.remotes()->setChecked(true);
  sheet.portMapping()->setChecked(false);
  sheet.apply();

  const Calls expected{"cname='den'",
                       "port=8323",
                       "udpport=8324",
                       "maxlogintime=40",
                       "checkforupdates=0",
                       "autostart on",
                       "serveraddress='other.example'",
                       "serverport=8080",
                       "autofind=0",
                       "autologinuser=''",
                       "apply 2",
                       "limits 3 4000 3000",
                       "maxusers=3",
                       "maxusrband=3000",
                       "maxband=4000",
                       "portmapping=0",
                       "maxperuser=4",
                       "maxsimdl=3",
                       "downloadfolder='/home/den/Zoë & Co #1+'",
                       "remotes=1"};
  EXPECT_EQ(host.calls, expected);
  // The page's users count wins over the 4 that the type alone applies.
  EXPECT_EQ(host.numbers["maxusers"], 3);
  EXPECT_EQ(host.numbers["contype"], 2);

  // Read back, a new sheet shows what was written.
  SettingsSheet again(host);
  EXPECT_EQ(again.clientName()->text(), "den");
  EXPECT_EQ(again.serverAddress()->text(), "other.example");
  EXPECT_TRUE(again.serverAddress()->isEnabled());
  EXPECT_EQ(again.autologinUser()->currentText(), "None");
  EXPECT_EQ(again.connectionType()->currentText(), "28k modem");
  EXPECT_EQ(again.maxUsers()->value(), 3);
  EXPECT_EQ(again.userBand()->value(), 3);
  EXPECT_EQ(again.band()->value(), 4);
  EXPECT_EQ(again.maxPerUser()->value(), 4);
  EXPECT_TRUE(again.remotes()->isChecked());
  EXPECT_FALSE(again.portMapping()->isChecked());
  EXPECT_TRUE(again.autostart()->isChecked());
  EXPECT_FALSE(again.checkForUpdates()->isChecked());
}

TEST(SettingsSheetTest, ApplyWithoutAConnectionTypeWritesTheLimitsOnly) {
  FakeSettings host;
  SettingsSheet sheet(host);
  sheet.apply();
  for (const std::string& call : host.calls) EXPECT_NE(call.rfind("apply", 0), 0u) << call;
  EXPECT_EQ(host.numbers["maxband"], 2000000);
  EXPECT_EQ(host.numbers["maxusrband"], 2000000);
}

TEST(SettingsSheetTest, APortChangeIsNotedOnceAndOkApplies) {
  FakeSettings host;
  SettingsSheet sheet(host);
  sheet.show();
  sheet.port()->setValue(9000);
  auto note = clickWhenShown("Note", "OK", "settings-port-note");
  auto* ok = button(&sheet, "OK");
  ASSERT_NE(ok, nullptr);
  ok->click();
  EXPECT_TRUE(note->done());
  EXPECT_EQ(host.numbers["port"], 9000);
  EXPECT_FALSE(sheet.isVisible());

  // Unchanged: no note.
  FakeSettings quiet;
  SettingsSheet second(quiet);
  second.apply();
  EXPECT_EQ(shownWindow("Note"), nullptr);
}

TEST(SettingsSheetTest, DeletingAUserTakesItOffBothLists) {
  FakeSettings host;
  SettingsSheet sheet(host);
  sheet.show();
  sheet.pages()->setCurrentIndex(SettingsSheet::kUsersPage);
  auto* remove = button(&sheet, "Delete");
  ASSERT_NE(remove, nullptr);
  EXPECT_FALSE(remove->isEnabled());  // nothing selected
  sheet.userList()->setCurrentRow(1);  // bob, picked for automatic login
  remove->click();
  EXPECT_EQ(host.calls, Calls{"delete bob"});
  ASSERT_EQ(sheet.userList()->count(), 1);
  EXPECT_EQ(sheet.userList()->item(0)->text(), "alice");
  EXPECT_EQ(sheet.autologinUser()->count(), 2);
  EXPECT_EQ(sheet.autologinUser()->currentText(), "None");
  sheet.apply();
  EXPECT_EQ(host.texts["autologinuser"], "");
}

TEST(SettingsSheetTest, DebugDialogSetsTheLogLevelsAndFileSecurity) {
  FakeSettings host;
  {
    DebugDialog dialog(host);
    EXPECT_EQ(dialog.detail()->text(), "Log in detail what the client does, usually only for support or debugging purposes");
    EXPECT_EQ(dialog.errors()->text(), "Log in detail errors, usually only for support or debugging purposes");
    EXPECT_FALSE(dialog.detail()->isChecked());
    EXPECT_FALSE(dialog.security()->isChecked());
    dialog.detail()->setChecked(true);
    dialog.security()->setChecked(true);
    dialog.apply();
  }
  EXPECT_EQ(host.detail, 2);
  EXPECT_EQ(host.error, 1);
  EXPECT_FALSE(host.security);

  // Opened from the advanced page, its boxes show the state and OK keeps it.
  SettingsSheet sheet(host);
  sheet.show();
  sheet.pages()->setCurrentIndex(SettingsSheet::kAdvancedPage);
  auto shown = std::make_unique<WhenShown>("Debug Settings", [](QWidget* window) {
    screenshot(window, "settings-debug");
    auto* dialog = qobject_cast<DebugDialog*>(window);
    if (dialog == nullptr) return;
    EXPECT_TRUE(dialog->detail()->isChecked());
    EXPECT_TRUE(dialog->security()->isChecked());
    dialog->errors()->setChecked(true);
    dialog->security()->setChecked(false);
    button(dialog, "OK")->click();
  });
  button(&sheet, "Debug...")->click();
  EXPECT_TRUE(shown->done());
  EXPECT_EQ(host.error, 2);
  EXPECT_TRUE(host.security);

  button(&sheet, "Check Firewall...")->click();
  EXPECT_EQ(host.calls, Calls{"firewall"});
}

}  // namespace
}  // namespace vantrel::ui

namespace vantrel::ui {
namespace {

// The sheet over a real client: what Apply writes is in the store, the
// running limits follow at once, and the debug switch reaches the file server.
TEST(ClientSettingsHostTest, TheSheetChangesTheRunningClient) {
  vantrel::testing::TempFolder dir;
  vantrel::testing::EnvOverride env;
  env.set("VANTREL_CONFIG_DIR", (dir.path() / "config").string());
  env.set("XDG_CONFIG_HOME", (dir.path() / "xdg").string());
  AppOptions options;
  options.home = (dir.path() / "home").string();
  options.programDir = (dir.path() / "program").string() + "/";
  options.singleInstance = false;
  QtUserInterface quiet;
  ClientApp app(quiet, options);
  app.settings().EnsureDefaults();
  app.settings().CreateUserKey("alice");

  ClientSettingsHost host(app);
  SettingsSheet sheet(host);
  EXPECT_EQ(sheet.port()->value(), 8323);
  ASSERT_EQ(sheet.userList()->count(), 1);
  sheet.pickConnectionType(8);  // DSL/ADSL: 30 users, 200 k/s
  sheet.userBand()->setValue(50);
  sheet.autologinUser()->setCurrentIndex(1);
  sheet.apply();
  EXPECT_EQ(app.settings().GetSettingNumber("contype"), 8);
  EXPECT_EQ(app.settings().GetSettingNumber("maxusers"), 30);
  EXPECT_EQ(app.settings().GetSettingNumber("maxusrband"), 50000);
  EXPECT_EQ(app.settings().GetSettingNumber("maxband"), 200000);
  EXPECT_EQ(app.settings().GetSettingText("autologinuser"), "alice");
  EXPECT_EQ(app.state().MaxUsers(), 30);
  EXPECT_EQ(app.state().MaxBand(), 200000);
  EXPECT_EQ(app.state().MaxUserBand(), 50000);
  EXPECT_FALSE(app.state().AutomaticBandwidth());

  host.setFileSecurity(false);
  EXPECT_FALSE(app.protocol().fileSecurity);
  host.deleteUser("alice");
  EXPECT_FALSE(app.settings().UserKeyExists("alice"));
}

}  // namespace
}  // namespace vantrel::ui
