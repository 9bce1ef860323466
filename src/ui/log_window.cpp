// SPDX-License-Identifier: MIT
#include "ui/log_window.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QRegularExpression>
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
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  m_close = buttons->button(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  layout->addWidget(buttons);
  resize(700, 420);
}

void LogWindow::setLines(const std::vector<std::string>& lines) {
  m_text->clear();
  for (const std::string& line : lines) addLine(QString::fromStdString(line));
}

QString LogWindow::withFullDate(const QString& line) {
  static const QRegularExpression stamp(R"(^(\d\d)/(\d\d)/(\d\d) (\d\d:\d\d:\d\d))");
  const QRegularExpressionMatch m = stamp.match(line);
  if (!m.hasMatch()) return line;
  // Two-digit years as the C library reads them: 69 to 99 are the 1900s.
  const int yy = m.captured(3).toInt();
  const int year = yy >= 69 ? 1900 + yy : 2000 + yy;
  return QString("%1-%2-%3 %4").arg(year).arg(m.captured(1), m.captured(2), m.captured(4)) +
         line.mid(m.capturedLength());
}

void LogWindow::addLine(const QString& line) {
  // The newest line stays in view unless the person has scrolled up to read.
  QScrollBar* bar = m_text->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  m_text->appendPlainText(withFullDate(line));
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
