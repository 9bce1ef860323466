// SPDX-License-Identifier: MIT
#include "app/models/catalogue_commands_model.h"

#include <gtest/gtest.h>

#include "app/testing/recording_prompts.h"
#include "app/testing/scripted_catalogue.h"
#include "core/error_table.h"
#include "protocol/shared_file_requests.h"

namespace vantrel {
namespace {

using app_testing::DeliveryQueue;
using app_testing::RecordingPrompts;
using app_testing::ScriptedCatalogue;

enum class Command { Download, Remove, Share, CreateDirectory, Join, CreateGroup, Administrate, Invite };

class CatalogueCommandsModelTest : public ::testing::Test {
 protected:
  CatalogueCommandsModelTest() {
    for (const int32_t id : {0, 1, 10, 11, 20}) catalogue.fetchListing(ListingKind::Directory, id);
    catalogue.clearCalls();
  }

  std::shared_ptr<CatalogueEntry> music() { return catalogue.listings[0][0]; }
  std::shared_ptr<CatalogueEntry> archive() { return catalogue.listings[0][1]; }
  std::shared_ptr<CatalogueEntry> lounge() { return catalogue.listings[1][0]; }
  std::shared_ptr<CatalogueEntry> mine() { return catalogue.listings[1][1]; }
  std::shared_ptr<CatalogueEntry> live() { return catalogue.listings[10][0]; }
  std::shared_ptr<CatalogueEntry> othersFile() { return catalogue.listings[10][1]; }
  std::shared_ptr<CatalogueEntry> deepFile() { return catalogue.listings[20][0]; }
  std::shared_ptr<CatalogueEntry> ownFile() { return catalogue.listings[11][0]; }

  void run(Command command, const CatalogueSelection& selection) {
    switch (command) {
      case Command::Download:
        commands.download(selection);
        break;
      case Command::Remove:
        commands.remove(selection);
        break;
      case Command::Share:
        commands.shareFiles(selection);
        break;
      case Command::CreateDirectory:
        commands.createDirectory(selection);
        break;
      case Command::Join:
        commands.joinGroup(selection);
        break;
      case Command::CreateGroup:
        commands.createGroup(selection);
        break;
      case Command::Administrate:
        commands.administrate(selection);
        break;
      case Command::Invite:
        commands.invite(selection);
        break;
    }
    ASSERT_TRUE(queue.settle(runner));
  }

