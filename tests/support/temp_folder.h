// SPDX-License-Identifier: MIT
#pragma once
// TempFolder: a fresh folder under $TMPDIR (or /tmp) for one test, named after
// the running test so that a folder left by a crashed run says whose it was,
// and removed with everything in it when the object goes (permissions that a
// test took away are given back first, so that removal can descend).
// Not thread-safe; one owner, normally the test or its fixture.

#include <filesystem>
#include <string>

namespace vantrel::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // False when the folder could not be made (the test should stop).
  bool valid() const { return !m_path.empty(); }
  // The folder, without a trailing "/".
  const std::filesystem::path& path() const { return m_path; }
  // path() / name, as text.
  std::string file(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

// The whole content of a file; "" when it cannot be read.
std::string readWholeFile(const std::filesystem::path& path);

}  // namespace vantrel::testing
