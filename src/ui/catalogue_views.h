// SPDX-License-Identifier: MIT
#pragma once
// CatalogueViews: "Browse Vantrel", "My Groups" and "Search" built over the
// application's catalogue session and put into the main window, with the
// dialogs their commands ask through. "My Groups" follows every refresh of
// the user's groups; the browse view fetches its top once a login is made.
// The last ten searches are kept in the settings. UI thread only; the
// application and the window must outlive this object, which the window's
// views do not (they belong to the window).

#include <QPointer>

#include "app/client_app.h"
#include "ui/catalogue_dialogs.h"
#include "ui/catalogue_view.h"
#include "ui/main_window.h"
#include "ui/search_view.h"

namespace vantrel::ui {

// Indexes of the catalogue items of the bar, in the order of MainWindow::kItems.
inline constexpr int kBrowseItem = 0;
inline constexpr int kMyGroupsItem = 1;
inline constexpr int kSearchItem = 2;

class CatalogueViews {
 public:
  static constexpr const char* kSearchesSetting = "lastsearches";

  CatalogueViews(ClientApp& app, MainWindow& window);
  ~CatalogueViews();
  CatalogueViews(const CatalogueViews&) = delete;
  CatalogueViews& operator=(const CatalogueViews&) = delete;

  CatalogueView* browse() const { return m_browse; }
  CatalogueView* myGroups() const { return m_myGroups; }
  SearchView* search() const { return m_search; }
  QtCommandPrompts& dialogs() { return m_dialogs; }

 private:
  ClientApp& m_app;
  QtCommandPrompts m_dialogs;
  QPointer<CatalogueView> m_browse;
  QPointer<CatalogueView> m_myGroups;
  QPointer<SearchView> m_search;
};

}  // namespace vantrel::ui