  ScriptedCatalogue catalogue;
  DeliveryQueue queue;
  RecordingPrompts prompts;
  CatalogueRunner runner{queue.poster()};
  CatalogueCommandsModel commands{catalogue, runner, prompts};
};

std::string error(const std::string& text) { return "Error: " + text; }

TEST_F(CatalogueCommandsModelTest, EachCommandChecksItsSelectionInOrderAndSaysWhatHappened) {
  NewGroupRequest jazz;
  jazz.choice.name = "Jazz & Blues";
  jazz.choice.membership = GroupWizardChoice::Membership::RequirePassword;
  jazz.choice.password = jazz.choice.confirmation = "secret";
  NewGroupRequest personal = jazz;
  personal.personal = true;
  auto unknownGroup = ScriptedCatalogue::group(12, "Nowhere", 0, 99);
  auto unknownCategory = ScriptedCatalogue::category(3, "Elsewhere", true);
  auto nameless = ScriptedCatalogue::group(13, "", group_status::kMember, 5);

  struct Case {
    const char* name;
    Command command;
    CatalogueSelection selection;
    std::vector<std::pair<std::string, int>> script;
    std::optional<NewGroupRequest> wizard;
    std::vector<std::string> calls;
    std::vector<std::string> shown;
  };
  const std::vector<Case> cases = {
      {"download nothing", Command::Download, {{music(), lounge()}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kDownloadNothing)}},
      {"download a group", Command::Download, {{music()}, {lounge(), othersFile()}}, {}, {}, {},
       {error(CatalogueCommandsModel::kDownloadKinds)}},
      {"download a file and a directory", Command::Download, {{music(), lounge()}, {othersFile(), live()}}, {}, {},
       {"download a&b #1.mp3 -> /downloads/", "download dir Live 100% \xC3\xBC -> /downloads/Live 100% \xC3\xBC/"},
       {}},
      {"remove nothing", Command::Remove, {{music(), lounge()}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kRemoveNothing)}},
      {"remove a group", Command::Remove, {{music()}, {mine()}}, {}, {}, {}, {error(CatalogueCommandsModel::kRemoveKinds)}},
      {"remove another's file", Command::Remove, {{music(), lounge()}, {live(), othersFile()}}, {}, {}, {},
       {error("You do not have permissions to remove a&b #1.mp3")}},
      {"remove own file and directory", Command::Remove, {{music(), lounge()}, {ownFile(), live()}}, {}, {},
       {"removefiles 32", "removedirs 20"},
       {"Remove: Remove 1 directory and 1 file from the group?\nEverything in the directory is removed with it.",
        "Remove: " + std::string(CatalogueCommandsModel::kRemoved)}},
      {"remove refused", Command::Remove, {{music(), lounge()}, {live()}}, {{"removedirs", 621}}, {},
       {"removedirs 20"},
       {"Remove: Remove 1 directory from the group?\nEverything in the directory is removed with it.",
        error("Error 621 removing files\n" + errorTitle(621))}},
      {"remove own file refused by the server", Command::Remove, {{music(), lounge()}, {ownFile()}},
       {{"removefiles", 501}}, {}, {"removefiles 32"},
       {"Remove: Remove 1 file from the group?", error("Error 501 removing files\n" + errorTitle(501))}},
      {"share into a category", Command::Share, {{music()}, {}}, {}, {}, {}, {error(CatalogueCommandsModel::kShareTarget)}},
      {"share into a directory", Command::Share, {{music(), lounge(), live()}, {}}, {}, {},
       {"share /home/me/Rock & Roll #1 -> group 10 'Rock & Roll #1' dir 20 'Live 100% \xC3\xBC'"},
       {"Files Shared: Your files are now shared in the group 'Rock & Roll #1'."}},
      {"share into a group picked in the list", Command::Share, {{music()}, {mine()}}, {}, {},
       {"share /home/me/Rock & Roll #1 -> group 11 'Mine + Yours' dir 11 ''"},
       {"Files Shared: Your files are now shared in the group 'Mine + Yours'."}},
      {"share into a directory without its group", Command::Share, {{live()}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kShareNoDirectory)}},
      {"share into a group without a name", Command::Share, {{music(), nameless}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kShareNoGroupName)}},
      {"share fails", Command::Share, {{music(), mine()}, {}}, {{"share", 700}}, {},
       {"share /home/me/Rock & Roll #1 -> group 11 'Mine + Yours' dir 11 ''"},
       {error("Error 700 sharing files\n" + errorTitle(700))}},
      {"directory in a category", Command::CreateDirectory, {{music()}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kDirectoryTarget)}},
      {"directory in a group of others", Command::CreateDirectory, {{music(), lounge()}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kDirectoryNotMember)}},
      {"directory in own group", Command::CreateDirectory, {{music(), mine()}, {}}, {}, {},
       {"createdir New & Improved #2 in 11"}, {}},
      {"directory refused", Command::CreateDirectory, {{music(), mine()}, {}}, {{"createdir", 215}}, {},
       {"createdir New & Improved #2 in 11"}, {error("Error 215 creating directory\n" + errorTitle(215))}},
      {"join no group", Command::Join, {{music()}, {}}, {}, {}, {}, {error(CatalogueCommandsModel::kJoinNoGroup)}},
      {"join own group", Command::Join, {{music(), mine()}, {}}, {}, {}, {}, {error(CatalogueCommandsModel::kJoinMember)}},
      {"join a group never listed", Command::Join, {{music()}, {unknownGroup}}, {}, {}, {},
       {error(CatalogueCommandsModel::kJoinNoEntry)}},
      {"join", Command::Join, {{music()}, {lounge()}}, {}, {}, {"join 10 pw let me in"},
       {"Join: You are now a member of the group 'Rock & Roll #1'."}},
      {"join a group whose owner decides", Command::Join, {{music()}, {lounge()}}, {{"join", 600}}, {},
       {"join 10 pw let me in"},
       {"Join: Your application has been sent, when it is approved you will be notified via Vantrel Messaging"}},
      {"join refused", Command::Join, {{music(), lounge()}, {}}, {{"join", 506}}, {}, {"join 10 pw let me in"},
       {error("Could not join group:\n" + errorTitle(506))}},
      {"group in a group", Command::CreateGroup, {{music(), mine()}, {}}, {}, jazz, {},
       {error(CatalogueCommandsModel::kGroupTarget)}},
      {"group in a category without groups", Command::CreateGroup, {{archive()}, {}}, {}, jazz, {},
       {error(CatalogueCommandsModel::kGroupNoGroups)}},
      {"group in a category never listed", Command::CreateGroup, {{unknownCategory}, {}}, {}, jazz, {},
       {error(CatalogueCommandsModel::kGroupNoEntry)}},
      {"group created", Command::CreateGroup, {{music()}, {}}, {}, jazz,
       {"creategroup Jazz & Blues in 1 memb=1 perm=2 password=secret"},
       {"Success: " + std::string(CatalogueCommandsModel::kGroupCreated)}},
      {"personal group created", Command::CreateGroup, {{}, {music()}}, {}, personal,
       {"creategroup Jazz & Blues in 1 memb=1 perm=2 password=secret"},
       {"Success: " + std::string(CatalogueCommandsModel::kPersonalCreated)}},
      {"group wizard cancelled", Command::CreateGroup, {{music()}, {}}, {}, {}, {}, {}},
      {"group name taken", Command::CreateGroup, {{music()}, {}}, {{"creategroup", 610}}, jazz,
       {"creategroup Jazz & Blues in 1 memb=1 perm=2 password=secret"}, {error(CatalogueCommandsModel::kGroupNameUsed)}},
      {"group name short", Command::CreateGroup, {{music()}, {}}, {{"creategroup", 611}}, jazz,
       {"creategroup Jazz & Blues in 1 memb=1 perm=2 password=secret"}, {error(CatalogueCommandsModel::kGroupNameShort)}},
      {"group password short", Command::CreateGroup, {{music()}, {}}, {{"creategroup", 612}}, jazz,
       {"creategroup Jazz & Blues in 1 memb=1 perm=2 password=secret"},
       {error(CatalogueCommandsModel::kGroupPasswordShort)}},
      {"group refused otherwise", Command::CreateGroup, {{music()}, {}}, {{"creategroup", 520}}, jazz,
       {"creategroup Jazz & Blues in 1 memb=1 perm=2 password=secret"},
       {error("Could not create group:\n" + errorTitle(520) + " - Error 520")}},
      {"administrate nothing", Command::Administrate, {{music()}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kAdminNoGroup)}},
      {"administrate another's group", Command::Administrate, {{music(), lounge()}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kAdminDenied)}},
      {"invite nothing", Command::Invite, {{music()}, {othersFile()}}, {}, {}, {},
       {error(CatalogueCommandsModel::kInviteNoGroup)}},
      {"invite to a group of others", Command::Invite, {{music(), lounge()}, {}}, {}, {}, {},
       {error(CatalogueCommandsModel::kInviteNotMember)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    catalogue.clearCalls();
    for (const auto& [operation, code] : c.script) catalogue.script(operation, code);
    prompts.shown.clear();
    prompts.wizard = c.wizard;
    run(c.command, c.selection);
    EXPECT_EQ(catalogue.calls(), c.calls);
    EXPECT_EQ(prompts.shown, c.shown);
    for (const auto& [operation, code] : c.script) catalogue.script(operation, 0);
  }
}

