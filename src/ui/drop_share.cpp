// SPDX-License-Identifier: MIT
#include "ui/drop_share.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QUrl>

namespace vantrel::ui {
namespace {

std::vector<std::string> localPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile() && QFileInfo::exists(url.toLocalFile())) paths.push_back(url.toLocalFile().toStdString());
  }
  return paths;
}

void note(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
  auto* box = new QMessageBox(icon, DropShare::kTitle, text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}

}  // namespace

DropShare::DropShare(Host host, QObject* parent) : QObject(parent), m_host(std::move(host)) {}

DropShare::~DropShare() = default;

void DropShare::attach(QWidget& window) {
  window.setAcceptDrops(true);
  window.installEventFilter(this);
}

bool DropShare::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::DragEnter) {
    auto* enter = static_cast<QDragEnterEvent*>(event);
    if (!localPaths(enter->mimeData()).empty()) {
      enter->acceptProposedAction();
      return true;
    }
  } else if (event->type() == QEvent::Drop) {
    auto* drop = static_cast<QDropEvent*>(event);
    const std::vector<std::string> paths = localPaths(drop->mimeData());
    if (!paths.empty()) {
      drop->acceptProposedAction();
      offer(qobject_cast<QWidget*>(watched), paths);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void DropShare::offer(QWidget* parent, const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  if (m_running) {
    note(parent, QMessageBox::Information, "Files are still being shared. Drop these again once that has finished.");
    return;
  }
  if (!m_host.loggedIn()) {
    note(parent, QMessageBox::Information, "Log in to Vantrel first: dropped files are shared into your personal group.");
    return;
  }
  const QString group = QString::fromStdString(m_host.groupName());
  const QString what = paths.size() == 1 ? "'" + QFileInfo(QString::fromStdString(paths.front())).fileName() + "'"
                                         : QString("these %1 files and folders").arg(paths.size());
  QMessageBox question(QMessageBox::Question, kTitle,
                       QString("Share %1 into your personal group '%2'?").arg(what, group),
                       QMessageBox::Yes | QMessageBox::No, parent);
  question.setDefaultButton(QMessageBox::Yes);
  if (question.exec() != QMessageBox::Yes) return;
  if (m_worker.joinable()) m_worker.join();  // the last run has ended
  m_running = true;
  QPointer<QWidget> owner(parent);
  m_worker = std::jthread([this, paths, group, owner] {
    const int code = m_host.share(paths);
    QMetaObject::invokeMethod(this, [this, code, group, owner] { finished(code, group, owner); }, Qt::QueuedConnection);
  });
}

void DropShare::finished(int code, const QString& group, QWidget* parent) {
  m_running = false;
  if (code == 0) {
    note(parent, QMessageBox::Information, QString("Your files are now shared in the group '%1'.").arg(group));
  } else {
    note(parent, QMessageBox::Critical,
         QString("Error %1 %2").arg(code).arg(QString::fromStdString(m_host.errorText(code))));
  }
}

}  // namespace vantrel::ui
