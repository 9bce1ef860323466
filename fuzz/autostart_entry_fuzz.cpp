// SPDX-License-Identifier: MIT
// Reading an autostart file the desktop or the user edited must never fail, and
// the Exec line written for any launcher path must read back as exactly that
// path: no line break gets in, no character is lost to quoting.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/autostart_entry.h"

namespace {

// The desktop's reading of an Exec value holding one quoted argument.
bool unquoteExec(std::string_view value, std::string& out) {
  std::string unescaped;  // first pass: the string escapes of the value
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      unescaped += value[i];
      continue;
    }
    if (++i == value.size()) return false;
    switch (value[i]) {
      case '\\': unescaped += '\\'; break;
      case 's': unescaped += ' '; break;
      case 'n': unescaped += '\n'; break;
      case 't': unescaped += '\t'; break;
      case 'r': unescaped += '\r'; break;
      default: return false;
    }
  }
  if (unescaped.size() < 2 || unescaped.front() != '"' || unescaped.back() != '"') return false;
  std::string_view inner(unescaped);
  inner = inner.substr(1, inner.size() - 2);
  for (size_t i = 0; i < inner.size(); ++i) {
    char c = inner[i];
    if (c == '\\') {
      if (++i == inner.size()) return false;
      c = inner[i];
      if (c != '"' && c != '`' && c != '$' && c != '\\') return false;
    } else if (c == '"' || c == '`' || c == '$') {
      return false;  // must have been escaped
    } else if (c == '%') {
      if (++i == inner.size() || inner[i] != '%') return false;
    }
    out += c;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)vantrel::AutostartEntry::isDisabled(input);

  const std::string text = vantrel::AutostartEntry::desktopFileText(input);
  if (text.empty()) return 0;
  const std::string_view marker = "\nExec=";
  size_t at = text.find(marker);
  if (at == std::string::npos) std::abort();
  size_t start = at + marker.size();
  size_t end = text.find('\n', start);
  std::string launcher;
  if (!unquoteExec(std::string_view(text).substr(start, end - start), launcher) || launcher != input) std::abort();
  if (vantrel::AutostartEntry::isDisabled(text)) std::abort();
  return 0;
}
