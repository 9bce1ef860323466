// SPDX-License-Identifier: MIT
#pragma once
// TransferViews: the "Incoming" and "Outgoing" views of the running client,
// what they read (the client's uploads and downloads), the rate graph above
// each list and the history it draws, sampled every second. Build it before
// the main window and attach it once the window exists: the views belong to
// the window but read from this object, which must outlive it. UI thread only;
// the application and layout must outlive it.

#include <QTimer>

#include "app/client_app.h"
#include "app/models/downloads_model.h"
#include "app/models/rate_history_model.h"
#include "app/models/uploads_model.h"
#include "ui/main_window.h"
#include "ui/window_layout.h"

namespace vantrel::ui {

class DownloadsView;
class UploadsView;

class TransferViews {
 public:
  TransferViews(ClientApp& app, WindowLayout& layout);
  // Puts both views into `window`, with their remembered layouts, the rate
  // graphs and the notices of finished downloads.
  void attach(MainWindow& window);
  // The window is about to go: no more samples for its graphs.
  void detach() { m_sampler.stop(); }

  UploadsView* outgoing() const { return m_outgoing; }
  DownloadsView* incoming() const { return m_incoming; }
  const RateHistoryModel& rates() const { return m_rates; }

 private:
  void sample();

  ClientApp& m_app;
  WindowLayout& m_layout;
  ClientUploads m_uploads;
  ClientDownloads m_downloads;
  RateHistoryModel m_rates;
  UploadsView* m_outgoing = nullptr;   // owned by the window
  DownloadsView* m_incoming = nullptr;  // owned by the window
  QWidget* m_graphs[2] = {nullptr, nullptr};
  QTimer m_sampler;
};

}  // namespace vantrel::ui
