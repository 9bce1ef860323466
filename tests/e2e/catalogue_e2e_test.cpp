// SPDX-License-Identifier: MIT
// The catalogue views of the window, in this process on the offscreen
// platform, against the real reference server with the demo catalogue. Bob,
// another client in this process, shares a folder into the public "Open Music
// Lounge". Alice, through the window alone, browses there and downloads a file
// and a whole directory, searches and downloads a result, creates a group with
// the wizard, a directory in it, shares a folder named "Rock & Roll #1" into
// that directory and finds it by search. Every download is compared byte for byte.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <QInputDialog>
#include <QMessageBox>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_test_support.h"
#include "app/catalogue_session.h"
#include "app/client_app.h"
#include "catalogue/sync/share_run.h"
#include "platform/registry_hive.h"
#include "platform/testing/env_override.h"
#include "platform/unique_fd.h"
#include "protocol/catalogue_requests.h"
#include "settings/settings_store.h"
#include "tests/e2e/client_fixture.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/reserved_port.h"
#include "tests/support/temp_folder.h"
#include "transfers/download_manager.h"
#include "ui/catalogue_views.h"
#include "ui/client_actions.h"
#include "ui/dialogs.h"
#include "ui/login_window.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_test_support.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::ui::testing;
namespace fs = std::filesystem;

std::string contentOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

QTreeWidgetItem* childNamed(QTreeWidget* tree, QTreeWidgetItem* parent, const QString& name) {
  const int n = parent != nullptr ? parent->childCount() : tree->topLevelItemCount();
  for (int i = 0; i < n; ++i) {
    QTreeWidgetItem* item = parent != nullptr ? parent->child(i) : tree->topLevelItem(i);
    if (item->text(0) == name) return item;
  }
  return nullptr;
}

class CatalogueE2eTest : public e2e::ClientE2eTest {
 protected:
  void SetUp() override {
    startServer({"--add-user", "alice:secret", "--add-user", "bob:bobsecret", "--demo-catalogue"});
    if (HasFatalFailure()) return;
    // The server hands out links to the port a client logs in with, so the
    // sharing client listens on a port known before its login.
    writeSettings(bobPort.port(), {}, "Vantrel", "bob/config");
    writeSettings(0, {}, "Vantrel", "alice/config");
  }
  AppOptions options(const char* who) const {
    return clientOptions(std::string(who) + "/home", std::string(who) + "/program");
  }

  vantrel::testing::ReservedPort bobPort;
};

