// SPDX-License-Identifier: MIT
#pragma once
// The log window: the last 40 lines of the client's log, oldest first, with
// new lines arriving as they are written. LogFeed ties a window to the Log:
// the lines it has, then every new line, handed to the UI thread; it detaches
// from the Log before the window goes. UI thread only.

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include <string>
#include <vector>

#include "core/log.h"

namespace vantrel::ui {

class LogWindow : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Log";
  static constexpr int kLines = static_cast<int>(Log::kMirrorLines);

  explicit LogWindow(QWidget* parent = nullptr);
  void setLines(const std::vector<std::string>& lines);
  // Appends one line; the oldest goes once there are more than kLines.
  void addLine(const QString& line);
  // A log line as the window shows it: the file's "mm/dd/yy hh:mm:ss" stamp
  // with its full date, "yyyy-mm-dd hh:mm:ss"; other lines as they are.
  static QString withFullDate(const QString& line);
  QStringList lines() const;
  QPlainTextEdit* text() const { return m_text; }
  QPushButton* closeButton() const { return m_close; }

 private:
  QPlainTextEdit* m_text;
  QPushButton* m_close;
};

class LogFeed {
 public:
  LogFeed(Log& log, LogWindow& window);
  ~LogFeed();
  LogFeed(const LogFeed&) = delete;
  LogFeed& operator=(const LogFeed&) = delete;

 private:
  Log& m_log;
};

}  // namespace vantrel::ui
