// SPDX-License-Identifier: MIT
#include "ui/catalogue_view.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>

#include "core/error_table.h"

namespace vantrel::ui {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

bool sameEntry(const std::shared_ptr<CatalogueEntry>& a, const std::shared_ptr<CatalogueEntry>& b) {
  return a && b && a->type == b->type && a->id == b->id;
}

bool samePath(const EntryList& a, const EntryList& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameEntry);
}

bool isContainer(const CatalogueEntry& e) { return e.type != EntryType::File; }

ListingKind kindOf(const CatalogueEntry& e) {
  switch (e.type) {
    case EntryType::Category:
      return ListingKind::Category;
    case EntryType::Group:
      return ListingKind::Group;
    case EntryType::Directory:
    case EntryType::File:
      break;
  }
  return ListingKind::Directory;
}

std::shared_ptr<GroupEntry> listedGroup(const CGroupEntry& g) { return std::make_shared<GroupEntry>(g.toListing()); }

}  // namespace

class CatalogueView::Node : public QTreeWidgetItem {
 public:
  // A node of an entry; `path` ends with it.
  explicit Node(EntryList entries) : path(std::move(entries)), entry(path.back()) {
    setText(0, qs(entry->name));
    setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
  // A label of "My Groups" with groups under it.
  explicit Node(const QString& label) { setText(0, label); }

  EntryList path;
  std::shared_ptr<CatalogueEntry> entry;  // null for a label
  bool loaded = false;
  bool loading = false;
};

CatalogueView::CatalogueView(Roots roots, CatalogueService& service, CatalogueRunner& runner, CommandPrompts& dialogs,
                             QWidget* parent)
    : ItemView(roots == Roots::Catalogue ? kBrowseName : kMyGroupsName, parent),
      m_roots(roots),
      m_service(service),
      m_runner(runner),
      m_dialogs(dialogs),
      m_commands(service, runner, *this) {
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  delete layout->takeAt(layout->count() - 1);  // the placeholder stretch gives way

  m_toolBar = new QToolBar;
  m_toolBar->setIconSize(QSize(20, 20));
  buildToolBar();
  layout->addWidget(m_toolBar);

  auto* splitter = new QSplitter;
  m_tree = new QTreeWidget;
  m_tree->setHeaderHidden(true);
  m_tree->setUniformRowHeights(true);
  m_list = new CatalogueList;
  splitter->addWidget(m_tree);
  splitter->addWidget(m_list);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({180, 400});
  layout->addWidget(splitter, 1);
  m_status = new QLabel;
  m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(m_status);

  m_menu = new QMenu(kMenuTitle, this);
  m_menu->setTitle(kMenuTitle);
  connect(m_menu->addAction(kMenuItems[0]), &QAction::triggered, this, &CatalogueView::goBack);
  connect(m_menu->addAction(kMenuItems[1]), &QAction::triggered, this, [this] { m_commands.download(selection()); });
  connect(m_menu->addAction(kMenuItems[2]), &QAction::triggered, this, [this] { m_commands.remove(selection()); });
  connect(m_list, &QWidget::customContextMenuRequested, this, &CatalogueView::showContextMenu);

  connect(m_tree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { loadNode(static_cast<Node*>(item)); });
  connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (m_navigating || item == nullptr) return;
    auto* node = static_cast<Node*>(item);
    if (node->entry) {
      openPath(node->path, true);
      return;
    }
    // A label of "My Groups": its groups, without a request.
    EntryList groups;
    for (int i = 0; i < node->childCount(); ++i) groups.push_back(static_cast<Node*>(node->child(i))->entry);
    if (!m_open.empty()) {
      m_back.push_back(m_open);
      m_forward.clear();
    }
    m_open.clear();
    m_listGuard.stamp();
    m_listLoading = false;
    m_list->showEntries(groups);
  });
  connect(m_list, &QTreeWidget::itemActivated, this, &CatalogueView::activate);

  auto* back = new QShortcut(QKeySequence(Qt::Key_Backspace), this);
  back->setContext(Qt::WidgetWithChildrenShortcut);
  connect(back, &QShortcut::activated, this, &CatalogueView::goBack);
  auto* remove = new QShortcut(QKeySequence(QKeySequence::Delete), this);
  remove->setContext(Qt::WidgetWithChildrenShortcut);
  connect(remove, &QShortcut::activated, this, [this] { m_commands.remove(selection()); });
}

