// SPDX-License-Identifier: MIT
#pragma once
// SearchView: "Search". The form — text (the last ten searches offered
// again), the group to search in (any, the group open in "Browse Vantrel", or
// one of the user's groups), file kind with its type for "Other", size and
// date bounds, online only — checked before anything is sent; "Searching..." while the request
// runs on the runner; the results in a list that downloads like the browse
// list ("Right Menu", Enter, Delete), sorted by any column; "More results"
// fetches the next page; "Go Back" shows the previous search again. An answer that arrives after the view was left or
// after a newer search is ignored. UI thread only; the service, runner and
// dialogs must outlive the view.

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <functional>

#include "app/models/catalogue_commands_model.h"
#include "ui/catalogue_list.h"
#include "ui/main_window.h"

namespace vantrel::ui {

class SearchView : public ItemView, private CommandPrompts {
  Q_OBJECT
 public:
  static constexpr const char* kName = "Search";
  static constexpr const char* kSearching = "Searching...";
  static constexpr const char* kMoreResults = "More results";
  static constexpr int kPageSize = 50;
  static constexpr int kRemembered = 10;
  static constexpr const char* kAllGroups = "All groups";
  static constexpr const char* kOpenGroup = "Open group: ";  // followed by its name
  static constexpr int kBackSteps = 20;

  SearchView(CatalogueService& service, CatalogueRunner& runner, CommandPrompts& dialogs, QWidget* parent = nullptr);

  // The searches to offer (newest first), and where the list goes when it changes.
  void setRecentSearches(const QStringList& searches, std::function<void(const QStringList&)> store);
  QStringList recentSearches() const;

  // "Search": checks the form, then asks for the first page.
  void search();
  // "More results": the next page of the last search.
  void fetchMore();
  // "Go Back": the search before the one shown, with its results.
  void goBack();
  bool canGoBack() const { return !m_back.empty(); }
  // Where the group open in "Browse Vantrel" comes from (null: none open).
  void setOpenGroupSource(std::function<std::shared_ptr<CatalogueEntry>()> source) { m_openGroup = std::move(source); }
  // Fills the group choice again: the open group, then the user's groups.
  void refresh() override;
  void leave();

  QComboBox* textField() const { return m_text; }
  QComboBox* kindField() const { return m_kind; }
  QComboBox* groupField() const { return m_group; }
  QLineEdit* typeField() const { return m_type; }
  QLineEdit* minSizeField() const { return m_minSize; }
  QLineEdit* maxSizeField() const { return m_maxSize; }
  QCheckBox* minDateSet() const { return m_minDateSet; }
  QDateEdit* minDateField() const { return m_minDate; }
  QCheckBox* maxDateSet() const { return m_maxDateSet; }
  QDateEdit* maxDateField() const { return m_maxDate; }
  QCheckBox* onlineOnlyBox() const { return m_onlineOnly; }
  QPushButton* searchButton() const { return m_searchButton; }
  QPushButton* moreButton() const { return m_moreButton; }
  CatalogueList* list() const { return m_list; }
  QLabel* statusLine() const { return m_status; }
  QMenu* contextMenu() const { return m_menu; }
  CatalogueCommandsModel& commands() { return m_commands; }
  bool searching() const { return m_searching; }
  // The criteria the form holds now (sizes in bytes).
  SearchCriteria criteria() const;

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
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

  void ask(const SearchCriteria& criteria, bool more);
  void remember(const QString& text);
  CatalogueSelection selection() const { return {{}, m_list->selectedEntries()}; }

  // One search as it was shown, for "Go Back".
  struct Shown {
    SearchCriteria criteria;
    EntryList results;
  };

  CatalogueService& m_service;
  CatalogueRunner& m_runner;
  CommandPrompts& m_dialogs;
  CatalogueCommandsModel m_commands;
  QComboBox* m_text;
  QComboBox* m_group;
  QComboBox* m_kind;
  QLineEdit* m_type;
  QLineEdit* m_minSize;
  QLineEdit* m_maxSize;
  QCheckBox* m_minDateSet;
  QDateEdit* m_minDate;
  QCheckBox* m_maxDateSet;
  QDateEdit* m_maxDate;
  QCheckBox* m_onlineOnly;
  QPushButton* m_searchButton;
  QPushButton* m_moreButton;
  CatalogueList* m_list;
  QLabel* m_status;
  QMenu* m_menu;
  ViewGuard m_guard;
  SearchCriteria m_last;
  EntryList m_results;
  std::vector<Shown> m_back;  // the searches before the one shown, oldest first
  std::function<std::shared_ptr<CatalogueEntry>()> m_openGroup;
  bool m_searching = false;
  std::function<void(const QStringList&)> m_storeSearches;
};

}  // namespace vantrel::ui
