// SPDX-License-Identifier: MIT
#include "platform/autostart_entry.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/app_paths.h"
#include "platform/durable_file.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

constexpr size_t kMaxEntryBytes = 64 * 1024;  // a desktop file is a few lines; ignore anything huge

bool readSmallFile(const std::string& path, std::string& out, int& err) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd && errno == ELOOP) fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) {
    err = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    err = EINVAL;
    return false;
  }
  char buf[4096];
  while (out.size() < kMaxEntryBytes) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

AutostartEntry::AutostartEntry() {
  std::string base = xdgConfigHome();
  m_directory = base.empty() ? std::string() : base + "autostart/";
  m_filePath = m_directory.empty() ? std::string() : m_directory + kFileName;
  std::string dir = programDirectory();
  m_launcherPath = dir.empty() ? std::string() : dir + kLauncherName;
}

AutostartEntry::AutostartEntry(std::string directory, std::string launcherPath)
    : m_directory(directory.empty() ? std::string() : withTrailingSlash(std::move(directory))),
      m_filePath(m_directory.empty() ? std::string() : m_directory + kFileName),
      m_launcherPath(std::move(launcherPath)) {}

std::string AutostartEntry::desktopFileText(std::string_view launcherPath) {
  if (launcherPath.empty()) return {};
  // Exec quoting: inside double quotes, '"', '`', '$' and '\' take a backslash;
  // then the value itself escapes '\' once more, and '%' is doubled so that it
  // is not read as a field code.
  std::string exec = "\"";
  for (char c : launcherPath) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return {};
    if (c == '"' || c == '`' || c == '$') {
      exec += "\\\\";
      exec += c;
    } else if (c == '\\') {
      exec += "\\\\\\\\";
    } else if (c == '%') {
      exec += "%%";
    } else {
      exec += c;
    }
  }
  exec += "\"";
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Vantrel File Manager\n"
         "Exec=" + exec + "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEntry::isDisabled(std::string_view text) {
  bool inEntry = false;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = trim(line.substr(0, eq));
    std::string_view value = trim(line.substr(eq + 1));
    if (key == "Hidden" && value == "true") return true;
    if (key == "X-GNOME-Autostart-enabled" && value == "false") return true;
  }
  return false;
}

AutostartEntry::State AutostartEntry::state() const {
  if (m_filePath.empty()) return State::Unknown;
  std::string text;
  int err = 0;
  if (!readSmallFile(m_filePath, text, err)) {
    // Missing file or folder: not set. Anything else (no permission, not a
    // folder) means we cannot tell.
    return err == ENOENT ? State::Absent : State::Unknown;
  }
  return isDisabled(text) ? State::Absent : State::Present;
}

int AutostartEntry::write() const {
  std::string text = desktopFileText(m_launcherPath);
  if (text.empty()) return kNoLauncherPath;
  if (m_directory.empty() || !makeDirectories(m_directory, 0755)) return kWriteFailed;
  // Others may read it, as they may every desktop entry; a symbolic link at
  // the entry's place is replaced, not followed.
  if (!replaceFileDurably(m_filePath, text, FileAccess::kReadableByAll).empty()) return kWriteFailed;
  return kOk;
}

int AutostartEntry::remove() const {
  if (m_filePath.empty()) return kRemoveFailed;
  if (::unlink(m_filePath.c_str()) == 0 || errno == ENOENT) return kOk;
  return kRemoveFailed;
}

}  // namespace vantrel
