// SPDX-License-Identifier: MIT
#include "ui/catalogue_views.h"

#include "app/catalogue_session.h"
#include "transfers/download_folder.h"

namespace vantrel::ui {

CatalogueViews::CatalogueViews(ClientApp& app, MainWindow& window) : m_app(app), m_dialogs(&window) {
  CatalogueSession& session = app.catalogue();
  m_browse = new CatalogueView(CatalogueView::Roots::Catalogue, session.service(), session.runner(), m_dialogs);
  m_myGroups = new CatalogueView(CatalogueView::Roots::MyGroups, session.service(), session.runner(), m_dialogs);
  m_search = new SearchView(session.service(), session.runner(), m_dialogs);
  window.setView(kBrowseItem, m_browse);
  window.setView(kMyGroupsItem, m_myGroups);
  window.setView(kSearchItem, m_search);

  m_dialogs.setGroupsChanged([&session] { session.syncGroups(); });
  m_dialogs.setDownloadStart([&app] { return downloadFolder(app.settings()); });
  for (CatalogueView* view : {m_browse.data(), m_myGroups.data()}) {
    QObject::connect(view, &CatalogueView::groupsChanged, view, [&session] { session.syncGroups(); });
  }
  // Called on the UI thread after each refresh of the groups, the one after a login too.
  session.setGroupsListener([groups = m_myGroups, browse = m_browse] {
    if (groups) groups->reloadGroups();
    if (browse && browse->isVisible() && browse->tree()->topLevelItemCount() == 0) browse->refresh();
  });

  // "Search" offers the group open in "Browse Vantrel" (the one above the open directory).
  m_search->setOpenGroupSource([browse = m_browse]() -> std::shared_ptr<CatalogueEntry> {
    if (!browse) return nullptr;
    const EntryList path = browse->selection().path;
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
      if ((*it)->type == EntryType::Group) return *it;
    }
    return nullptr;
  });

  QStringList searches = QString::fromStdString(app.settings().GetSettingText(kSearchesSetting)).split('\n');
  searches.removeAll(QString());
  m_search->setRecentSearches(searches, [&app](const QStringList& list) {
    app.settings().SetSettingText(kSearchesSetting, list.join('\n').toStdString());
  });
}

CatalogueViews::~CatalogueViews() { m_app.catalogue().setGroupsListener({}); }

}  // namespace vantrel::ui
