// SPDX-License-Identifier: MIT
#pragma once
// CatalogueCommandsModel: the commands of the catalogue views ("Browse Vantrel",
// "My Groups", "Search") without their widgets — download, remove, share
// files, create directory, join group, create group, administrate and invite.
// Each checks the selection in a fixed order and says what is wrong in the
// view's own words, asks the person through CommandPrompts, and does its
// request on the runner; the answer comes back on the UI thread.
//
// UI thread only. The service, runner and prompts must outlive the commands;
// an answer that arrives after the commands are gone is dropped.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/catalogue_runner.h"
#include "app/catalogue_service.h"
#include "core/user_interface.h"

namespace vantrel {

// Where the person is in a catalogue view: the open entry with the entries
// above it, and the entries picked in its list.
struct CatalogueSelection {
  EntryList path;    // root side first; back() is the entry whose listing shows
  EntryList chosen;  // picked in the list

  std::shared_ptr<CatalogueEntry> open() const { return path.empty() ? nullptr : path.back(); }
  // What a command about one entry means: the one directory, group or
  // category picked, else the open one.
  std::shared_ptr<CatalogueEntry> target() const;
};

struct JoinRequest {
  std::string password;
  std::string comments;
};

// What the create-group wizard hands over once its pages passed their checks.
struct NewGroupRequest {
  GroupWizardChoice choice;
  std::string description;
  std::string keywords;
  bool personal = false;
};

// What the commands ask and tell a person. UI thread.
class CommandPrompts {
 public:
  virtual ~CommandPrompts() = default;
  // Shows the box; the answer matters for questions (Yes/No and the like).
  virtual MessageAnswer showMessage(const MessageBox& box) = 0;
  // The folder to download into, or nothing when the person cancels.
  virtual std::optional<std::string> chooseDownloadFolder() = 0;
  virtual std::optional<std::string> askDirectoryName() = 0;
  // The "Join - " dialog with this title.
  virtual std::optional<JoinRequest> askJoin(const std::string& title) = 0;
  virtual std::optional<NewGroupRequest> runGroupWizard() = 0;
  // The files and folders to share into the group named.
  virtual std::optional<std::vector<std::string>> chooseFilesToShare(const std::string& groupName) = 0;
  // Shows the progress of work on another thread until the model says it has finished.
  virtual void runProgress(ProgressDialogModel& model) = 0;
  // False when no browser could be started.
  virtual bool openBrowser(const std::string& url) = 0;
  // The view's status line.
  virtual void setStatus(const std::string& text) = 0;
  // The catalogue changed under the view: its listing (and, with `groups`,
  // the user's groups) should be fetched again.
  virtual void catalogueChanged(bool groups) = 0;
};

class CatalogueCommandsModel {
 public:
  // The texts of the commands; message boxes are titled "Error" unless said.
  static constexpr const char* kShareTarget = "You can only share files into a directory or group";
  static constexpr const char* kShareNoDirectory = "Could not get directory information, could not share files";
  static constexpr const char* kShareNoGroupName = "Could not get group name information, could not share files";
  static constexpr const char* kDownloadNothing = "You have not selected any files or directories to download";
  static constexpr const char* kDownloadKinds = "You can only select files and directories for downloading";
  static constexpr const char* kNothingToDownloadText = "The selected folder holds no files: nothing to download";
  static constexpr const char* kRemoveNothing = "You have not selected any files or directories to remove";
  static constexpr const char* kRemoveKinds = "You can only select files and directories to remove";
  static constexpr const char* kRemoveDenied = "You do not have permissions to remove %s";
  static constexpr const char* kRemoved = "Files successfully removed";
  // The question before removing: "Remove 3 files from the group?"
  static std::string removeQuestion(std::size_t files, std::size_t directories);
  static constexpr const char* kDirectoryTarget =
      "You must select a group or directory in which to create a new directory";
  static constexpr const char* kDirectoryNotMember =
      "You are not a member of this group, you cannot create directories here";
  static constexpr const char* kDirectoryFailed = "Error %d creating directory\n%s";
  static constexpr const char* kJoinNoGroup = "You have not selected a group to join";
  static constexpr const char* kJoinMember = "You are already a member of this group";
  static constexpr const char* kJoinNoEntry = "Error 2 getting group entry, please try refreshing this view";
  static constexpr const char* kJoinFailed = "Could not join group:\n%s";
  static constexpr const char* kJoinTitle = "Join - ";
  static constexpr const char* kJoined = "You are now a member of the group '%s'.";
  static constexpr const char* kGroupTarget = "You can only create groups in a category, please enter a category";
  static constexpr const char* kGroupNoGroups =
      "Sorry, this category cannot contain groups. Please try a lower level category";
  static constexpr const char* kGroupNoEntry = "Could not get entry, please try refreshing this view";
  static constexpr const char* kGroupNameUsed = "Group name is already in use, please try another name";
  static constexpr const char* kGroupNameShort = "Group name is too short please try another name";
  static constexpr const char* kGroupPasswordShort = "Group password is too short please use a longer password";
  static constexpr const char* kGroupCreated = "Group created successfully!";
  static constexpr const char* kPersonalCreated = "Your personal group has been created successfully!";
  static constexpr const char* kGroupFailed = "Could not create group:\n%s - Error %d";
  static constexpr const char* kAdminNoGroup = "You have not selected a group to administrate";
  static constexpr const char* kAdminDenied =
      "You can only administrate a group if you are a group administrator or the group owner";
  static constexpr const char* kInviteNoGroup = "You have not selected a group to invite someone to";
  static constexpr const char* kInviteNotMember = "You cannot invite someone to a group that you are not a member of";
  static constexpr const char* kNoBrowser = "Unable to start browser";
  static constexpr const char* kShareProgress =
      "Adding files.. this can take a while if there are a lot of directories or subdirectories";

  CatalogueCommandsModel(CatalogueService& service, CatalogueRunner& runner, CommandPrompts& prompts);

  void download(const CatalogueSelection& selection);
  void remove(const CatalogueSelection& selection);
  void shareFiles(const CatalogueSelection& selection);
  void createDirectory(const CatalogueSelection& selection);
  void joinGroup(const CatalogueSelection& selection);
  void createGroup(const CatalogueSelection& selection);
  void administrate(const CatalogueSelection& selection);
  void invite(const CatalogueSelection& selection);

  // The address "Administrate this group" and "Invite friend to this group" open.
  std::string administrateUrl(int32_t groupId) const;
  std::string inviteUrl(int32_t groupId) const;

 private:
  void error(const std::string& text);
  // Runs `work` on the runner; `done` gets its code on the UI thread while these commands live.
  void request(std::function<int(CatalogueService&)> work, std::function<void(int)> done);

  CatalogueService& m_service;
  CatalogueRunner& m_runner;
  CommandPrompts& m_prompts;
  std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// The user's relation to a group makes a member of it (owner, member, administrator).
bool isGroupMember(const CatalogueEntry& entry);
// A listed name as one local folder or file name; "" when it cannot be one.
std::string localName(const std::string& listedName);

}  // namespace vantrel
