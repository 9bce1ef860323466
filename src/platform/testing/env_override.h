// SPDX-License-Identifier: MIT
#pragma once
// EnvOverride: sets or unsets environment variables for the life of one test
// and restores the previous values afterwards. Not thread-safe (the
// environment never is); use it before any thread starts.

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::testing {

class EnvOverride {
 public:
  EnvOverride() = default;
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;
  ~EnvOverride() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) apply(it->first, it->second);
  }

  // Sets `name` to `value`, or unsets it when value is nullopt.
  void set(const std::string& name, std::optional<std::string> value) {
    const char* old = std::getenv(name.c_str());
    m_saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    apply(name, value);
  }

 private:
  static void apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace vantrel::testing
