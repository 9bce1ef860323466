// SPDX-License-Identifier: MIT
// Lexing and parsing any text as a template file never crashes, never
// recurses without bound, and reports at least one line whenever it fails.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "templates/template_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vantrel::templates::TemplateSet set;
  size_t reports = 0;
  const bool ok = vantrel::templates::ParseTemplateFile(text, set, [&](std::string_view) { ++reports; });
  if (!ok && reports == 0) std::abort();
  if (ok && set.empty()) std::abort();
  return 0;
}
