// SPDX-License-Identifier: MIT
#include "ui/rate_graph.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "app/models/uploads_model.h"

namespace vantrel::ui {
namespace {

const QColor kUpColor(0x2a, 0x7a, 0xd5);
const QColor kDownColor(0x2e, 0x9e, 0x4f);

QString rateOf(int64_t bytesPerSecond) {
  return QString::fromStdString(rateText(static_cast<uint32_t>(std::clamp<int64_t>(bytesPerSecond, 0, UINT32_MAX))));
}

}  // namespace

RateGraph::RateGraph(const RateHistoryModel& history, QWidget* parent) : QWidget(parent), m_history(history) {
  setMinimumHeight(70);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QString RateGraph::legend() const {
  const auto& samples = m_history.samples();
  const RateHistoryModel::Sample last = samples.empty() ? RateHistoryModel::Sample{} : samples.back();
  return QString("Upload %1   Download %2   (last 10 minutes)").arg(rateOf(last.up), rateOf(last.down));
}

void RateGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(frame, palette().base());
  painter.setPen(palette().mid().color());
  painter.drawRect(frame);

  const int legendHeight = fontMetrics().height() + 4;
  const QRectF plot = QRectF(frame).adjusted(4, legendHeight, -4, -4);
  const auto& samples = m_history.samples();
  // Never flatter than 1 k/s at the top, so idle noise stays at the bottom.
  const double top = static_cast<double>(std::max<int64_t>(m_history.peak(), 1000));
  const double step = plot.width() / static_cast<double>(RateHistoryModel::kSamples - 1);
  auto line = [&](bool up, const QColor& color) {
    if (samples.size() < 2) return;
    QPainterPath path;
    // The newest sample at the right edge, older ones to its left.
    const double startX = plot.right() - step * static_cast<double>(samples.size() - 1);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double value = static_cast<double>(up ? samples[i].up : samples[i].down);
      const QPointF at(startX + step * static_cast<double>(i), plot.bottom() - plot.height() * value / top);
      if (i == 0) {
        path.moveTo(at);
      } else {
        path.lineTo(at);
      }
    }
    painter.setPen(QPen(color, 1.5));
    painter.drawPath(path);
  };
  line(true, kUpColor);
  line(false, kDownColor);

  // The legend in the lines' colours.
  const RateHistoryModel::Sample newest = samples.empty() ? RateHistoryModel::Sample{} : samples.back();
  const QString parts[3] = {"Upload " + rateOf(newest.up), "Download " + rateOf(newest.down), "(last 10 minutes)"};
  const QColor colors[3] = {kUpColor, kDownColor, palette().text().color()};
  int x = frame.left() + 6;
  const int baseline = frame.top() + 2 + fontMetrics().ascent();
  for (int i = 0; i < 3; ++i) {
    painter.setPen(colors[i]);
    painter.drawText(QPoint(x, baseline), parts[i]);
    x += fontMetrics().horizontalAdvance(parts[i]) + 14;
  }
  painter.setPen(palette().text().color());
  painter.drawText(frame.adjusted(6, 2, -6, 0), Qt::AlignRight | Qt::AlignTop, "top " + rateOf(static_cast<int64_t>(top)));
}

}  // namespace vantrel::ui