CatalogueView::~CatalogueView() = default;

void CatalogueView::buildToolBar() {
  const QStyle::StandardPixmap icons[10] = {
      QStyle::SP_ArrowBack,           QStyle::SP_BrowserReload,   QStyle::SP_ArrowForward,
      QStyle::SP_DialogSaveButton,    QStyle::SP_DialogOpenButton, QStyle::SP_FileDialogNewFolder,
      QStyle::SP_FileDialogListView,  QStyle::SP_DialogYesButton,  QStyle::SP_FileDialogInfoView,
      QStyle::SP_MessageBoxInformation};
  const std::function<void()> actions[10] = {
      [this] { goBack(); },
      [this] { reload(); },
      [this] { goForward(); },
      [this] { m_commands.download(selection()); },
      [this] { m_commands.shareFiles(selection()); },
      [this] { m_commands.createDirectory(selection()); },
      [this] { m_commands.createGroup(selection()); },
      [this] { m_commands.joinGroup(selection()); },
      [this] { m_commands.administrate(selection()); },
      [this] { m_commands.invite(selection()); },
  };
  for (int i = 0; i < 10; ++i) {
    if (i == 3 || i == 5) m_toolBar->addSeparator();
    QAction* action = m_toolBar->addAction(style()->standardIcon(icons[i]), kButtons[i]);
    action->setToolTip(kButtons[i]);
    connect(action, &QAction::triggered, this, actions[i]);
  }
}

QAction* CatalogueView::button(const QString& tooltip) const {
  for (QAction* action : m_toolBar->actions()) {
    if (action->toolTip() == tooltip) return action;
  }
  return nullptr;
}

CatalogueSelection CatalogueView::selection() const { return {m_open, m_list->selectedEntries()}; }

QStringList CatalogueView::openPath() const {
  QStringList names;
  for (const auto& e : m_open) names << qs(e->name);
  return names;
}

void CatalogueView::refresh() {
  ItemView::refresh();
  if (!m_rootsLoaded) {
    loadRoots();
  } else {
    openPath(m_open, false);
  }
}

void CatalogueView::loadRoots() {
  if (m_roots == Roots::MyGroups) {
    reloadGroups();
    return;
  }
  m_rebuildRoots = true;
  openPath({}, false);
}

void CatalogueView::reloadGroups() {
  if (m_roots != Roots::MyGroups) return;
  m_navigating = true;
  dropTreeLoads();
  m_pendingReloads.clear();
  m_tree->clear();
  Node* labels[3];
  for (int i = 0; i < 3; ++i) {
    labels[i] = new Node(QString(kMyGroupsRoots[i]));
    m_tree->addTopLevelItem(labels[i]);
  }
  for (const CGroupEntry& g : m_service.myGroups()) {
    auto* node = new Node(EntryList{listedGroup(g)});
    if (g.expandable == 0) node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    switch (g.status) {
      case group_status::kOwner:
        labels[0]->addChild(node);
        break;
      case group_status::kAdministrator:
        labels[1]->addChild(node);
        break;
      case group_status::kMember:
        labels[2]->addChild(node);
        break;
      default:
        m_tree->addTopLevelItem(node);
        break;
    }
  }
  for (Node* label : labels) label->setExpanded(true);
  m_navigating = false;
  m_rootsLoaded = true;
  // The open group shows again, and its node is the current one.
  if (Node* node = nodeFor(m_open)) {
    m_navigating = true;
    m_tree->setCurrentItem(node);
    m_navigating = false;
  }
  openPath(m_open, false);
}

EntryList CatalogueView::childrenOf(const EntryList& path) const {
  if (path.empty()) {
    if (m_roots == Roots::MyGroups) {
      EntryList groups;
      for (const CGroupEntry& g : m_service.myGroups()) groups.push_back(listedGroup(g));
      return groups;
    }
    const auto root = m_service.category(0);
    return root ? root->children : EntryList{};
  }
  const auto& e = *path.back();
  switch (e.type) {
    case EntryType::Category:
      if (const auto c = m_service.category(e.id)) return c->children;
      break;
    case EntryType::Group:
      if (const auto g = m_service.group(e.id)) return g->children;
      break;
    case EntryType::Directory:
      if (const auto d = m_service.directory(e.id)) return d->children;
      break;
    case EntryType::File:
      break;
  }
  return {};
}

