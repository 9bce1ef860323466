// SPDX-License-Identifier: MIT
#include "ui/search_view.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QIntValidator>
#include <QShortcut>

#include "core/error_table.h"

namespace vantrel::ui {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

std::time_t dayStart(const QDate& date) {
  std::tm day{};
  day.tm_year = date.year() - 1900;
  day.tm_mon = date.month() - 1;
  day.tm_mday = date.day();
  day.tm_isdst = -1;
  return std::mktime(&day);
}

// A size field in KB as bytes; empty or unreadable is 0, as an empty field counts.
int64_t bytesOf(const QLineEdit* field) { return field->text().trimmed().toLongLong() * 1024; }

}  // namespace

SearchView::SearchView(CatalogueService& service, CatalogueRunner& runner, CommandPrompts& dialogs, QWidget* parent)
    : ItemView(kName, parent), m_service(service), m_runner(runner), m_dialogs(dialogs), m_commands(service, runner, *this) {
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  delete layout->takeAt(layout->count() - 1);

  auto* form = new QGridLayout;
  m_text = new QComboBox;
  m_text->setEditable(true);
  m_text->setInsertPolicy(QComboBox::NoInsert);
  m_text->setMinimumWidth(200);
  m_group = new QComboBox;
  m_group->addItem(kAllGroups, 0);
  m_kind = new QComboBox;
  for (const char* kind : SearchCriteria::kFileKinds) m_kind->addItem(kind);
  m_type = new QLineEdit;
  m_type->setPlaceholderText("file type, e.g. iso");
  m_type->setEnabled(false);
  auto* sizeCheck = new QIntValidator(0, 2000000000, this);
  m_minSize = new QLineEdit;
  m_minSize->setValidator(sizeCheck);
  m_maxSize = new QLineEdit;
  m_maxSize->setValidator(sizeCheck);
  m_minDateSet = new QCheckBox("From");
  m_minDate = new QDateEdit(QDate::currentDate().addMonths(-1));
  m_minDate->setCalendarPopup(true);
  m_maxDateSet = new QCheckBox("To");
  m_maxDate = new QDateEdit(QDate::currentDate());
  m_maxDate->setCalendarPopup(true);
  m_onlineOnly = new QCheckBox("Online only");
  m_searchButton = new QPushButton("Search");
  m_searchButton->setDefault(true);
  m_moreButton = new QPushButton(kMoreResults);
  m_moreButton->setEnabled(false);

  form->addWidget(new QLabel("Search for:"), 0, 0);
  form->addWidget(m_text, 0, 1, 1, 3);
  form->addWidget(m_searchButton, 0, 4);
  form->addWidget(new QLabel("In:"), 1, 0);
  form->addWidget(m_group, 1, 1, 1, 3);
  form->addWidget(new QLabel("Kind:"), 2, 0);
  form->addWidget(m_kind, 2, 1);
  form->addWidget(m_type, 2, 2, 1, 2);
  form->addWidget(m_onlineOnly, 2, 4);
  form->addWidget(new QLabel("Size (KB):"), 3, 0);
  form->addWidget(m_minSize, 3, 1);
  form->addWidget(new QLabel("to"), 3, 2);
  form->addWidget(m_maxSize, 3, 3);
  form->addWidget(new QLabel("Date:"), 4, 0);
  auto* dates = new QHBoxLayout;
  dates->addWidget(m_minDateSet);
  dates->addWidget(m_minDate);
  dates->addWidget(m_maxDateSet);
  dates->addWidget(m_maxDate);
  form->addLayout(dates, 4, 1, 1, 3);
  layout->addLayout(form);

  m_list = new CatalogueList;
  layout->addWidget(m_list, 1);
  auto* bottom = new QHBoxLayout;
  m_status = new QLabel;
  bottom->addWidget(m_status, 1);
  bottom->addWidget(m_moreButton);
  layout->addLayout(bottom);

  m_menu = new QMenu("Right Menu", this);
  connect(m_menu->addAction("Go Back"), &QAction::triggered, this, &SearchView::goBack);
  connect(m_menu->addAction("Download"), &QAction::triggered, this, [this] { m_commands.download(selection()); });
  connect(m_menu->addAction("Remove"), &QAction::triggered, this, [this] { m_commands.remove(selection()); });
  connect(m_list, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { m_menu->popup(m_list->viewport()->mapToGlobal(at)); });
  connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* row) {
    if (const auto entry = m_list->entryOf(row)) m_commands.download({{}, {entry}});
  });
  auto* remove = new QShortcut(QKeySequence(QKeySequence::Delete), m_list);
  remove->setContext(Qt::WidgetShortcut);
  connect(remove, &QShortcut::activated, this, [this] { m_commands.remove(selection()); });

  connect(m_kind, &QComboBox::currentIndexChanged, this,
          [this](int index) { m_type->setEnabled(index == SearchCriteria::kOtherKind); });
  connect(m_searchButton, &QPushButton::clicked, this, &SearchView::search);
  connect(m_text->lineEdit(), &QLineEdit::returnPressed, this, &SearchView::search);
  connect(m_moreButton, &QPushButton::clicked, this, &SearchView::fetchMore);
}

void SearchView::setRecentSearches(const QStringList& searches, std::function<void(const QStringList&)> store) {
  m_text->clear();
  m_text->addItems(searches.mid(0, kRemembered));
  m_text->setCurrentIndex(-1);
  m_text->setEditText({});
  m_storeSearches = std::move(store);
}

QStringList SearchView::recentSearches() const {
  QStringList out;
  for (int i = 0; i < m_text->count(); ++i) out << m_text->itemText(i);
  return out;
}

