// SPDX-License-Identifier: MIT
#include "ui/uploads_view.h"

#include <QFormLayout>
#include <QHBoxLayout>

namespace vantrel::ui {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

QSpinBox* field(int minimum, int maximum, const QString& suffix) {
  auto* spin = new QSpinBox;
  spin->setRange(minimum, maximum);
  spin->setSuffix(suffix);
  spin->setKeyboardTracking(false);  // a typed number applies once it is whole
  return spin;
}

}  // namespace

UploadsView::UploadsView(UploadsSource& source, QWidget* parent) : ItemView("Outgoing", parent), m_source(source) {
  // The item view's placeholder stretch gives way to the content.
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  delete layout->takeAt(layout->count() - 1);
  m_body = layout;

  auto* top = new QHBoxLayout;
  m_limits = new QLabel;
  m_rate = new QLabel;
  m_optionsButton = new QPushButton(kShowOptions);
  top->addWidget(m_limits, 1);
  top->addWidget(m_rate);
  top->addWidget(m_optionsButton);
  layout->addLayout(top);

  m_options = new QWidget;
  auto* form = new QFormLayout(m_options);
  m_maxUsers = field(1, 9999, "");
  m_userBand = field(1, 999999, " k/s");
  m_band = field(1, 999999, " k/s");
  // The words of the limits line above, not the names the settings keep them under.
  form->addRow("Users at once:", m_maxUsers);
  form->addRow("Per user:", m_userBand);
  form->addRow("In all:", m_band);
  m_options->hide();
  layout->addWidget(m_options);

  m_list = new TransferList({UploadRow::kColumns[0], UploadRow::kColumns[1], UploadRow::kColumns[2],
                             UploadRow::kColumns[3], UploadRow::kColumns[4], UploadRow::kColumns[5]},
                            {180, 140, 70, 70, 80, 80});
  layout->addWidget(m_list, 1);

  m_menu = new QMenu(kMenuTitle, this);
  connect(m_menu->addAction(kStopTransfer), &QAction::triggered, this, &UploadsView::stopSelected);
  connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (!m_list->selectedKeys().empty()) m_menu->popup(m_list->viewport()->mapToGlobal(at));
  });
  connect(m_optionsButton, &QPushButton::clicked, this, &UploadsView::toggleOptions);
  for (QSpinBox* spin : {m_maxUsers, m_userBand, m_band}) {
    connect(spin, &QSpinBox::valueChanged, this, &UploadsView::applyOptions);
  }
  connect(&m_timer, &QTimer::timeout, this, &UploadsView::refresh);
  m_timer.start(1000);
  refresh();
}

void UploadsView::addAboveList(QWidget* widget) { m_body->insertWidget(m_body->indexOf(m_list), widget); }

void UploadsView::refresh() {
  ItemView::refresh();
  const UploadLimits limits = m_source.limits();
  showLimits(limits);
  m_rate->setText("Rate: " + qs(rateText(m_source.currentRate())));
  std::vector<std::pair<int32_t, TransferList::Row>> rows;
  for (const UploadRow& row : uploadRows(m_source)) {
    rows.emplace_back(row.sessionId, TransferList::Row{{qs(row.name), {}},
                                                       {qs(row.user), {}},
                                                       {qs(row.progress), row.percent},
                                                       {qs(row.speed), row.bytesPerSecond},
                                                       {qs(row.status), {}},
                                                       {qs(row.timeLeft), static_cast<qlonglong>(row.secondsLeft)}});
  }
  m_list->setRows(rows);
}

void UploadsView::showLimits(const UploadLimits& limits) {
  m_limits->setText(QString("Users at once: %1    Per user: %2 k/s    In all: %3 k/s")
                        .arg(limits.maxUsers)
                        .arg(limits.maxUserBand / 1000)
                        .arg(limits.maxBand / 1000));
  // The fields follow limits changed elsewhere, but not while the person types.
  m_filling = true;
  if (!m_maxUsers->hasFocus()) m_maxUsers->setValue(limits.maxUsers);
  if (!m_userBand->hasFocus()) m_userBand->setValue(std::max(1, limits.maxUserBand / 1000));
  if (!m_band->hasFocus()) m_band->setValue(std::max(1, limits.maxBand / 1000));
  m_filling = false;
}

void UploadsView::toggleOptions() {
  const bool show = m_options->isHidden();
  m_options->setVisible(show);
  m_optionsButton->setText(show ? kHideOptions : kShowOptions);
}

void UploadsView::applyOptions() {
  if (m_filling) return;
  // A field the person left alone keeps its exact value (a limit below 1 k/s shows as 1).
  const UploadLimits now = m_source.limits();
  auto bytes = [](const QSpinBox* spin, int current) {
    return spin->value() == std::max(1, current / 1000) ? current : spin->value() * 1000;
  };
  m_source.setLimits(UploadLimits{m_maxUsers->value(), bytes(m_userBand, now.maxUserBand), bytes(m_band, now.maxBand)});
  refresh();
}

void UploadsView::stopSelected() {
  for (int32_t id : m_list->selectedKeys()) m_source.stopSession(id);
  refresh();
}

}  // namespace vantrel::ui