TEST_F(CatalogueCommandsModelTest, JoinAsksWithTheGroupsNameAndRefreshesTheGroups) {
  run(Command::Join, {{music(), lounge()}, {}});
  EXPECT_EQ(prompts.asked, (std::vector<std::string>{"Join - Rock & Roll #1"}));
  EXPECT_EQ(prompts.changes, (std::vector<std::string>{"groups"}));
}

TEST_F(CatalogueCommandsModelTest, DownloadSaysWhereItGoesAndNothingHappensWithoutAFolder) {
  run(Command::Download, {{music(), lounge()}, {othersFile()}});
  EXPECT_EQ(prompts.status, "Downloads queued into /downloads/ (see Incoming)");
  catalogue.clearCalls();
  prompts.folder.reset();
  run(Command::Download, {{music(), lounge()}, {othersFile()}});
  EXPECT_TRUE(catalogue.calls().empty());
}

TEST_F(CatalogueCommandsModelTest, DownloadingAFolderWithoutFilesSaysSo) {
  catalogue.script("download", catalogue_view::kNothingToDownload);
  run(Command::Download, {{music(), lounge()}, {live()}});
  EXPECT_EQ(prompts.status, "The selected folder holds no files: nothing to download");
}

TEST_F(CatalogueCommandsModelTest, AdministrateAndInviteOpenTheSiteSignedInAtTheirPage) {
  run(Command::Administrate, {{music(), mine()}, {}});
  run(Command::Invite, {{music()}, {mine()}});
  EXPECT_EQ(prompts.opened, (std::vector<std::string>{
                                "http://web/login.jsp?clientid=7&password=SEALED&redirect=groupsettings.jsp?groupid=11",
                                "http://web/login.jsp?clientid=7&password=SEALED&redirect=composemessage.jsp?"
                                "msg_header=Check+out+this+group!&invite=11"}));
  EXPECT_TRUE(prompts.shown.empty());
  prompts.browserStarts = false;
  run(Command::Invite, {{music(), mine()}, {}});
  EXPECT_EQ(prompts.shown, (std::vector<std::string>{error(CatalogueCommandsModel::kNoBrowser)}));
}

