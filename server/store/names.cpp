// SPDX-License-Identifier: MIT
#include "server/store/names.h"

#include <cctype>

namespace vantrel::server {

namespace {

// The length of the well-formed UTF-8 character at the start of `text`, 0
// when there is none (overlong forms, surrogates and values past U+10FFFF
// are not well-formed).
size_t utf8Length(std::string_view text) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < n) return 0;
  if (b(1) < low || b(1) > high) return 0;
  for (size_t i = 2; i < n; ++i) {
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  }
  return n;
}

}  // namespace

bool isUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8Length(text.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string repairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8Length(text.substr(i));
    if (n > 0) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i++]);
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::string cleanName(std::string_view text, size_t maxLength) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != 0x7f) {
      out += ch;
    }
  }
  if (!isUtf8(out)) out = repairUtf8(out);
  const size_t b = out.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  out = out.substr(b, out.find_last_not_of(' ') - b + 1);
  if (out.size() > maxLength) {
    // Back to the start of the character the cut would split.
    size_t cut = maxLength;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return out;
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace vantrel::server
