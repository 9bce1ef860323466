// SPDX-License-Identifier: MIT
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vantrel::testing {
namespace {

// "Suite-Name-" of the running test, cut to a length that leaves room in a
// file name, with every "/" (parameterised tests) made a "-".
std::string testPrefix() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "vantrel-";
  if (info != nullptr) name += std::string(info->test_suite_name()) + "-" + info->name() + "-";
  if (name.size() > 120) name.resize(120);
  for (char& c : name) {
    if (c == '/') c = '-';
  }
  return name;
}

}  // namespace

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + testPrefix() + "XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
}

TempFolder::~TempFolder() {
  if (m_path.empty()) return;
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(m_path, ec);
}

std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vantrel::testing
