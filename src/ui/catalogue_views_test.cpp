// SPDX-License-Identifier: MIT
// The catalogue views against a scripted catalogue: the browse tree loading
// as it is expanded, the listings with their columns, history, toolbar, menu
// and keys; "My Groups" from the group file; the search form's checks, its
// paging and its errors; and answers that come after the view was left.

#include <QHeaderView>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "app/testing/recording_prompts.h"
#include "app/testing/scripted_catalogue.h"
#include "core/error_table.h"
#include "ui/catalogue_dialogs.h"
#include "ui/catalogue_view.h"
#include "ui/search_view.h"
#include "ui/ui_test_support.h"

namespace vantrel::ui {
namespace {

using app_testing::RecordingPrompts;
using app_testing::ScriptedCatalogue;
using namespace vantrel::ui::testing;

QStringList headers(const QTreeWidget& list) {
  QStringList out;
  for (int i = 0; i < list.columnCount(); ++i) out << list.headerItem()->text(i);
  return out;
}

QStringList rows(const QTreeWidget& list) {
  QStringList out;
  for (int i = 0; i < list.topLevelItemCount(); ++i) out << list.topLevelItem(i)->text(0);
  return out;
}

QTreeWidgetItem* child(QTreeWidgetItem* parent, const QString& name) {
  for (int i = 0; i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == name) return parent->child(i);
  }
  return nullptr;
}

QTreeWidgetItem* top(QTreeWidget* tree, const QString& name) {
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    if (tree->topLevelItem(i)->text(0) == name) return tree->topLevelItem(i);
  }
  return nullptr;
}

class CatalogueViewsTest : public ::testing::Test {
 protected:
  // The answers come back through the event loop, as the window's dispatcher hands them over.
  bool settle() {
    const bool idle = waitUntil([&] { return runner.pending() == 0; });
    pumpFor(std::chrono::milliseconds(20));
    return idle;
  }

  ScriptedCatalogue catalogue;
  RecordingPrompts prompts;
  // One worker: the requests reach the catalogue in the order the view asked.
  CatalogueRunner runner{[](CatalogueRunner::Delivery d) { QMetaObject::invokeMethod(qApp, std::move(d)); }, 1};
};

TEST_F(CatalogueViewsTest, BrowseLoadsTheTreeAsItIsExpandedAndListsWithTheColumnsOfItsKind) {
  CatalogueView view(CatalogueView::Roots::Catalogue, catalogue, runner, prompts);
  view.resize(760, 420);
  view.show();
  view.list()->setFocus();  // the tree would open its first entry as it takes the focus
  view.refresh();
  ASSERT_TRUE(settle());
  EXPECT_EQ(rows(*view.tree()), (QStringList{"Music", "Archive"}));
  EXPECT_EQ(headers(*view.list()), (QStringList{"Name", "Status", "Files", "Members"}));

  // Expanding asks for the category's listing; nothing is fetched before.
  QTreeWidgetItem* music = top(view.tree(), "Music");
  EXPECT_EQ(music->childCount(), 0);
  music->setExpanded(true);
  ASSERT_TRUE(settle());
  ASSERT_NE(child(music, "Rock & Roll #1"), nullptr);
  EXPECT_EQ(catalogue.calls().back(), "listing 0 1");

  view.tree()->setCurrentItem(child(music, "Rock & Roll #1"));
  ASSERT_TRUE(settle());
  EXPECT_EQ(headers(*view.list()), (QStringList{"Name", "Size", "Ping"}));
  EXPECT_EQ(rows(*view.list()), (QStringList{QString::fromUtf8("Live 100% \xC3\xBC"), "a&b #1.mp3"}));
  EXPECT_EQ(view.list()->topLevelItem(1)->text(1), "29.3 KB");
  EXPECT_EQ(view.list()->topLevelItem(1)->text(2), "Online");
  EXPECT_EQ(view.openPath(), (QStringList{"Music", "Rock & Roll #1"}));
  EXPECT_EQ(view.statusLine()->text(), "2 entries");

  // Enter on a directory opens it; Backspace goes back, "Go forward" there again.
  view.list()->setFocus();
  view.list()->setCurrentItem(view.list()->topLevelItem(0));
  QTest::keyClick(view.list(), Qt::Key_Return);
  ASSERT_TRUE(settle());
  EXPECT_EQ(view.openPath(), (QStringList{"Music", "Rock & Roll #1", QString::fromUtf8("Live 100% \xC3\xBC")}));
  EXPECT_EQ(rows(*view.list()), (QStringList{"deep+song.mp3"}));
  EXPECT_EQ(view.statusLine()->text(), "1 entry");
  screenshot(&view, "browse-view");
  QTest::keyClick(view.list(), Qt::Key_Backspace);
  ASSERT_TRUE(settle());
  EXPECT_EQ(view.openPath(), (QStringList{"Music", "Rock & Roll #1"}));
  view.button(CatalogueView::kGoForward)->trigger();
  ASSERT_TRUE(settle());
  EXPECT_EQ(view.openPath().size(), 3);
  view.button(CatalogueView::kGoBack)->trigger();
  view.button(CatalogueView::kGoBack)->trigger();
  ASSERT_TRUE(settle());
  EXPECT_EQ(view.openPath(), (QStringList{}));
}