void CatalogueView::openPath(const EntryList& path, bool record) {
  if (record && !samePath(path, m_open)) {
    m_back.push_back(m_open);
    m_forward.clear();
  }
  m_open = path;
  m_list->clearEntries();
  if (path.empty() && m_roots == Roots::MyGroups) {
    m_listGuard.stamp();
    m_listLoading = false;
    m_list->showEntries(childrenOf(path));
    return;
  }
  const ViewGuard::Stamp stamp = m_listGuard.stamp();
  m_listLoading = true;
  m_listDropped = false;
  m_status->setText("Loading...");
  const ListingKind kind = path.empty() ? ListingKind::Category : kindOf(*path.back());
  const int32_t id = path.empty() ? 0 : path.back()->id;
  m_runner.run([&service = m_service, kind, id, stamp, path, this]() -> CatalogueRunner::Delivery {
    const int code = service.fetchListing(kind, id);
    return [this, stamp, code, path] {
      if (!ViewGuard::fresh(stamp)) return;  // left, or a newer listing was asked for
      m_listLoading = false;
      if (code != 0) {
        const bool root = path.empty();
        const std::string text = root ? kNoRoot
                                      : "Error " + std::to_string(code) + " retreiving entries\n" + errorTitle(code);
        m_status->setText(qs(text));
        m_dialogs.showMessage({text, "Error", MessageIcon::Error, MessageButtons::Ok});
        return;
      }
      const EntryList children = childrenOf(path);
      m_list->showEntries(children);
      m_status->setText(QString(children.size() == 1 ? "%1 entry" : "%1 entries").arg(children.size()));
      if (path.empty() && m_rebuildRoots) {
        // The top of the catalogue: the tree's first level, once and on "Refresh".
        m_rebuildRoots = false;
        m_navigating = true;
        dropTreeLoads();
        m_pendingReloads.clear();
        m_tree->clear();
        for (const auto& child : children) {
          if (isContainer(*child)) m_tree->addTopLevelItem(new Node(EntryList{child}));
        }
        m_navigating = false;
        m_rootsLoaded = true;
      } else if (Node* node = nodeFor(path)) {
        fillNode(node, children);
      }
    };
  });
}

void CatalogueView::loadNode(Node* node) {
  if (node == nullptr || !node->entry || node->loaded || node->loading) return;
  node->loading = true;
  const ViewGuard::Stamp stamp = m_treeGuard.current();
  const ListingKind kind = kindOf(*node->entry);
  const int32_t id = node->entry->id;
  m_runner.run([&service = m_service, kind, id, stamp, node, this]() -> CatalogueRunner::Delivery {
    const int code = service.fetchListing(kind, id);
    return [this, stamp, code, node] {
      if (!ViewGuard::fresh(stamp)) return;  // the node may be gone with the tree
      node->loading = false;
      if (code != 0) {
        m_status->setText(qs("Error " + std::to_string(code) + " retreiving entries\n" + errorTitle(code)));
        return;
      }
      fillNode(node, childrenOf(node->path));
    };
  });
}

void CatalogueView::fillNode(Node* node, const EntryList& children) {
  const bool wasNavigating = m_navigating;
  m_navigating = true;
  // A node whose subtree holds the current item keeps it, so the person's place stays.
  bool holdsCurrent = false;
  for (QTreeWidgetItem* at = m_tree->currentItem(); at != nullptr; at = at->parent()) {
    if (at->parent() == node) holdsCurrent = true;
  }
  if (!holdsCurrent) {
    if (node->childCount() > 0) {
      // Loads of the nodes about to go must not come back to them.
      dropTreeLoads();
      qDeleteAll(node->takeChildren());
    }
    for (const auto& child : children) {
      if (!isContainer(*child)) continue;
      EntryList path = node->path;
      path.push_back(child);
      node->addChild(new Node(std::move(path)));
    }
  }
  node->loaded = true;
  node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  m_navigating = wasNavigating;
  // Loads dropped above whose nodes are still there are asked for again.
  std::vector<Node*> again;
  again.swap(m_pendingReloads);
  if (!again.empty()) {
    // Pointers only compared: a dropped node may be one of those just deleted.
    std::vector<QTreeWidgetItem*> live;
    std::vector<QTreeWidgetItem*> todo;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) todo.push_back(m_tree->topLevelItem(i));
    while (!todo.empty()) {
      QTreeWidgetItem* item = todo.back();
      todo.pop_back();
      live.push_back(item);
      for (int i = 0; i < item->childCount(); ++i) todo.push_back(item->child(i));
    }
    for (Node* other : again) {
      if (std::find(live.begin(), live.end(), other) != live.end()) loadNode(other);
    }
  }
}

