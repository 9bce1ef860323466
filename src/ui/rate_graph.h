// SPDX-License-Identifier: MIT
#pragma once
// The rate graph above the transfer lists: upload and download of the last
// ten minutes as two lines, scaled to the highest rate shown, with a legend.
// It draws the history it is given and repaints when told. UI thread only;
// the history must outlive the widget.

#include <QWidget>

#include "app/models/rate_history_model.h"

namespace vantrel::ui {

class RateGraph : public QWidget {
  Q_OBJECT
 public:
  explicit RateGraph(const RateHistoryModel& history, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {400, 90}; }
  // The legend line: "Upload 12.3 k/s   Download 4.0 k/s   (last 10 minutes)".
  QString legend() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const RateHistoryModel& m_history;
};

}  // namespace vantrel::ui
