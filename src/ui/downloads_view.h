// SPDX-License-Identifier: MIT
#pragma once
// The "Incoming" view: the list of downloads fed by the download manager's
// events, the button that starts or stops the selected downloads, and the
// context menu "Downloads" with the same toggle and "Remove" (the record goes,
// the file stays). A download that completes or fails is announced through
// the notifier. UI thread only; the source must outlive the view.

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>
#include <map>

#include "app/downloads_model.h"
#include "ui/main_window.h"
#include "ui/transfer_list.h"

namespace vantrel::ui {

class DownloadsView : public ItemView {
  Q_OBJECT
 public:
  static constexpr const char* kMenuTitle = "Downloads";
  static constexpr const char* kRemove = "Remove";
  using Notifier = std::function<void(const DownloadNotice&)>;

  explicit DownloadsView(DownloadsSource& source, QWidget* parent = nullptr);
  ~DownloadsView() override;

  void setNotifier(Notifier notifier) { m_notify = std::move(notifier); }
  // Reads every download again.
  void refresh() override;
  // The toggle: stops the selected downloads when the first of them runs,
  // otherwise starts them.
  void toggleSelected();
  void removeSelected();
  // Puts a widget (the rate graph) between the button and the list.
  void addAboveList(QWidget* widget);

  TransferList* list() const { return m_list; }
  QPushButton* toggleButton() const { return m_toggle; }
  QLabel* summaryLabel() const { return m_summary; }
  // The context menu as it is about to show for the current selection.
  QMenu* contextMenu();

 private:
  void update(int32_t id);
  void showRow(const DownloadInfo& info);
  void updateControls();
  std::optional<DownloadState> firstSelectedState() const;

  DownloadsSource& m_source;
  QVBoxLayout* m_body;
  QPushButton* m_toggle;
  QLabel* m_summary;
  TransferList* m_list;
  QMenu* m_menu;
  QAction* m_menuToggle;
  Notifier m_notify;
  std::map<int32_t, DownloadState> m_states;
  int m_listener = 0;
};

// Tells the person about a download that completed or failed: a tray message,
// or the window's status line where there is no tray.
void announceDownload(MainWindow& window, const DownloadNotice& notice);

}  // namespace vantrel::ui
