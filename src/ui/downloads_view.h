// SPDX-License-Identifier: MIT
#pragma once
// The "Incoming" view: the list of downloads fed by the download manager's
// events (with the folder each goes to, how far it is and how long it has
// left; a failure's codes in the status's tooltip), the button that starts or
// stops the selected downloads, and the context menu "Downloads" with the same
// toggle, "Open", "Open containing folder", "Copy link", "Remove (keep file)"
// and "Remove and delete partial file" (asked first). A double-click opens a
// finished file. A download that completes or fails is announced through the
// notifier. UI thread only; the source must outlive the view.

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>
#include <map>
#include <set>

#include "app/models/downloads_model.h"
#include "ui/main_window.h"
#include "ui/transfer_list.h"

namespace vantrel::ui {

class DownloadsView : public ItemView {
  Q_OBJECT
 public:
  static constexpr const char* kMenuTitle = "Downloads";
  static constexpr const char* kOpen = "Open";
  static constexpr const char* kOpenFolder = "Open containing folder";
  static constexpr const char* kCopyLink = "Copy link";
  static constexpr const char* kRemove = "Remove (keep file)";
  static constexpr const char* kRemoveAndDelete = "Remove and delete partial file";
  static constexpr const char* kDeleteQuestion =
      "Remove the selected downloads from the list and delete what they have downloaded so far? "
      "Files that are complete are kept.";
  using Notifier = std::function<void(const DownloadNotice&)>;
  // Opens a local file or folder; a test sets its own.
  using Opener = std::function<void(const std::string& path)>;
  // Asks before partial files are deleted; a test sets its own.
  using Confirm = std::function<bool(const QString& text)>;

  explicit DownloadsView(DownloadsSource& source, QWidget* parent = nullptr);
  ~DownloadsView() override;

  void setNotifier(Notifier notifier) { m_notify = std::move(notifier); }
  void setOpener(Opener opener) { m_open = std::move(opener); }
  void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
  // Reads every download again.
  void refresh() override;
  // The toggle: stops the selected downloads when the first of them runs,
  // otherwise starts them.
  void toggleSelected();
  void removeSelected();
  // Asks, then removes the selected rows and deletes their partial files.
  void removeSelectedAndDelete();
  // The first selected download's file (finished ones only) or folder.
  void openSelected();
  void openSelectedFolder();
  void copySelectedLink();
  // The action of the context menu with this text, or null.
  QAction* menuAction(const QString& text) const;
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
  std::optional<DownloadInfo> firstSelected() const;

  DownloadsSource& m_source;
  QVBoxLayout* m_body;
  QPushButton* m_toggle;
  QLabel* m_summary;
  TransferList* m_list;
  QMenu* m_menu;
  QAction* m_menuToggle;
  QAction* m_menuOpen;
  Notifier m_notify;
  Opener m_open;
  Confirm m_confirm;
  std::map<int32_t, DownloadState> m_states;
  std::set<int32_t> m_announcedRetry;  // failures announced while they are tried again
  int m_listener = 0;
};

// Tells the person about a download that completed or failed: a tray message,
// or the window's status line where there is no tray.
void announceDownload(MainWindow& window, const DownloadNotice& notice);

}  // namespace vantrel::ui
