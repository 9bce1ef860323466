// SPDX-License-Identifier: MIT
#pragma once
// "Files Missing": shared files the server has no record of, each with a
// check box, to share again ("Reshare", reading "Stop" while it runs) or to
// stop sharing ("Remove All"). The progress bar advances every 500 ms while
// the model runs. UI thread only.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "core/user_interface.h"
#include "ui/port_dialog.h"

namespace vantrel::ui {

class SyncWindow : public PortDialog {
  Q_OBJECT
 public:
  static constexpr const char* kReshare = "Reshare";
  static constexpr const char* kStop = "Stop";

  SyncWindow(SyncDialogModel& model, QWidget* parent = nullptr, UiDispatcher* dispatcher = nullptr);
  void reject() override;

  QTreeWidget* list() const { return m_list; }
  QPushButton* reshareButton() const { return m_reshare; }
  QPushButton* selectAllButton() const { return m_selectAll; }
  QPushButton* removeAllButton() const { return m_removeAll; }
  QProgressBar* progressBar() const { return m_progress; }
  QLabel* statusLine() const { return m_status; }

 private:
  void pressReshare();
  void stopRunning();
  void tick();
  void setRunning(bool running);

  SyncDialogModel& m_model;
  QTreeWidget* m_list;
  QPushButton* m_reshare;
  QPushButton* m_selectAll;
  QPushButton* m_removeAll;
  QProgressBar* m_progress;
  QLabel* m_status;
  QTimer m_timer;  // 500 ms while running; 100 ms otherwise for the close request
  bool m_running = false;
};

}  // namespace vantrel::ui
