// SPDX-License-Identifier: MIT
#include "server/http/form_fields.h"

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
