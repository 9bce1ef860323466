// SPDX-License-Identifier: MIT
#include "ui/log_window.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

namespace vantrel::ui {

LogWindow::LogWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kTitle);
  auto* layout = new QVBoxLayout(this);
  m_text = new QPlainTextEdit;
  m_text->setReadOnly(true);
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_text->setMaximumBlockCount(kLines);
  m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(m_text);
  resize(640, 420);
}

void LogWindow::setLines(const std::vector<std::string>& lines) {
  m_text->clear();
  for (const std::string& line : lines) addLine(QString::fromStdString(line));
}

void LogWindow::addLine(const QString& line) {
  // The newest line stays in view unless the person has scrolled up to read.
  QScrollBar* bar = m_text->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  m_text->appendPlainText(line);
  if (atEnd) bar->setValue(bar->maximum());
}

QStringList LogWindow::lines() const {
  QStringList out;
  for (QTextBlock block = m_text->document()->begin(); block.isValid(); block = block.next()) out << block.text();
  return out;
}

LogFeed::LogFeed(Log& log, LogWindow& window) : m_log(log) {
  window.setLines(log.recentLines());
  LogWindow* target = &window;
  // Runs on the writing thread under the log's lock: the line is handed over,
  // never shown from there. The destructor detaches before the window goes.
  log.setMirror([target](std::string_view line) {
    QMetaObject::invokeMethod(
        target, [target, text = QString::fromUtf8(line.data(), static_cast<int>(line.size()))] { target->addLine(text); },
        Qt::QueuedConnection);
  });
}

LogFeed::~LogFeed() { m_log.setMirror(nullptr); }

}  // namespace vantrel::ui
