// SPDX-License-Identifier: MIT
// A stored password may be any text (edited by hand, damaged): unscrambling it
// must never fail, and every plain text must come back from its stored form.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vantrel::SettingsStore;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)SettingsStore::PasswordUnscramble(input);
  const std::string stored = SettingsStore::PasswordScramble(input);
  if (stored.size() != (input.size() + 2) / 3 * 4) std::abort();
  if (SettingsStore::PasswordUnscramble(stored) != input) std::abort();
  return 0;
}
