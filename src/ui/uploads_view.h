// SPDX-License-Identifier: MIT
#pragma once
// The "Outgoing" view: the running upload limits and the measured rate above
// the list of upload sessions. "Show Options" opens a panel whose fields change
// the limits at once; the list is refreshed every second in place; the context
// menu "Uploads" has "Stop Transfer" for the selected sessions. UI thread only;
// the source must outlive the view.

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/models/uploads_model.h"
#include "ui/main_window.h"
#include "ui/transfer_list.h"

namespace vantrel::ui {

class UploadsView : public ItemView {
  Q_OBJECT
 public:
  static constexpr const char* kShowOptions = "Show Options";
  static constexpr const char* kHideOptions = "Hide Options";
  static constexpr const char* kMenuTitle = "Uploads";
  static constexpr const char* kStopTransfer = "Stop Transfer";

  explicit UploadsView(UploadsSource& source, QWidget* parent = nullptr);

  // Reads the sessions, limits and rate again (every second by itself).
  void refresh() override;
  // Stops every selected session.
  void stopSelected();
  // Puts a widget (the rate graph) between the limits and the list.
  void addAboveList(QWidget* widget);

  TransferList* list() const { return m_list; }
  QPushButton* optionsButton() const { return m_optionsButton; }
  QWidget* optionsPanel() const { return m_options; }
  QSpinBox* maxUsersField() const { return m_maxUsers; }
  QSpinBox* userBandField() const { return m_userBand; }
  QSpinBox* bandField() const { return m_band; }
  QLabel* limitsLabel() const { return m_limits; }
  QLabel* rateLabel() const { return m_rate; }
  QMenu* contextMenu() const { return m_menu; }

 private:
  void toggleOptions();
  void showLimits(const UploadLimits& limits);
  void applyOptions();

  UploadsSource& m_source;
  QVBoxLayout* m_body;
  QLabel* m_limits;
  QLabel* m_rate;
  QPushButton* m_optionsButton;
  QWidget* m_options;
  QSpinBox* m_maxUsers;
  QSpinBox* m_userBand;
  QSpinBox* m_band;
  TransferList* m_list;
  QMenu* m_menu;
  QTimer m_timer;
  bool m_filling = false;  // the fields are being set from the source, not by the person
};

}  // namespace vantrel::ui