TEST_F(CatalogueCommandsModelTest, SharingSaysWhichNamesTheServerListsShortened) {
  const std::string longName = "Live at the Caf\xC3\xA9 & Bar " + std::string(120, '~') + ".flac";
  prompts.files = std::vector<std::string>{"/home/me/" + longName, "/home/me/short.flac"};
  run(Command::Share, {{music(), lounge(), live()}, {}});
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0], "Files Shared: Your files are now shared in the group 'Rock & Roll #1'.\n\n"
                              "One file name is longer than the 128 characters the server keeps, and others see "
                              "them shortened, their extensions kept:\n" +
                                  listedFileName(longName));
  EXPECT_EQ(listedFileName(longName).size(), 128u);
  EXPECT_EQ(listedFileName(longName).substr(123), ".flac");
}

TEST_F(CatalogueCommandsModelTest, RemoveAsksFirstAndNoSendsNothing) {
  const struct {
    std::size_t files, directories;
    const char* want;
  } questions[] = {
      {3, 0, "Remove 3 files from the group?"},
      {1, 0, "Remove 1 file from the group?"},
      {0, 2, "Remove 2 directories from the group?\nEverything in the directories is removed with them."},
      {2, 1, "Remove 1 directory and 2 files from the group?\nEverything in the directory is removed with it."},
  };
  for (const auto& q : questions) EXPECT_EQ(CatalogueCommandsModel::removeQuestion(q.files, q.directories), q.want);

  prompts.answerYes = false;
  run(Command::Remove, {{music(), lounge()}, {ownFile(), live()}});
  EXPECT_TRUE(catalogue.calls().empty());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].rfind("Remove: Remove 1 directory and 1 file", 0), 0u);
}

TEST_F(CatalogueCommandsModelTest, AnAnswerAfterTheCommandsWentIsDropped) {
  catalogue.shutGate();
  auto gone = std::make_unique<CatalogueCommandsModel>(catalogue, runner, prompts);
  gone->remove({{music(), lounge()}, {live()}});
  gone.reset();
  catalogue.openGate();
  ASSERT_TRUE(queue.settle(runner));
  EXPECT_EQ(catalogue.calls(), (std::vector<std::string>{"removedirs 20"}));
  EXPECT_EQ(prompts.shown.size(), 1u);  // the question only
}

}  // namespace
}  // namespace vantrel
