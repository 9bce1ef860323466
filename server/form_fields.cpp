// SPDX-License-Identifier: MIT
#include "server/form_fields.h"

#include <charconv>

namespace vantrel::server {

FormFields::FormFields(std::string_view text, Decoding decoding) { add(text, decoding); }

void FormFields::add(std::string_view text, Decoding decoding) {
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('&', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(pos, end - pos);
    if (!piece.empty()) {
      const size_t eq = piece.find('=');
      std::string_view name = piece.substr(0, eq);
      std::string_view value = eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
      if (decoding == Decoding::kUrl) {
        m_fields.push_back({urlDecode(name), urlDecode(value)});
      } else if (decoding == Decoding::kPercent) {
        m_fields.push_back({std::string(name), decodePercentEscapes(value)});
      } else {
        m_fields.push_back({std::string(name), std::string(value)});
      }
    }
    pos = end + 1;
  }
}

bool FormFields::has(std::string_view name) const { return find(name).has_value(); }

std::string FormFields::first(std::string_view name) const { return find(name).value_or(std::string()); }

std::optional<std::string> FormFields::find(std::string_view name) const {
  for (const auto& f : m_fields) {
    if (f.name == name) return f.value;
  }
  return std::nullopt;
}

std::vector<std::string> FormFields::all(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& f : m_fields) {
    if (f.name == name) out.push_back(f.value);
  }
  return out;
}

std::optional<int64_t> FormFields::number(std::string_view name) const {
  const auto v = find(name);
  return v ? parseNumber(*v) : std::nullopt;
}

std::optional<int64_t> parseNumber(std::string_view text) {
  int64_t value = 0;
  if (text.empty() || text.size() > 19) return std::nullopt;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string decodePercentEscapes(std::string_view text) {
  std::string out;
  percentDecode(text, PlusSign::kLiteral, BadEscape::kKeep, out);
  return out;
}

std::string replyValueEncode(std::string_view text) {
  return percentEncode(text, [](unsigned char c) {
    return c < 0x20 || c == '%' || c == '+' || c == '&' || c == '=' || c == ' ' || c == 0x7f;
  });
}

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

void appendField(std::string& reply, std::string_view name, std::string_view value) {
  reply += name;
  reply += '=';
  reply += value;
  reply += '&';
}

void appendField(std::string& reply, std::string_view name, int64_t value) {
  appendField(reply, name, std::to_string(value));
}

}  // namespace vantrel::server