TEST_F(CatalogueViewsTest, BrowseHasTheTenButtonsTheRightMenuAndItsCommandsInTheirOrder) {
  CatalogueView view(CatalogueView::Roots::Catalogue, catalogue, runner, prompts);
  QStringList tips;
  for (QAction* a : view.toolBar()->actions()) {
    if (!a->isSeparator()) tips << a->toolTip();
  }
  EXPECT_EQ(tips, (QStringList{"Go back", "Refresh", "Go forward", "Download selected files / directories",
                               "Share files", "Create directory", "Create group", "Join group",
                               "Administrate this group", "Invite friend to this group"}));
  EXPECT_EQ(view.contextMenu()->title(), "Right Menu");
  QStringList items;
  for (QAction* a : view.contextMenu()->actions()) items << a->text();
  EXPECT_EQ(items, (QStringList{"Go Back", "Download", "Remove"}));

  view.show();
  view.list()->setFocus();
  view.refresh();
  ASSERT_TRUE(settle());
  top(view.tree(), "Music")->setExpanded(true);
  ASSERT_TRUE(settle());
  view.tree()->setCurrentItem(child(top(view.tree(), "Music"), "Mine + Yours"));
  ASSERT_TRUE(settle());
  catalogue.clearCalls();

  // Each button and key reaches its command with the view's selection.
  view.button(CatalogueView::kDownload)->trigger();
  view.list()->topLevelItem(0)->setSelected(true);
  view.contextMenu()->actions()[1]->trigger();  // "Download"
  view.list()->setFocus();
  QTest::keyClick(view.list(), Qt::Key_Delete);
  view.button(CatalogueView::kCreateDirectory)->trigger();
  view.button(CatalogueView::kJoinGroup)->trigger();
  view.list()->clearSelection();
  view.button(CatalogueView::kAdministrate)->trigger();
  ASSERT_TRUE(settle());
  // The checks answer at once; the removal once its request is back.
  EXPECT_EQ(prompts.shown, (std::vector<std::string>{"Error: " + std::string(CatalogueCommandsModel::kDownloadNothing),
                                                     "Remove: Remove 1 file from the group?",
                                                     "Error: You are already a member of this group",
                                                     "Remove: Files successfully removed"}));
  EXPECT_EQ(catalogue.calls(), (std::vector<std::string>{"download mine.txt -> /downloads/", "removefiles 32",
                                                         "createdir New & Improved #2 in 11", "listing 2 11",
                                                         "listing 2 11"}));
  EXPECT_EQ(prompts.opened,
            (std::vector<std::string>{
                "http://web/login.jsp?clientid=7&password=SEALED&redirect=groupsettings.jsp?groupid=11"}));
}

TEST_F(CatalogueViewsTest, FailedListingsSayWhatFailed) {
  CatalogueView view(CatalogueView::Roots::Catalogue, catalogue, runner, prompts);
  catalogue.script("listing", 503);
  view.refresh();
  ASSERT_TRUE(settle());
  EXPECT_EQ(prompts.shown, (std::vector<std::string>{"Error: Could not get root category"}));
  EXPECT_EQ(view.statusLine()->text(), "Could not get root category");

  catalogue.script("listing", 0);
  view.refresh();  // shown again: the top is asked for again
  ASSERT_TRUE(settle());
  top(view.tree(), "Music")->setExpanded(true);
  ASSERT_TRUE(settle());
  catalogue.script("listing", 506);
  view.tree()->setCurrentItem(top(view.tree(), "Music")->child(0));
  ASSERT_TRUE(settle());
  EXPECT_EQ(prompts.shown.back(), "Error: Error 506 retreiving entries\n" + errorTitle(506));
}

