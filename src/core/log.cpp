// SPDX-License-Identifier: MIT
#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <utility>

namespace vantrel {

namespace {

constexpr std::string_view kLogTooLong = "Log Message too long";
constexpr std::string_view kErrorTooLong = "Error Message too long";

std::string timeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%m/%d/%y %H:%M:%S  ", &local);
  return std::string(buffer, n);
}

std::size_t fileSize(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long pos = std::ftell(file);
  return pos > 0 ? static_cast<std::size_t>(pos) : 0;
}

// The log holds peers' addresses and local paths: only its owner reads it,
// also when an older version left it readable to all.
std::FILE* openPrivate(const std::string& path, bool truncate) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND), 0600);
  if (fd < 0) return nullptr;
  ::fchmod(fd, 0600);
  std::FILE* file = ::fdopen(fd, truncate ? "wb" : "ab");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

Log::Log(std::string path, int maxSizeKb, bool trim, UserInterface* ui)
    : m_path(std::move(path)),
      m_maxBytes(static_cast<std::size_t>(maxSizeKb > 0 ? maxSizeKb : kDefaultMaxSizeKb) * 1024),
      m_trim(trim) {
  if (m_path.empty()) return;
  // Created when missing, kept when present, every write lands at the end;
  // the descriptor does not leak into programs the client starts.
  m_file.reset(openPrivate(m_path, false));
  if (!m_file) {
    if (ui != nullptr) {
      ui->showMessage(MessageBox{.text = "Unable to open log.txt for writing",
                                 .title = "Error",
                                 .icon = MessageIcon::Warning,
                                 .buttons = MessageButtons::Ok,
                                 .foreground = true});
    }
    return;
  }
  m_size = fileSize(m_file.get());
}

Log::~Log() = default;

void Log::logText(std::string_view text, int level) {
  {
    std::scoped_lock lock(m_mutex);
    if (level > m_detailLevel) return;
  }
  writeLine(text);
}

void Log::logActivity(std::string_view message, std::string_view context, int level) {
  {
    std::scoped_lock lock(m_mutex);
    if (level > m_detailLevel) return;
  }
  if (message.size() + context.size() > kMaxActivityText) {
    writeLine(kLogTooLong);
    return;
  }
  std::string text;
  text.reserve(message.size() + context.size() + 3);
  text.append(" ").append(message).append(" ").append(context).append(" ");
  writeLine(text);
}

void Log::logError(std::string_view message, std::string_view context, std::string_view extra, int level) {
  {
    std::scoped_lock lock(m_mutex);
    if (level > m_errorLevel) return;
  }
  if (message.size() + context.size() + extra.size() > kMaxErrorText) {
    writeLine(kErrorTooLong);
    return;
  }
  std::string text;
  text.reserve(message.size() + context.size() + extra.size() + 4);
  text.append(" ").append(message).append(" ").append(context).append(" ").append(extra).append(" ");
  writeLine(text);
}

void Log::writeLine(std::string_view text) {
  if (text.empty()) return;
  std::string line = timeStamp();
  line.append(text);
  std::scoped_lock lock(m_mutex);
  if (m_mirror) m_mirror(line);
  m_recent.push_back(line);
  if (m_recent.size() > kMirrorLines) m_recent.pop_front();
  if (!m_file) return;
  line.append("\r\n");
  // A line that would take the file over its maximum starts it afresh first,
  // so the file always ends with the newest line.
  if (m_trim && m_size > 0 && m_size + line.size() > m_maxBytes) restartFileLocked();
  // One buffered write and a flush: the line reaches the file whole, and a
  // crash loses at most the line being written.
  std::fwrite(line.data(), 1, line.size(), m_file.get());
  std::fflush(m_file.get());
  m_size += line.size();
}

void Log::restartFileLocked() {
  // Start the file afresh by its full path. The new stream is opened before the
  // old one is dropped, so a failure leaves the log writing where it was; then
  // it tries again only after another full file's worth of lines.
  File fresh(openPrivate(m_path, true));
  m_size = 0;
  if (!fresh) return;
  m_file = std::move(fresh);
}

void Log::setDetailLevel(int level) {
  std::scoped_lock lock(m_mutex);
  m_detailLevel = level;
}

void Log::setErrorLevel(int level) {
  std::scoped_lock lock(m_mutex);
  m_errorLevel = level;
}

int Log::detailLevel() const {
  std::scoped_lock lock(m_mutex);
  return m_detailLevel;
}

int Log::errorLevel() const {
  std::scoped_lock lock(m_mutex);
  return m_errorLevel;
}

void Log::setMirror(std::function<void(std::string_view)> mirror) {
  std::scoped_lock lock(m_mutex);
  m_mirror = std::move(mirror);
}

std::vector<std::string> Log::recentLines() const {
  std::scoped_lock lock(m_mutex);
  return {m_recent.begin(), m_recent.end()};
}

bool Log::isOpen() const {
  std::scoped_lock lock(m_mutex);
  return static_cast<bool>(m_file);
}

}  // namespace vantrel
