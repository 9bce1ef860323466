// SPDX-License-Identifier: MIT
#include "ui/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QKeySequence>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantrel::ui {
namespace {

constexpr const char* kItemIcons[5] = {":/icons/browse.svg", ":/icons/my-groups.svg", ":/icons/search.svg",
                                       ":/icons/incoming.svg", ":/icons/outgoing.svg"};

}  // namespace

ItemView::ItemView(const QString& name, QWidget* parent) : QWidget(parent) {
  setObjectName(name);
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(name);
  QFont font = title->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.3);
  title->setFont(font);
  layout->addWidget(title);
  layout->addStretch();
}

OutlookBar::OutlookBar(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* folder = new QToolButton;
  folder->setText(kFolder);
  folder->setToolButtonStyle(Qt::ToolButtonTextOnly);
  folder->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  layout->addWidget(folder);
  m_items = new QListWidget;
  m_items->setMovement(QListView::Static);
  m_items->setSelectionMode(QAbstractItemView::SingleSelection);
  m_items->setContextMenuPolicy(Qt::CustomContextMenu);
  for (int i = 0; i < 5; ++i) {
    auto* item = new QListWidgetItem(QIcon(kItemIcons[i]), MainWindow::kItems[i], m_items);
    item->setTextAlignment(Qt::AlignCenter);
  }
  layout->addWidget(m_items);
  m_menu = new QMenu(this);
  QAction* small = m_menu->addAction(kSmallIcons);
  QAction* large = m_menu->addAction(kLargeIcons);
  connect(small, &QAction::triggered, this, [this] { setLargeIcons(false); });
  connect(large, &QAction::triggered, this, [this] { setLargeIcons(true); });
  connect(m_items, &QListWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { m_menu->popup(m_items->viewport()->mapToGlobal(at)); });
  connect(m_items, &QListWidget::currentRowChanged, this, &OutlookBar::selected);
  setLargeIcons(true);
  setMinimumWidth(110);
  setMaximumWidth(140);
}

void OutlookBar::setLargeIcons(bool large) {
  m_large = large;
  m_items->setViewMode(large ? QListView::IconMode : QListView::ListMode);
  m_items->setFlow(QListView::TopToBottom);
  m_items->setWrapping(false);
  m_items->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
  m_items->setGridSize(large ? QSize(100, 64) : QSize());
  m_items->setSpacing(large ? 4 : 1);
}

MainWindow::MainWindow(WindowActions& actions, bool trayAvailable, QWidget* parent)
    : QMainWindow(parent), m_actions(actions), m_tray(std::make_unique<TrayIcon>(trayAvailable)) {
  setWindowTitle(kTitle);
  setWindowIcon(QIcon(":/icons/vantrel.svg"));
  resize(600, 500);
  // Small enough for any screen, large enough that the bar and a list with
  // its columns and toolbar stay usable.
  setMinimumSize(kMinimumSize);

  QMenu* file = menuBar()->addMenu("&File");
  connect(file->addAction("&Connect"), &QAction::triggered, this, [this] { m_actions.connectAgain(); });
  connect(file->addAction("&Minimize"), &QAction::triggered, this, &MainWindow::minimizeToTray);
  QAction* exit = file->addAction("E&xit");
  exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  exit->setShortcutContext(Qt::ApplicationShortcut);
  connect(exit, &QAction::triggered, this, &MainWindow::exitClient);
  QMenu* settings = menuBar()->addMenu("&Settings");
  connect(settings->addAction("&View Settings"), &QAction::triggered, this, &MainWindow::openSettings);
  connect(settings->addAction("View &Log"), &QAction::triggered, this, [this] { m_actions.openLog(this); });
  connect(settings->addAction(QString(kCheckFirewall).replace("Firewall", "&Firewall")), &QAction::triggered, this,
          [this] { m_actions.checkFirewall(this); });
  QMenu* help = menuBar()->addMenu("&Help");
  QAction* started = help->addAction("Getting &Started");
  started->setShortcut(QKeySequence::HelpContents);
  connect(started, &QAction::triggered, this, [this] { m_actions.openHelp(); });
  connect(help->addAction("&About Vantrel File Manager"), &QAction::triggered, this,
          [this] { m_actions.openAbout(this); });

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  m_notice = new QPushButton(TrayIcon::kNotice);
  m_notice->setStyleSheet("QPushButton { background: #fff3c4; border: 1px solid #d9b300; padding: 6px; }");
  m_notice->hide();
  layout->addWidget(m_notice);
  auto* splitter = new QSplitter;
  m_bar = new OutlookBar;
  m_stack = new QStackedWidget;
  for (const char* item : kItems) m_stack->addWidget(new ItemView(item));
  splitter->addWidget(m_bar);
  splitter->addWidget(m_stack);
  splitter->setStretchFactor(1, 1);
  splitter->setChildrenCollapsible(false);
  // Without sizes of its own the splitter gives the bar's section more room than the
  // bar may take, and the surplus shows as an empty band beside it. The first
  // layout shares the width in these proportions, so the bar's share must reach
  // its full width at any window size, or it starts at its narrowest.
  splitter->setSizes({m_bar->maximumWidth(), 3 * m_bar->maximumWidth()});
  layout->addWidget(splitter);
  setCentralWidget(central);

  m_connection = new QLabel("Connection Status");
  m_transfers = new QLabel("Transfers");
  m_transfers->setMinimumWidth(230);  // wider when its text needs it
  m_user = new QLabel;
  statusBar()->addWidget(m_connection, 1);
  statusBar()->addPermanentWidget(m_user);
  statusBar()->addPermanentWidget(m_transfers);

  connect(m_bar, &OutlookBar::selected, this, &MainWindow::select);
  connect(m_notice, &QPushButton::clicked, this, [this] { m_actions.openMissingFiles(); });
  connect(m_tray.get(), &TrayIcon::showWindowRequested, this, &MainWindow::bringToFront);
  connect(m_tray.get(), &TrayIcon::exitRequested, this, &MainWindow::exitClient);
  connect(m_tray.get(), &TrayIcon::noticeClicked, this, [this] { m_actions.openMissingFiles(); });
  m_bar->items()->setCurrentRow(0);
}