TEST_F(CatalogueViewsTest, AnswersThatComeAfterTheViewWasLeftOrANewerListingAreIgnored) {
  CatalogueView view(CatalogueView::Roots::Catalogue, catalogue, runner, prompts);
  view.refresh();
  ASSERT_TRUE(settle());
  top(view.tree(), "Music")->setExpanded(true);
  ASSERT_TRUE(settle());
  QTreeWidgetItem* lounge = top(view.tree(), "Music")->child(0);
  QTreeWidgetItem* mine = top(view.tree(), "Music")->child(1);

  struct Case {
    const char* name;
    bool leave;  // else a newer listing overtakes it
  };
  for (const Case c : {Case{"left", true}, Case{"overtaken", false}}) {
    SCOPED_TRACE(c.name);
    view.tree()->setCurrentItem(nullptr);
    catalogue.shutGate();
    view.tree()->setCurrentItem(lounge);
    EXPECT_TRUE(view.loading());
    if (c.leave) {
      view.leave();
    } else {
      view.tree()->setCurrentItem(mine);
    }
    catalogue.openGate();
    ASSERT_TRUE(settle());
    EXPECT_FALSE(view.loading());
    // Left: nothing shows; overtaken: the newer listing does.
    EXPECT_EQ(rows(*view.list()), c.leave ? QStringList{} : QStringList{"mine.txt"});
    EXPECT_TRUE(prompts.shown.empty());
  }
  // Shown again, the open listing is asked for again.
  view.leave();
  view.refresh();
  ASSERT_TRUE(settle());
  EXPECT_EQ(rows(*view.list()), QStringList{"mine.txt"});

  // A listing dropped as the view was left comes when the view shows again.
  catalogue.shutGate();
  view.tree()->setCurrentItem(lounge);
  view.leave();
  catalogue.openGate();
  ASSERT_TRUE(settle());
  EXPECT_EQ(rows(*view.list()), QStringList{});
  view.show();
  ASSERT_TRUE(settle());
  EXPECT_EQ(rows(*view.list()), (QStringList{QString::fromUtf8("Live 100% \xC3\xBC"), "a&b #1.mp3"}));
}

TEST_F(CatalogueViewsTest, MyGroupsFilesEachGroupUnderItsRootAndListsTheOneSelected) {
  auto cached = [](int32_t id, const char* name, int status) {
    CGroupEntry g;
    g.id = id, g.name = name, g.status = status, g.membershipPolicy = membership::kPassword;
    g.fileCountA = 4, g.memberCount = 9;
    return g;
  };
  CGroupEntry applied = cached(16, "Applied & Waiting", 0);
  applied.secondNumber = kPendingApplication;
  catalogue.groups = {cached(11, "Mine + Yours", group_status::kOwner), cached(10, "Rock & Roll #1", group_status::kMember),
                      cached(14, "Caf\xC3\xA9 Admins", group_status::kAdministrator), cached(15, "Odd", 0), applied};
  CatalogueView view(CatalogueView::Roots::MyGroups, catalogue, runner, prompts);
  view.resize(760, 420);
  view.show();
  view.refresh();
  ASSERT_TRUE(settle());
  EXPECT_EQ(rows(*view.tree()), (QStringList{"Groups I own", "Groups I administrate", "Groups I am member of", "Odd",
                                             "Applied & Waiting"}));
  EXPECT_NE(child(top(view.tree(), "Groups I own"), "Mine + Yours"), nullptr);
  EXPECT_NE(child(top(view.tree(), "Groups I administrate"), QString::fromUtf8("Caf\xC3\xA9 Admins")), nullptr);
  EXPECT_NE(child(top(view.tree(), "Groups I am member of"), "Rock & Roll #1"), nullptr);

  view.tree()->setCurrentItem(top(view.tree(), "Groups I own"));
  EXPECT_EQ(headers(*view.list()), (QStringList{"Name", "Status", "Files", "Members"}));
  ASSERT_EQ(rows(*view.list()), QStringList{"Mine + Yours"});
  EXPECT_EQ(view.list()->topLevelItem(0)->text(1), "Owner");
  EXPECT_EQ(view.list()->topLevelItem(0)->text(2), "4");
  EXPECT_EQ(view.list()->topLevelItem(0)->text(3), "9");

  view.tree()->setCurrentItem(child(top(view.tree(), "Groups I own"), "Mine + Yours"));
  ASSERT_TRUE(settle());
  EXPECT_EQ(rows(*view.list()), QStringList{"mine.txt"});
  screenshot(&view, "my-groups-view");
  // Invite from here opens the site for the open group.
  view.button(CatalogueView::kInvite)->trigger();
  EXPECT_EQ(prompts.opened.size(), 1u);

  // "Refresh" asks for the user's groups from the server again (their counts
  // change without their IDs changing); the answer rebuilds the tree.
  QSignalSpy asked(&view, &CatalogueView::groupsChanged);
  view.button(CatalogueView::kRefresh)->trigger();
  EXPECT_EQ(asked.count(), 1);

  // A refreshed group file rebuilds the tree and keeps the open group.
  catalogue.groups.erase(catalogue.groups.begin() + 3);  // "Odd"
  view.reloadGroups();
  ASSERT_TRUE(settle());
  EXPECT_EQ(top(view.tree(), "Odd"), nullptr);
  EXPECT_EQ(rows(*view.list()), QStringList{"mine.txt"});
}

