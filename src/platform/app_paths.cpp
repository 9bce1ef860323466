// SPDX-License-Identifier: MIT
#include "platform/app_paths.h"

#include <errno.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace vantrel {
namespace {

// An environment value that is set and not empty.
std::string envValue(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

// XDG base directories must be absolute; a relative value is ignored, as the
// base-directory rules require.
std::string xdgBase(const char* name, const char* homeRelative) {
  std::string v = envValue(name);
  if (!v.empty() && v.front() == '/') return withTrailingSlash(std::move(v));
  std::string home = userHomeDirectory();
  if (home.empty()) return {};
  return withTrailingSlash(std::move(home)) + homeRelative;
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string withTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

bool makeDirectories(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  if (isDirectory(path)) return true;
  // Walk the components from the top; each mkdir may race with another process
  // creating the same folder, which is fine (EEXIST is checked afterwards).
  size_t pos = path.front() == '/' ? 1 : 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    if (slash > pos) {
      std::string part = path.substr(0, slash);
      if (::mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
    }
    pos = slash + 1;
  }
  return isDirectory(path);
}

std::string userHomeDirectory() {
  std::string home = envValue("HOME");
  if (!home.empty()) return home;
  std::vector<char> buf(16384);
  struct passwd pw {};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return {};
}

std::string xdgConfigHome() { return xdgBase("XDG_CONFIG_HOME", ".config/"); }

std::string xdgDownloadDirectory() {
  const std::string home = userHomeDirectory();
  std::string dir = envValue("XDG_DOWNLOAD_DIR");
  if (dir.empty()) {
    // Lines of the form XDG_DOWNLOAD_DIR="$HOME/Downloads".
    std::ifstream in(xdgConfigHome() + "user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
      constexpr std::string_view kName = "XDG_DOWNLOAD_DIR=\"";
      if (line.rfind(kName, 0) != 0) continue;
      const std::size_t end = line.find('"', kName.size());
      if (end == std::string::npos) continue;
      dir = line.substr(kName.size(), end - kName.size());
    }
    if (dir.rfind("$HOME", 0) == 0) dir = home + dir.substr(5);
  }
  if (dir.empty() || dir.front() != '/') {
    if (home.empty()) return {};
    dir = home + "/Downloads";
  }
  return withTrailingSlash(std::move(dir));
}

std::string configDirectory() {
  std::string dir = envValue("VANTREL_CONFIG_DIR");
  if (!dir.empty()) return withTrailingSlash(std::move(dir));
  std::string base = xdgConfigHome();
  return base.empty() ? std::string() : base + "vantrel/";
}

std::string clientHomeDirectory(std::string_view commandLineHome) {
  std::string dir(commandLineHome);
  if (dir.empty()) dir = envValue("VANTREL_HOME");
  if (dir.empty()) {
    std::string base = xdgBase("XDG_DATA_HOME", ".local/share/");
    if (base.empty()) return {};
    dir = base + "vantrel/";
  }
  dir = withTrailingSlash(std::move(dir));
  return makeDirectories(dir) ? dir : std::string();
}

std::string programPath() {
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    // readlink truncates silently; a full buffer may mean the path was cut.
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    if (buf.size() >= 65536) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string directoryOf(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string programDirectory() { return directoryOf(programPath()); }

std::string sharedDataDirectory(const std::string& programDir, std::string fallback) {
  if (programDir.empty()) return fallback;
  // Only the folder above "bin/" is looked at, never a path the user chose.
  std::string candidate = withTrailingSlash(programDir) + "../share/vantrel";
  char resolved[PATH_MAX];
  if (::realpath(candidate.c_str(), resolved) == nullptr || !isDirectory(resolved)) return fallback;
  return withTrailingSlash(resolved);
}

}  // namespace vantrel