MainWindow::~MainWindow() = default;

ItemView* MainWindow::view(int index) const { return qobject_cast<ItemView*>(m_stack->widget(index)); }

void MainWindow::setView(int index, ItemView* view) {
  QWidget* old = m_stack->widget(index);
  const bool current = m_stack->currentIndex() == index;
  m_stack->insertWidget(index, view);
  m_stack->removeWidget(old);
  delete old;
  if (current) m_stack->setCurrentIndex(index);
}

QAction* MainWindow::action(const QString& text) const {
  const QString plain = QString(text).remove('&');
  for (QAction* menu : menuBar()->actions()) {
    for (QAction* item : menu->menu()->actions()) {
      if (QString(item->text()).remove('&') == plain) return item;
    }
  }
  return nullptr;
}

void MainWindow::select(int index) {
  if (index < 0 || index >= m_stack->count()) return;
  m_stack->setCurrentIndex(index);
  view(index)->refresh();
}

void MainWindow::openSettings() { m_actions.openSettings(this); }

void MainWindow::setStatusText(const QString& connection, const QString& transfers) {
  m_connection->setText(connection);
  m_transfers->setText(transfers);
}

void MainWindow::setUserText(const QString& text) { m_user->setText(text); }

void MainWindow::setTrayState(int icon, const QString& tooltip, int flashIcon) {
  m_tray->setState(icon, tooltip, flashIcon);
  // Without a tray the window carries the notice.
  m_notice->setVisible(!m_tray->available() && m_tray->noticeShown());
}

void MainWindow::bringToFront() {
  if (m_exiting) return;
  if (isMinimized()) {
    showNormal();
  } else {
    show();
  }
  raise();
  activateWindow();
}

void MainWindow::minimizeToTray() {
  if (m_tray->available()) {
    hide();
  } else {
    // Without a tray a hidden window could not be brought back.
    showMinimized();
  }
}

void MainWindow::exitClient() {
  if (m_exiting) return;
  hide();
  if (!m_actions.confirmExit()) {
    bringToFront();
    return;
  }
  endClient();
}

void MainWindow::endClient() {
  if (m_exiting) return;
  m_exiting = true;
  hide();
  m_tray->hide();
  if (m_onClosing) m_onClosing();
  // Every event loop ends, nested ones too; the client shuts down once they have.
  QCoreApplication::exit(0);
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized() || !m_tray->available() || m_exiting) return;
  // Minimised through the window manager: to the tray, as Close and
  // "Minimize" do, not to a taskbar entry. After the state change has settled.
  QTimer::singleShot(0, this, [this] {
    if (!isMinimized()) return;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
  });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (m_exiting) {
    event->accept();
    return;
  }
  event->ignore();
  minimizeToTray();
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (m_tray->available() || m_trayProblemShown) return;
  m_trayProblemShown = true;
  // Said once for these settings, not at every start: nothing changes it.
  if (!m_actions.firstTrayProblem()) return;
  // Once the window is up on the screen, over it.
  QTimer::singleShot(200, this, [this] {
    auto* box = new QMessageBox(QMessageBox::Critical, "Error", kTrayProblem, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);  // a note; the window stays usable
    box->show();
  });
}

}  // namespace vantrel::ui