TEST_F(CatalogueViewsTest, SearchChecksTheFormThenSearchesPagesAndSaysWhatFailed) {
  SearchView view(catalogue, runner, prompts);
  QStringList stored;
  view.setRecentSearches({}, [&](const QStringList& s) { stored = s; });
  struct Case {
    const char* name;
    QString text;
    int kind;
    QString type, minSize, maxSize;
    std::string shown;
  };
  const Case cases[] = {
      {"no text", "", 0, "", "", "", "You must enter a search string"},
      {"other without type", "x", SearchCriteria::kOtherKind, "", "", "", "You must enter a file type in 'Other'"},
      {"minimum above maximum", "x", 0, "", "20", "10",
       "The minimum file size must be less than or equal to the maximum file size"},
      {"minimum alone", "x", 0, "", "20", "", "The minimum file size must be less than or equal to the maximum file size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompts.shown.clear();
    view.textField()->setEditText(c.text);
    view.kindField()->setCurrentIndex(c.kind);
    view.typeField()->setText(c.type);
    view.minSizeField()->setText(c.minSize);
    view.maxSizeField()->setText(c.maxSize);
    view.searchButton()->click();
    EXPECT_EQ(prompts.shown, std::vector<std::string>{"Error: " + c.shown});
  }
  EXPECT_TRUE(catalogue.calls().empty());

  view.resize(760, 420);
  view.show();
  view.minSizeField()->clear();
  view.maxSizeField()->clear();
  view.kindField()->setCurrentIndex(1);
  view.onlineOnlyBox()->setChecked(true);
  view.textField()->setEditText("Rock & Roll #1");
  catalogue.shutGate();
  view.searchButton()->click();
  EXPECT_EQ(view.statusLine()->text(), "Searching...");
  catalogue.openGate();
  ASSERT_TRUE(settle());
  EXPECT_EQ(catalogue.calls(), std::vector<std::string>{"search Rock & Roll #1 start=0 fetch=50 kind=1 online"});
  EXPECT_EQ(rows(*view.list()), (QStringList{"a&b #1.mp3", "deep+song.mp3"}));
  EXPECT_FALSE(view.moreButton()->isEnabled());  // fewer than a page came
  EXPECT_EQ(view.statusLine()->text(), "2 results");
  EXPECT_EQ(stored, QStringList{"Rock & Roll #1"});
  // Sorted by size, largest first.
  view.list()->sortByColumn(1, Qt::DescendingOrder);
  EXPECT_EQ(rows(*view.list()), (QStringList{"deep+song.mp3", "a&b #1.mp3"}));
  screenshot(&view, "search-view");

  // Results download like the browse list.
  view.list()->topLevelItem(0)->setSelected(true);
  view.contextMenu()->actions()[1]->trigger();
  ASSERT_TRUE(settle());
  EXPECT_EQ(catalogue.calls().back(), "download deep+song.mp3 -> /downloads/");

  // One result is counted in the singular.
  const auto bothResults = catalogue.searchResults;
  catalogue.searchResults.resize(1);
  view.searchButton()->click();
  ASSERT_TRUE(settle());
  EXPECT_EQ(view.statusLine()->text(), "1 result");
  catalogue.searchResults = bothResults;

  // A full page offers more; "More results" asks from where the last stopped.
  catalogue.searchResults.resize(SearchView::kPageSize, catalogue.searchResults[0]);
  view.searchButton()->click();
  ASSERT_TRUE(settle());
  EXPECT_TRUE(view.moreButton()->isEnabled());
  view.moreButton()->click();
  ASSERT_TRUE(settle());
  EXPECT_EQ(catalogue.calls().back(), "search Rock & Roll #1 start=50 fetch=50 kind=1 online");
  EXPECT_EQ(view.list()->topLevelItemCount(), 2 * SearchView::kPageSize);

  prompts.shown.clear();
  catalogue.script("search", 503);
  view.searchButton()->click();
  ASSERT_TRUE(settle());
  EXPECT_EQ(prompts.shown, std::vector<std::string>{"Error: Error 503 doing search\n" + errorTitle(503)});
}

TEST_F(CatalogueViewsTest, SearchWithinAGroupAndGoBackToThePreviousSearch) {
  CGroupEntry mine;
  mine.id = 11, mine.name = "Mine + Yours", mine.status = group_status::kOwner;
  CGroupEntry waiting;
  waiting.id = 16, waiting.name = "Applied & Waiting", waiting.secondNumber = kPendingApplication;
  catalogue.groups = {mine, waiting};
  SearchView view(catalogue, runner, prompts);
  auto open = std::make_shared<GroupEntry>();
  open->id = 10, open->name = "Rock & Roll #1";
  view.setOpenGroupSource([&]() -> std::shared_ptr<CatalogueEntry> { return open; });
  view.resize(760, 460);
  view.show();
  view.refresh();
  QStringList choices;
  for (int i = 0; i < view.groupField()->count(); ++i) choices << view.groupField()->itemText(i);
  // A group one only applied to holds nothing one may search yet.
  EXPECT_EQ(choices, (QStringList{"All groups", "Open group: Rock & Roll #1", "Mine + Yours"}));

  view.textField()->setEditText("first");
  view.search();
  ASSERT_TRUE(settle());
  const auto firstResults = catalogue.searchResults;
  catalogue.searchResults.resize(1);
  view.groupField()->setCurrentIndex(1);
  view.textField()->setEditText("second");
  view.search();
  ASSERT_TRUE(settle());
  view.groupField()->setCurrentIndex(2);
  view.textField()->setEditText("third");
  view.search();
  ASSERT_TRUE(settle());
  EXPECT_EQ(catalogue.calls(), (std::vector<std::string>{"search first start=0 fetch=50 kind=0",
                                                         "search second start=0 fetch=50 kind=0 group=10",
                                                         "search third start=0 fetch=50 kind=0 group=11"}));
  screenshot(&view, "search-in-group");

  // "Go Back" shows the previous searches again, one at a time, without asking the server.
  view.contextMenu()->actions()[0]->trigger();
  EXPECT_EQ(view.textField()->currentText(), "second");
  EXPECT_EQ(view.groupField()->currentText(), "Open group: Rock & Roll #1");
  EXPECT_EQ(view.list()->topLevelItemCount(), 1);
  view.contextMenu()->actions()[0]->trigger();
  EXPECT_EQ(view.textField()->currentText(), "first");
  EXPECT_EQ(view.groupField()->currentText(), "All groups");
  EXPECT_EQ(view.list()->topLevelItemCount(), static_cast<int>(firstResults.size()));
  EXPECT_EQ(view.statusLine()->text(), QString("%1 results").arg(firstResults.size()));
  EXPECT_FALSE(view.canGoBack());
  EXPECT_EQ(catalogue.calls().size(), 3u);
}

TEST_F(CatalogueViewsTest, SearchIgnoresAnAnswerAfterTheViewWasLeftAndRemembersTenSearches) {
  SearchView view(catalogue, runner, prompts);
  QStringList stored;
  view.setRecentSearches({"old"}, [&](const QStringList& s) { stored = s; });
  view.textField()->setEditText("late");
  catalogue.shutGate();
  view.searchButton()->click();
  view.leave();
  catalogue.openGate();
  ASSERT_TRUE(settle());
  EXPECT_EQ(view.list()->topLevelItemCount(), 0);
  EXPECT_FALSE(view.searching());

  for (int i = 0; i < 12; ++i) {
    view.textField()->setEditText(QString("query %1").arg(i));
    view.search();
  }
  view.textField()->setEditText("query 5");
  view.search();
  ASSERT_TRUE(settle());
  ASSERT_EQ(stored.size(), SearchView::kRemembered);
  EXPECT_EQ(stored.front(), "query 5");
  EXPECT_EQ(stored[1], "query 11");
  EXPECT_EQ(stored.count("query 5"), 1);
  EXPECT_FALSE(stored.contains("old"));
}


TEST(CatalogueDialogsTest, TheGroupWizardStaysOpenUntilItsPagesPassTheirChecks) {
  struct Case {
    const char* name;
    const char* groupName;
    int membership;
    const char* password;
    const char* confirmation;
    const char* problem;  // "" when the wizard closes
  };
  const Case cases[] = {
      {"short name", "abc", 0, "", "", "Group name must be at least 4 characters"},
      {"short password", "Rock & Roll #1", 2, "abc", "abc", "Password must be at least 4 characters"},
      {"confirmation differs", "Rock & Roll #1", 2, "secret", "secrets", "Password and confirmed password do not match"},
      {"accepted", "Rock & Roll #1", 2, "secret", "secret", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GroupWizard wizard;
    wizard.show();
    wizard.nameField()->setText(QString::fromUtf8(c.groupName));
    wizard.membership()->button(c.membership)->click();
    wizard.passwordField()->setText(c.password);
    wizard.confirmationField()->setText(c.confirmation);
    QString shown;
    WhenShown box("Error", [&](QWidget* w) {
      shown = static_cast<QMessageBox*>(w)->text();
      button(w, "OK")->click();
    });
    wizard.accept();
    EXPECT_EQ(shown.toStdString(), c.problem);
    EXPECT_EQ(wizard.result() == QDialog::Accepted, std::string(c.problem).empty());
    if (std::string(c.problem).empty()) {
      const NewGroupRequest request = wizard.request();
      EXPECT_EQ(request.choice.membership, GroupWizardChoice::Membership::RequirePassword);
      EXPECT_EQ(request.choice.download, GroupWizardChoice::Download::Public);
    }
  }
}

// "Next" on the first page checks the name there, before the person goes on.
TEST(CatalogueDialogsTest, TheGroupWizardChecksTheNameAtNext) {
  GroupWizard wizard;
  wizard.show();
  ASSERT_TRUE(waitUntil([&] { return wizard.currentId() == 0; }));
  for (const char* name : {"abc", "Café & Co #1"}) {
    SCOPED_TRACE(name);
    wizard.nameField()->setText(QString::fromUtf8(name));
    QString shown;
    WhenShown box("Error", [&](QWidget* w) {
      shown = static_cast<QMessageBox*>(w)->text();
      button(w, "OK")->click();
    });
    wizard.next();
    const bool good = std::string(name) != "abc";
    EXPECT_EQ(shown, good ? QString() : QString("Group name must be at least 4 characters"));
    EXPECT_EQ(wizard.currentId(), good ? 1 : 0);
  }
  // The membership page says how the lists name "Accept All".
  bool named = false;
  for (QLabel* label : wizard.currentPage()->findChildren<QLabel*>()) {
    named = named || label->text().contains("\"Admit All\"");
  }
  EXPECT_TRUE(named);
}

TEST(CatalogueDialogsTest, JoinAsksUnderTheGroupsNameForPasswordAndComments) {
  QtCommandPrompts prompts;
  WhenShown join(QString::fromUtf8("Join - Caf\xC3\xA9 & Friends #1"), [](QWidget* w) {
    auto* dialog = static_cast<JoinDialog*>(w);
    screenshot(dialog, "join-group");
    dialog->passwordField()->setText("p&ss");
    dialog->commentsField()->setPlainText("50% + more");
    dialog->accept();
  });
  const auto answer = prompts.askJoin("Join - Caf\xC3\xA9 & Friends #1");
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->password, "p&ss");
  EXPECT_EQ(answer->comments, "50% + more");
}

}  // namespace
}  // namespace vantrel::ui