TEST_F(CatalogueE2eTest, BrowsesDownloadsSearchesCreatesAGroupAndSharesIntoItFromTheWindow) {
  // Bob shares a folder into the public lounge from a client of his own.
  env.set("VANTREL_CONFIG_DIR", (dir.path() / "bob" / "config").string());
  app_testing::RecordingUi bobUi;
  bobUi.pressLogin = true;
  bobUi.user = "bob";
  bobUi.password = "bobsecret";
  ClientApp bob(bobUi, options("bob"));
  ASSERT_TRUE(bob.InitialiseWithoutLauncher());
  ASSERT_TRUE(bob.LoginPhase());
  ASSERT_TRUE(bob.state().Connected());
  CatalogueService& bobCatalogue = bob.catalogue().service();
  ASSERT_EQ(bobCatalogue.fetchListing(ListingKind::Category, 0), 0);
  int32_t music = 0;
  for (const auto& e : bobCatalogue.category(0)->children) music = e->name == "Music" ? e->id : music;
  ASSERT_EQ(bobCatalogue.fetchListing(ListingKind::Category, music), 0);
  int32_t lounge = 0;
  for (const auto& e : bobCatalogue.category(music)->children) lounge = e->name == "Open Music Lounge" ? e->id : lounge;
  ASSERT_EQ(JoinGroup(bob.protocol(), lounge, "", ""), catalogue::kListingOk);
  const fs::path mix = dir.path() / "bob" / "Bob's Mix & More";
  const std::string song(70000, 's');
  writeFile(mix / "caf\xC3\xA9 song + 100%.mp3", song + "1");
  writeFile(mix / "Live #2" / "encore & more.mp3", song + "2");
  writeFile(mix / "Live #2" / "deeper" / "last call.mp3", song + "3");
  ShareRun share(bob.protocol(), *bob.core().sharedFiles());
  ASSERT_EQ(share.ShareLocalPaths({mix.string()}, ShareDestination{lounge, "Open Music Lounge", lounge, ""}), 0);

  // Alice, with the window.
  env.set("VANTREL_CONFIG_DIR", (dir.path() / "alice" / "config").string());
  ui::QtUserInterface ui;
  ClientApp app(ui, options("alice"));
  ui::ClientActions actions(app, ui);
  ui::MainWindow window(actions, QSystemTrayIcon::isSystemTrayAvailable());
  ui.attachWindow(&window);
  ui::CatalogueViews views(app, window);
  const fs::path downloads = dir.path() / "alice" / "downloads";
  fs::create_directories(downloads);
  views.dialogs().setFolderChooser([&] { return std::optional<std::string>(downloads.string()); });
  std::vector<std::string> opened;
  views.dialogs().setBrowser([&](const std::string& url) {
    opened.push_back(url);
    return true;
  });
  auto trayProblem = clickWhenShown("Error", "OK");
  ASSERT_TRUE(app.InitialiseWithoutLauncher());
  WhenShown login(LoginDialogModel::kTitle, [](QWidget* shown) {
    auto* w = static_cast<ui::LoginWindow*>(shown);
    w->userField()->setText("alice");
    w->passwordField()->setText("secret");
    w->loginButton()->click();
  });
  ASSERT_TRUE(app.LoginPhase());
  ASSERT_TRUE(app.state().Connected());
  window.resize(900, 560);
  window.show();


  // Browse to the lounge and into Bob's folder.
  ui::CatalogueView* browse = views.browse();
  window.bar()->items()->setCurrentRow(ui::kBrowseItem);
  browse->refresh();
  ASSERT_TRUE(waitUntil([&] { return childNamed(browse->tree(), nullptr, "Music") != nullptr; }, 10s));
  QTreeWidgetItem* musicNode = childNamed(browse->tree(), nullptr, "Music");
  musicNode->setExpanded(true);
  ASSERT_TRUE(waitUntil([&] { return childNamed(browse->tree(), musicNode, "Open Music Lounge") != nullptr; }, 10s));
  browse->tree()->setCurrentItem(childNamed(browse->tree(), musicNode, "Open Music Lounge"));
  ASSERT_TRUE(waitUntil([&] { return browse->list()->rowNamed("Bob's Mix & More") != nullptr; }, 10s));
  QTreeWidgetItem* row = browse->list()->rowNamed("Bob's Mix & More");
  browse->list()->setCurrentItem(row);
  emit browse->list()->itemActivated(row, 0);
  ASSERT_TRUE(waitUntil([&] { return browse->list()->rowNamed("Live #2") != nullptr && !browse->loading(); }, 10s));
  screenshot(&window, "client-browse-view");

  // A file and a whole directory, into the folder picked.
  browse->list()->clearSelection();
  browse->list()->rowNamed(QString::fromUtf8("caf\xC3\xA9 song + 100%.mp3"))->setSelected(true);
  browse->list()->rowNamed("Live #2")->setSelected(true);
  browse->button(ui::CatalogueView::kDownload)->trigger();
  const fs::path got1 = downloads / "caf\xC3\xA9 song + 100%.mp3";
  const fs::path got2 = downloads / "Live #2" / "encore & more.mp3";
  const fs::path got3 = downloads / "Live #2" / "deeper" / "last call.mp3";
  EXPECT_TRUE(waitUntil([&] { return contentOf(got1) == song + "1" && contentOf(got2) == song + "2" &&
                                      contentOf(got3) == song + "3"; }, 20s));
  EXPECT_TRUE(browse->statusLine()->text().contains(QString::fromStdString(downloads.string())));
  EXPECT_GE(app.downloads().downloads().size(), 3u);


  // Search, and download from the results.
  ui::SearchView* search = views.search();
  window.bar()->items()->setCurrentRow(ui::kSearchItem);
  search->textField()->setEditText("last call");
  search->searchButton()->click();
  ASSERT_TRUE(waitUntil([&] { return search->list()->rowNamed("last call.mp3") != nullptr; }, 10s));
  screenshot(&window, "client-search-view");
  fs::remove(got3);
  search->list()->rowNamed("last call.mp3")->setSelected(true);
  search->contextMenu()->actions()[1]->trigger();
  EXPECT_TRUE(waitUntil([&] { return contentOf(downloads / "last call.mp3") == song + "3"; }, 20s));

  // A group of her own in "Music", made with the wizard.
  window.bar()->items()->setCurrentRow(ui::kBrowseItem);
  browse->tree()->setCurrentItem(musicNode);
  ASSERT_TRUE(waitUntil([&] { return !browse->loading(); }, 10s));
  const QString groupName = QString::fromUtf8("Alice's Caf\xC3\xA9 + Friends");
  WhenShown wizard(ui::GroupWizard::kTitle, [&](QWidget* shown) {
    auto* w = static_cast<ui::GroupWizard*>(shown);
    w->nameField()->setText(groupName);
    w->descriptionField()->setText("Songs & more, 100%");
    screenshot(w, "client-create-group");
    w->next();
    w->next();
    w->accept();
  });
  QString created;
  WhenShown success("Success", [&](QWidget* box) {
    created = static_cast<QMessageBox*>(box)->text();
    button(box, "OK")->click();
  });
  browse->button(ui::CatalogueView::kCreateGroup)->trigger();
  ASSERT_TRUE(waitUntil([&] { return success.done(); }, 10s));
  EXPECT_EQ(created, "Group created successfully!");
  ASSERT_TRUE(waitUntil([&] { return browse->list()->rowNamed(groupName) != nullptr && !browse->loading(); }, 10s));

  // A directory in it, then the folder "Rock & Roll #1" shared into that directory.
  browse->list()->setCurrentItem(browse->list()->rowNamed(groupName));
  emit browse->list()->itemActivated(browse->list()->rowNamed(groupName), 0);
  ASSERT_TRUE(waitUntil([&] { return browse->openPath().size() == 2 && !browse->loading(); }, 10s));
  WhenShown name("Create directory", [](QWidget* shown) {
    auto* input = static_cast<QInputDialog*>(shown);
    input->setTextValue(QString::fromUtf8("Live + Loud #2 \xC3\xA9t\xC3\xA9"));
    input->accept();
  });
  browse->button(ui::CatalogueView::kCreateDirectory)->trigger();
  const QString directory = QString::fromUtf8("Live + Loud #2 \xC3\xA9t\xC3\xA9");
  ASSERT_TRUE(waitUntil([&] { return browse->list()->rowNamed(directory) != nullptr; }, 10s));
  emit browse->list()->itemActivated(browse->list()->rowNamed(directory), 0);
  ASSERT_TRUE(waitUntil([&] { return browse->openPath().size() == 3 && !browse->loading(); }, 10s));

  const fs::path rock = dir.path() / "alice" / "Rock & Roll #1";
  writeFile(rock / "Rock & Roll #1 - 50% + more.mp3", "rock and roll");
  WhenShown pick(ui::SharePicker::kTitle, [&](QWidget* shown) {
    auto* picker = static_cast<ui::SharePicker*>(shown);
    picker->addPaths({QString::fromStdString(rock.string())});
    picker->shareButton()->click();
  });
  QString sharedText;
  WhenShown shared("Files Shared", [&](QWidget* box) {
    sharedText = static_cast<QMessageBox*>(box)->text();
    button(box, "OK")->click();
  });
  browse->button(ui::CatalogueView::kShareFiles)->trigger();
  ASSERT_TRUE(waitUntil([&] { return shared.done(); }, 15s));
  EXPECT_EQ(sharedText, "Your files are now shared in the group '" + groupName + "'.");
  ASSERT_TRUE(waitUntil([&] { return browse->list()->rowNamed("Rock & Roll #1") != nullptr; }, 10s));

  // "My Groups" shows the new group under the groups she owns, from her group file.
  EXPECT_TRUE(waitUntil([&] { return fs::exists(dir.path() / "alice" / "home" / "alicegroups.dat"); }, 10s));
  ui::CatalogueView* groups = views.myGroups();
  window.bar()->items()->setCurrentRow(ui::kMyGroupsItem);
  ASSERT_TRUE(waitUntil([&] {
    QTreeWidgetItem* own = childNamed(groups->tree(), nullptr, "Groups I own");
    return own != nullptr && childNamed(groups->tree(), own, groupName) != nullptr;
  }, 15s));
  QTreeWidgetItem* own = childNamed(groups->tree(), nullptr, "Groups I own");
  groups->tree()->setCurrentItem(childNamed(groups->tree(), own, groupName));
  ASSERT_TRUE(waitUntil([&] { return groups->list()->rowNamed(directory) != nullptr; }, 10s));
  screenshot(&window, "client-my-groups-view");
  groups->button(ui::CatalogueView::kAdministrate)->trigger();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_NE(opened[0].find("/login.jsp?clientid="), std::string::npos);
  EXPECT_NE(opened[0].find("&redirect=groupsettings.jsp%3Fgroupid%3D"), std::string::npos);

  // The shared file is found by search.
  window.bar()->items()->setCurrentRow(ui::kSearchItem);
  search->textField()->setEditText("Rock & Roll");
  search->searchButton()->click();
  EXPECT_TRUE(waitUntil([&] { return search->list()->rowNamed("Rock & Roll #1 - 50% + more.mp3") != nullptr; }, 10s));

  window.endClient();
  ui.beginClosing();
  app.ForcedExit();
  bob.ForcedExit();
  clearQuit();
}

}  // namespace
}  // namespace vantrel
