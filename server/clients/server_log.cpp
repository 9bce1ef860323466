// SPDX-License-Identifier: MIT
#include "server/clients/server_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace vantrel::server {

ServerLog::~ServerLog() {
  if (m_file != nullptr) std::fclose(m_file);
}

bool ServerLog::openFile(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  std::FILE* file = fd >= 0 ? ::fdopen(fd, "a") : nullptr;
  if (file == nullptr) {
    error = "cannot open the log " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::scoped_lock lock(m_mutex);
  if (m_file != nullptr) std::fclose(m_file);
  m_file = file;
  return true;
}

std::string ServerLog::line(std::chrono::system_clock::time_point when, LogLevel level, std::string_view message) {
  const auto sinceEpoch = when.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  std::string out = stamp;
  out += level == LogLevel::kInfo ? " info " : level == LogLevel::kWarning ? " warning " : " error ";
  for (const char ch : message) {
    const auto c = static_cast<unsigned char>(ch);
    out += c < 0x20 || c == 0x7f ? '?' : ch;
  }
  out += '\n';
  return out;
}

void ServerLog::write(LogLevel level, std::string_view message) {
  const std::string text = line(std::chrono::system_clock::now(), level, message);
  std::scoped_lock lock(m_mutex);
  std::FILE* out = m_file != nullptr ? m_file : stderr;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

}  // namespace vantrel::server
