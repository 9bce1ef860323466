// SPDX-License-Identifier: MIT
#pragma once
// TempDir: a fresh directory under $TMPDIR (or /tmp) for one test, removed with
// everything in it when the object goes away. Header-only, for tests of any
// subsystem. Not thread-safe; one owner.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vantrel::testing {

class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vantrel-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempDir() {
    if (m_path.empty()) return;
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    // Restore permissions that a test took away so that removal can descend.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
      }
    }
    std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool valid() const { return !m_path.empty(); }
  // The directory, without a trailing "/".
  const std::string& path() const { return m_path; }
  // path() + "/" + name.
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

}  // namespace vantrel::testing
