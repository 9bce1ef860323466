// SPDX-License-Identifier: MIT
#pragma once
// PortDialog: a window drawn for one call of UserInterface over a model that
// belongs to the caller. Once detached (the client is closing and the caller
// has had its safe answer) it calls its model no more and closes.
//
// QString/std::string helpers for the windows live here too. UI thread only.

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

namespace vantrel::ui {

class UiDispatcher;

inline QString qs(const std::string& text) { return QString::fromStdString(text); }
inline std::string ss(const QString& text) { return text.toStdString(); }

class PortDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PortDialog(QWidget* parent = nullptr, UiDispatcher* dispatcher = nullptr)
      : QDialog(parent), m_dispatcher(dispatcher) {}

  void detach() {
    m_detached = true;
    reject();
  }
  bool detached() const { return m_detached; }

 protected:
  // Blocking model calls (they may join a worker that waits for this thread)
  // run off the UI thread while events are handled; without a dispatcher
  // (tests of one window) they run here.
  void runBlocking(const std::function<void()>& work);

 private:
  UiDispatcher* m_dispatcher;
  bool m_detached = false;
};

}  // namespace vantrel::ui
