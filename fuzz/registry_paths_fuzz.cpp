// SPDX-License-Identifier: MIT
// Key paths and value names reach the hive from user names and settings pages.
// Whatever they hold, the hive must refuse or store them consistently: what a
// successful write stored reads back, a created key opens, and a deleted key
// takes its subtree with it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry_hive.h"
#include "tests/support/temp_folder.h"

namespace {

vantrel::RegistryHive& hive() {
  static vantrel::testing::TempFolder dir;
  static vantrel::RegistryHive h(dir.path());
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  if (size < 1) return 0;
  const uint8_t op = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t sep = rest.find('\x01');
  std::string_view key = rest.substr(0, sep);
  std::string_view name = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);

  RegistryHive& h = hive();
  if (h.status() != reg::kOk) std::abort();
  RegValue got;
  std::string sub;
  int created = h.createKey(key);
  if (created == reg::kOk && h.openKey(key) != reg::kOk) std::abort();
  if (created == reg::kBadPath && h.openKey(key) != reg::kBadPath) std::abort();
  switch (op % 4) {
    case 0: {
      RegValue v = (op & 0x80) != 0 ? RegValue::ofNumber(static_cast<int32_t>(size)) : RegValue::ofText(name);
      if (h.writeValue(key, name, v) == reg::kOk) {
        if (h.readValue(key, name, got) != reg::kOk || got.type != v.type || got.number != v.number ||
            got.text != v.text) {
          std::abort();
        }
      }
      break;
    }
    case 1:
      (void)h.enumSubKey(key, static_cast<uint32_t>(op >> 2), sub);
      (void)h.subKeys(key);
      (void)h.valueNames(key);
      break;
    case 2:
      if (created == reg::kOk && !key.empty()) {
        std::string child = std::string(key) + "\\child";
        if (h.createKey(child) == reg::kOk) {
          if (h.deleteKey(key) != reg::kOk || h.openKey(key) != reg::kKeyNotFound ||
              h.openKey(child) != reg::kKeyNotFound) {
            std::abort();
          }
        }
      }
      break;
    case 3:
      (void)h.deleteValue(key, name);
      if (h.readValue(key, name, got) == reg::kOk) std::abort();
      break;
  }
  return 0;
}
