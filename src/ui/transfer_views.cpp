// SPDX-License-Identifier: MIT
#include "ui/transfer_views.h"

#include "ui/downloads_view.h"
#include "ui/rate_graph.h"
#include "ui/uploads_view.h"

namespace vantrel::ui {

TransferViews::TransferViews(ClientApp& app, WindowLayout& layout)
    : m_app(app),
      m_layout(layout),
      m_uploads(app.state(), app.settings(), [&app](int32_t id) { return app.core().lookupSharedFile(id); }),
      m_downloads(app.downloads()) {
  QObject::connect(&m_sampler, &QTimer::timeout, [this] { sample(); });
}

void TransferViews::attach(MainWindow& window) {
  m_outgoing = new UploadsView(m_uploads);
  m_outgoing->list()->rememberLayout(m_layout, "outgoing");
  m_incoming = new DownloadsView(m_downloads);
  m_incoming->list()->rememberLayout(m_layout, "incoming");
  m_incoming->setNotifier([&window](const DownloadNotice& notice) { announceDownload(window, notice); });
  auto* up = new RateGraph(m_rates);
  auto* down = new RateGraph(m_rates);
  m_outgoing->addAboveList(up);
  m_incoming->addAboveList(down);
  m_graphs[0] = up;
  m_graphs[1] = down;
  window.setView(kOutgoingItem, m_outgoing);
  window.setView(kIncomingItem, m_incoming);
  m_sampler.start(1000);
}

void TransferViews::sample() {
  m_rates.add(m_app.state().CurrentRate(), m_downloads.totalRate());
  for (QWidget* graph : m_graphs) {
    if (graph != nullptr && graph->isVisible()) graph->update();
  }
}

}  // namespace vantrel::ui