void CatalogueView::dropTreeLoads() {
  m_treeGuard.leave();
  std::vector<Node*> asked;
  std::vector<QTreeWidgetItem*> todo;
  for (int i = 0; i < m_tree->topLevelItemCount(); ++i) todo.push_back(m_tree->topLevelItem(i));
  while (!todo.empty()) {
    auto* node = static_cast<Node*>(todo.back());
    todo.pop_back();
    if (node->loading) asked.push_back(node);
    node->loading = false;
    for (int i = 0; i < node->childCount(); ++i) todo.push_back(node->child(i));
  }
  m_pendingReloads = std::move(asked);
}

CatalogueView::Node* CatalogueView::nodeFor(const EntryList& path) const {
  if (path.empty()) return nullptr;
  std::vector<QTreeWidgetItem*> todo;
  for (int i = 0; i < m_tree->topLevelItemCount(); ++i) todo.push_back(m_tree->topLevelItem(i));
  while (!todo.empty()) {
    auto* node = static_cast<Node*>(todo.back());
    todo.pop_back();
    if (node->entry && samePath(node->path, path)) return node;
    for (int i = 0; i < node->childCount(); ++i) todo.push_back(node->child(i));
  }
  return nullptr;
}

void CatalogueView::activate(QTreeWidgetItem* row) {
  const auto entry = m_list->entryOf(row);
  if (!entry) return;
  if (!isContainer(*entry)) {
    m_commands.download({m_open, {entry}});
    return;
  }
  EntryList path = m_open;
  path.push_back(entry);
  if (Node* node = nodeFor(path)) {
    if (node->parent() != nullptr) node->parent()->setExpanded(true);
    m_tree->setCurrentItem(node);  // opens it, into the history
  } else {
    openPath(path, true);
  }
}

void CatalogueView::goBack() {
  if (m_back.empty()) return;
  m_forward.push_back(m_open);
  const EntryList path = m_back.back();
  m_back.pop_back();
  m_navigating = true;
  if (Node* node = nodeFor(path)) {
    m_tree->setCurrentItem(node);
  } else {
    m_tree->setCurrentItem(nullptr);
  }
  m_navigating = false;
  openPath(path, false);
}

void CatalogueView::goForward() {
  if (m_forward.empty()) return;
  m_back.push_back(m_open);
  const EntryList path = m_forward.back();
  m_forward.pop_back();
  m_navigating = true;
  if (Node* node = nodeFor(path)) m_tree->setCurrentItem(node);
  m_navigating = false;
  openPath(path, false);
}

void CatalogueView::reload() {
  // "My Groups" reads the user's groups from the server again whatever is
  // open: their counts change without their IDs changing. The tree is rebuilt
  // when they arrive, keeping the open group.
  if (m_roots == Roots::MyGroups) emit groupsChanged();
  if (m_open.empty() && m_roots == Roots::MyGroups) return;
  if (Node* node = nodeFor(m_open)) node->loaded = false;
  if (m_open.empty()) m_rebuildRoots = true;
  openPath(m_open, false);
}

void CatalogueView::leave() {
  m_listGuard.leave();
  // A listing dropped on its way is asked for again when the view shows.
  m_listDropped = m_listDropped || m_listLoading;
  m_listLoading = false;
  dropTreeLoads();
  m_pendingReloads.clear();
}

void CatalogueView::showEvent(QShowEvent* event) {
  ItemView::showEvent(event);
  if (m_listDropped && m_rootsLoaded) openPath(m_open, false);
}

void CatalogueView::hideEvent(QHideEvent* event) {
  ItemView::hideEvent(event);
  // Another item of the bar was picked (the window itself stays up).
  if (window() != this && window()->isVisible()) leave();
}

void CatalogueView::showContextMenu(const QPoint& at) { m_menu->popup(m_list->viewport()->mapToGlobal(at)); }

void CatalogueView::setStatus(const std::string& text) {
  m_status->setText(qs(text));
  m_dialogs.setStatus(text);
}

void CatalogueView::catalogueChanged(bool groups) {
  m_dialogs.catalogueChanged(groups);
  if (groups) emit groupsChanged();
  reload();
}

}  // namespace vantrel::ui