void SearchView::remember(const QString& text) {
  QStringList searches = recentSearches();
  searches.removeAll(text);
  searches.prepend(text);
  while (searches.size() > kRemembered) searches.removeLast();
  m_text->blockSignals(true);
  m_text->clear();
  m_text->addItems(searches);
  m_text->setCurrentIndex(0);
  m_text->blockSignals(false);
  if (m_storeSearches) m_storeSearches(searches);
}

SearchCriteria SearchView::criteria() const {
  SearchCriteria c;
  c.text = m_text->currentText().toStdString();
  c.fileKind = m_kind->currentIndex();
  if (c.fileKind == SearchCriteria::kOtherKind) c.fileType = m_type->text().trimmed().toStdString();
  c.minSize = bytesOf(m_minSize);
  c.maxSize = bytesOf(m_maxSize);
  if (m_minDateSet->isChecked()) c.minDate = dayStart(m_minDate->date());
  if (m_maxDateSet->isChecked()) c.maxDate = dayStart(m_maxDate->date().addDays(1)) - 1;  // the whole last day
  c.onlineOnly = m_onlineOnly->isChecked();
  c.groupId = m_group->currentData().toInt();
  c.start = 0;
  c.fetch = kPageSize;
  return c;
}

void SearchView::search() {
  const SearchCriteria c = criteria();
  // An empty maximum counts as 0 here, so a minimum alone is refused.
  if (const std::string problem = searchCriteriaProblem(c); !problem.empty()) {
    m_dialogs.showMessage({problem, "Error", MessageIcon::Error, MessageButtons::Ok});
    return;
  }
  remember(qs(c.text));
  // The search shown so far is where "Go Back" returns to.
  if (!m_results.empty() || !m_last.text.empty()) {
    m_back.push_back({m_last, m_results});
    if (m_back.size() > static_cast<std::size_t>(kBackSteps)) m_back.erase(m_back.begin());
  }
  m_results.clear();
  m_list->clearEntries();
  ask(c, false);
}

void SearchView::goBack() {
  if (m_back.empty()) {
    m_list->clearSelection();
    return;
  }
  m_guard.leave();  // an answer to the search left behind is not shown
  m_searching = false;
  Shown previous = std::move(m_back.back());
  m_back.pop_back();
  m_last = previous.criteria;
  m_results = std::move(previous.results);
  m_text->setEditText(qs(m_last.text));
  if (const int at = m_group->findData(m_last.groupId); at >= 0) m_group->setCurrentIndex(at);
  m_list->showEntries(m_results);
  m_moreButton->setEnabled(!m_results.empty() && static_cast<int>(m_results.size()) % kPageSize == 0);
  m_status->setText(QString(m_results.size() == 1 ? "%1 result" : "%1 results").arg(m_results.size()));
}

void SearchView::refresh() {
  ItemView::refresh();
  const int chosen = m_group->currentData().toInt();
  m_group->clear();
  m_group->addItem(kAllGroups, 0);
  if (const auto open = m_openGroup ? m_openGroup() : nullptr) {
    m_group->addItem(kOpenGroup + qs(open->name), open->id);
  }
  for (const CGroupEntry& g : m_service.myGroups()) {
    if (g.secondNumber == kPendingApplication || m_group->findData(g.id) >= 0) continue;
    m_group->addItem(qs(g.name), g.id);
  }
  m_group->setCurrentIndex(std::max(0, m_group->findData(chosen)));
}

void SearchView::fetchMore() {
  if (m_searching || m_results.empty()) return;
  SearchCriteria next = m_last;
  next.start = static_cast<int>(m_results.size());
  ask(next, true);
}

void SearchView::ask(const SearchCriteria& c, bool more) {
  m_last = c;
  m_searching = true;
  m_moreButton->setEnabled(false);
  m_status->setText(kSearching);
  const ViewGuard::Stamp stamp = m_guard.stamp();
  m_runner.run([&service = m_service, c, stamp, more, this]() -> CatalogueRunner::Delivery {
    auto results = std::make_shared<EntryList>();
    const int code = service.search(c, *results);
    return [this, stamp, code, results, more, fetch = c.fetch] {
      if (!ViewGuard::fresh(stamp)) return;
      m_searching = false;
      if (code != 0) {
        const std::string text = "Error " + std::to_string(code) + " doing search\n" + errorTitle(code);
        m_status->setText(qs(text));
        m_dialogs.showMessage({text, "Error", MessageIcon::Warning, MessageButtons::Ok});
        return;
      }
      if (!more) m_results.clear();
      m_results.insert(m_results.end(), results->begin(), results->end());
      m_list->showEntries(m_results);
      m_moreButton->setEnabled(static_cast<int>(results->size()) >= fetch);
      m_status->setText(QString(m_results.size() == 1 ? "%1 result" : "%1 results").arg(m_results.size()));
    };
  });
}

void SearchView::leave() {
  m_guard.leave();
  if (m_searching) m_status->setText({});
  m_searching = false;
  m_moreButton->setEnabled(!m_results.empty() && static_cast<int>(m_results.size()) % kPageSize == 0);
}

void SearchView::hideEvent(QHideEvent* event) {
  ItemView::hideEvent(event);
  if (window() != this && window()->isVisible()) leave();
}

void SearchView::setStatus(const std::string& text) {
  m_status->setText(qs(text));
  m_dialogs.setStatus(text);
}

void SearchView::catalogueChanged(bool groups) { m_dialogs.catalogueChanged(groups); }

}  // namespace vantrel::ui
