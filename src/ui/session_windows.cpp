// SPDX-License-Identifier: MIT
#include "ui/session_windows.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QMetaObject>
#include <QVBoxLayout>

#include <mutex>

#include "protocol/session_ui.h"
#include "ui/dialogs.h"

namespace vantrel::ui {

LostConnectionWindow::LostConnectionWindow(LostConnectionPrompt& prompt, std::function<bool()> closeRequested,
                                           QWidget* parent, UiDispatcher* dispatcher, int periodMs)
    : PortDialog(parent, dispatcher), m_prompt(prompt), m_closeRequested(std::move(closeRequested)) {
  setWindowTitle(SessionUi::kLostTitle);
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(SessionUi::kLostText);
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* buttons = new QHBoxLayout;
  m_ok = new QPushButton("OK");
  m_reconnect = new QPushButton(kTryAgain);
  buttons->addStretch();
  buttons->addWidget(m_ok);
  buttons->addWidget(m_reconnect);
  layout->addLayout(buttons);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_reconnect, &QPushButton::clicked, this, &LostConnectionWindow::reconnect);
  connect(&m_period, &QTimer::timeout, this, [this] {
    if (detached() || m_busy) return;
    m_busy = true;
    bool close = false;
    runBlocking([this, &close] { close = m_prompt.onTimer(); });
    m_busy = false;
    if (close && !detached()) accept();
  });
  connect(&m_poll, &QTimer::timeout, this, &LostConnectionWindow::check);
  m_period.start(periodMs);
  m_poll.start(100);
  resize(420, 130);
}

void LostConnectionWindow::check() {
  if (!detached() && m_closeRequested && m_closeRequested()) accept();
}

void LostConnectionWindow::reconnect() {
  if (detached() || m_busy) return;
  m_busy = true;
  m_reconnect->setEnabled(false);
  MessageBox result;
  runBlocking([this, &result] { result = m_prompt.tryReconnect(); });
  m_busy = false;
  if (detached()) return;
  m_reconnect->setEnabled(true);
  std::unique_ptr<QMessageBox> box(makeMessageBox(result, this));
  box->exec();
  if (detached()) return;
  // Reconnected: the window goes, instead of asking again while the status
  // bar says "Connected".
  bool close = false;
  m_busy = true;
  runBlocking([this, &close] { close = m_prompt.onTimer(); });
  m_busy = false;
  if (close && !detached()) accept();
}

// Draws into the window while it lives; the download may report from its
// worker, so every call goes through the window's event queue. The window
// lets go of the view as it is destroyed.
class WindowUpdateView : public UpdateView {
 public:
  explicit WindowUpdateView(UpdateWindow* window) : m_window(window) {}
  void forgetWindow() {
    std::scoped_lock lock(m_mutex);
    m_window = nullptr;
  }
  void setFileLine(const std::string& text) override {
    later([text](UpdateWindow& w) { w.m_file->setText(qs(text)); });
  }
  void setProgressLine(const std::string& text) override {
    later([text](UpdateWindow& w) { w.m_line->setText(qs(text)); });
  }
  void setProgressRange(long total) override {
    later([total](UpdateWindow& w) { w.m_progress->setRange(0, static_cast<int>(std::min<long>(total, INT32_MAX))); });
  }
  void setProgressPosition(long position) override {
    later([position](UpdateWindow& w) { w.m_progress->setValue(static_cast<int>(std::min<long>(position, INT32_MAX))); });
  }
  void setButtons(const std::string& first, const std::string& second, bool secondEnabled) override {
    later([first, second, secondEnabled](UpdateWindow& w) {
      if (!first.empty()) w.m_first->setText(qs(first));
      if (!second.empty()) w.m_second->setText(qs(second));
      w.m_second->setEnabled(secondEnabled);
    });
  }
  void showNotice(const MessageBox& box) override {
    later([box](UpdateWindow& w) {
      QMessageBox* notice = makeMessageBox(box, &w);
      notice->setAttribute(Qt::WA_DeleteOnClose);
      notice->open();
    });
  }

 private:
  void later(std::function<void(UpdateWindow&)> draw) {
    // Held while posting: the window cannot go meanwhile, and a posted call
    // is dropped by Qt once its window has gone.
    std::scoped_lock lock(m_mutex);
    if (m_window == nullptr) return;
    UpdateWindow* window = m_window;
    QMetaObject::invokeMethod(
        window, [window, draw = std::move(draw)] {
          if (!window->detached()) draw(*window);
        },
        Qt::QueuedConnection);
  }
  std::mutex m_mutex;
  UpdateWindow* m_window;  // guarded by m_mutex
};

UpdateWindow::UpdateWindow(const QString& text, const QString& comment, UpdatePrompt& prompt, QWidget* parent,
                           UiDispatcher* dispatcher)
    : PortDialog(parent, dispatcher), m_prompt(prompt), m_view(std::make_shared<WindowUpdateView>(this)) {
  setWindowTitle(SessionUi::kUpdateTitle);
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  layout->addWidget(label);
  if (!comment.isEmpty()) {
    auto* note = new QLabel(comment);
    note->setWordWrap(true);
    layout->addWidget(note);
  }
  m_file = new QLabel;
  m_line = new QLabel;
  m_progress = new QProgressBar;
  m_progress->setValue(0);
  layout->addWidget(m_file);
  layout->addWidget(m_progress);
  layout->addWidget(m_line);
  auto* buttons = new QHBoxLayout;
  m_first = new QPushButton(kUpdateNow);
  m_second = new QPushButton(kUpdateLater);
  buttons->addStretch();
  buttons->addWidget(m_first);
  buttons->addWidget(m_second);
  layout->addLayout(buttons);
  connect(m_first, &QPushButton::clicked, this, &UpdateWindow::pressFirst);
  connect(m_second, &QPushButton::clicked, this, [this] { done(2); });
  resize(440, 200);
}

UpdateWindow::~UpdateWindow() { static_cast<WindowUpdateView&>(*m_view).forgetWindow(); }

void UpdateWindow::pressFirst() {
  if (detached() || m_busy) return;
  m_busy = true;
  bool close = false;
  // The prompt joins its download worker, which may be drawing: off this thread.
  runBlocking([this, &close] { close = m_prompt.pressUpdate(*m_view); });
  m_busy = false;
  if (close && !detached()) done(1);
}

}  // namespace vantrel::ui
