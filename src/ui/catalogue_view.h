// SPDX-License-Identifier: MIT
#pragma once
// CatalogueView: "Browse Vantrel" and "My Groups". On the left a tree loaded
// as it is expanded — the catalogue's categories, groups and directories, or
// the user's groups under "Groups I own", "Groups I administrate" and "Groups
// I am member of" — and on the right the listing of the open entry. Back and
// forward history, the toolbar's ten buttons, the context menu "Right Menu"
// and the keys Enter (open), Backspace (back) and Delete (remove).
//
// Every listing is fetched on the runner; an answer that arrives after the
// view was left, or after a newer listing was asked for, is ignored. The
// service, runner and dialogs must outlive the view. UI thread only.

#include <QLabel>
#include <QMenu>
#include <QToolBar>
#include <QTreeWidget>

#include <memory>
#include <vector>

#include "app/models/catalogue_commands_model.h"
#include "ui/catalogue_list.h"
#include "ui/main_window.h"

namespace vantrel::ui {

class CatalogueView : public ItemView, private CommandPrompts {
  Q_OBJECT
 public:
  enum class Roots { Catalogue, MyGroups };

  static constexpr const char* kBrowseName = "Browse Vantrel";
  static constexpr const char* kMyGroupsName = "My Groups";
  // The toolbar's buttons by their tooltips, in toolbar order.
  static constexpr const char* kGoBack = "Go back";
  static constexpr const char* kRefresh = "Refresh";
  static constexpr const char* kGoForward = "Go forward";
  static constexpr const char* kDownload = "Download selected files / directories";
  static constexpr const char* kShareFiles = "Share files";
  static constexpr const char* kCreateDirectory = "Create directory";
  static constexpr const char* kCreateGroup = "Create group";
  static constexpr const char* kJoinGroup = "Join group";
  static constexpr const char* kAdministrate = "Administrate this group";
  static constexpr const char* kInvite = "Invite friend to this group";
  static constexpr const char* kButtons[10] = {kGoBack,      kRefresh,         kGoForward,  kDownload,     kShareFiles,
                                               kCreateDirectory, kCreateGroup, kJoinGroup, kAdministrate, kInvite};
  static constexpr const char* kMenuTitle = "Right Menu";
  static constexpr const char* kMenuItems[3] = {"Go Back", "Download", "Remove"};
  static constexpr const char* kNoRoot = "Could not get root category";
  static constexpr const char* kMyGroupsRoots[3] = {"Groups I own", "Groups I administrate", "Groups I am member of"};

  CatalogueView(Roots roots, CatalogueService& service, CatalogueRunner& runner, CommandPrompts& dialogs,
                QWidget* parent = nullptr);
  ~CatalogueView() override;

  // Shown: the tree's top the first time, the open listing again afterwards.
  void refresh() override;
  // The view was left: answers on their way are ignored.
  void leave();
  void goBack();
  void goForward();
  // The toolbar's "Refresh": the open listing and its node fetched again.
  void reload();
  // "My Groups": the tree again from the user's group file.
  void reloadGroups();

  QTreeWidget* tree() const { return m_tree; }
  CatalogueList* list() const { return m_list; }
  QToolBar* toolBar() const { return m_toolBar; }
  QAction* button(const QString& tooltip) const;
  QMenu* contextMenu() const { return m_menu; }
  QLabel* statusLine() const { return m_status; }
  CatalogueCommandsModel& commands() { return m_commands; }
  CatalogueSelection selection() const;
  // The names of the open entry's path, root side first.
  QStringList openPath() const;
  bool loading() const { return m_listLoading; }

 signals:
  // A command changed the user's groups.
  void groupsChanged();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  class Node;

  // CommandPrompts: dialogs go to the front end's; status and changes are this view's.
  MessageAnswer showMessage(const MessageBox& box) override { return m_dialogs.showMessage(box); }
  std::optional<std::string> chooseDownloadFolder() override { return m_dialogs.chooseDownloadFolder(); }
  std::optional<std::string> askDirectoryName() override { return m_dialogs.askDirectoryName(); }
  std::optional<JoinRequest> askJoin(const std::string& title) override { return m_dialogs.askJoin(title); }
  std::optional<NewGroupRequest> runGroupWizard() override { return m_dialogs.runGroupWizard(); }
  std::optional<std::vector<std::string>> chooseFilesToShare(const std::string& groupName) override {
    return m_dialogs.chooseFilesToShare(groupName);
  }
  void runProgress(ProgressDialogModel& model) override { m_dialogs.runProgress(model); }
  bool openBrowser(const std::string& url) override { return m_dialogs.openBrowser(url); }
  void setStatus(const std::string& text) override;
  void catalogueChanged(bool groups) override;

  void buildToolBar();
  void loadRoots();
  // Shows the listing of `path` (empty: the top); `record` puts the one shown now into the history.
  void openPath(const EntryList& path, bool record);
  void loadNode(Node* node);
  void fillNode(Node* node, const EntryList& children);
  Node* nodeFor(const EntryList& path) const;
  // Makes every tree load on its way stale (nodes are about to go).
  void dropTreeLoads();
  void activate(QTreeWidgetItem* row);
  void showContextMenu(const QPoint& at);
  EntryList childrenOf(const EntryList& path) const;

  const Roots m_roots;
  CatalogueService& m_service;
  CatalogueRunner& m_runner;
  CommandPrompts& m_dialogs;
  CatalogueCommandsModel m_commands;
  QToolBar* m_toolBar;
  QTreeWidget* m_tree;
  CatalogueList* m_list;
  QLabel* m_status;
  QMenu* m_menu;
  ViewGuard m_treeGuard;  // tree loads: stale once the view is left
  ViewGuard m_listGuard;  // the open listing: stale once another is asked for
  std::vector<Node*> m_pendingReloads;  // loads dropped while their nodes stay
  EntryList m_open;
  std::vector<EntryList> m_back;
  std::vector<EntryList> m_forward;
  bool m_rootsLoaded = false;
  bool m_rebuildRoots = false;  // the next listing of the top rebuilds the tree
  bool m_listLoading = false;
  bool m_listDropped = false;  // the open listing was left on its way
  bool m_navigating = false;  // the tree's selection follows the history, not the person
};

}  // namespace vantrel::ui
