// SPDX-License-Identifier: MIT
#include "fileserver/request_params.h"

#include "core/base64.h"
#include "core/text_codecs.h"

namespace vantrel {
namespace {

const std::vector<std::string> kNoValues;

}  // namespace

void RequestParams::append(std::string_view name, std::string value, bool encrypted) {
  if (!encrypted) m_plain[std::string(name)] = true;
  auto it = m_values.find(name);
  if (it == m_values.end()) it = m_values.emplace(std::string(name), std::vector<std::string>{}).first;
  it->second.push_back(std::move(value));
}

bool RequestParams::receivedPlain(std::string_view name) const { return m_plain.find(name) != m_plain.end(); }

void RequestParams::replace(std::string_view name, std::string value) {
  m_plain[std::string(name)] = true;
  auto it = m_values.find(name);
  if (it == m_values.end()) it = m_values.emplace(std::string(name), std::vector<std::string>{}).first;
  it->second.assign(1, std::move(value));
}

bool RequestParams::has(std::string_view name) const { return m_values.find(name) != m_values.end(); }

const std::string* RequestParams::first(std::string_view name) const {
  const auto it = m_values.find(name);
  if (it == m_values.end() || it->second.empty()) return nullptr;
  return &it->second.front();
}

std::string RequestParams::firstOr(std::string_view name, std::string_view fallback) const {
  const std::string* value = first(name);
  return value ? *value : std::string(fallback);
}

const std::vector<std::string>& RequestParams::all(std::string_view name) const {
  const auto it = m_values.find(name);
  return it == m_values.end() ? kNoValues : it->second;
}

void parseQueryString(std::string_view text, RequestParams& params, const ParameterCipher* cipher) {
  if (!text.empty() && text.front() == '\r') text.remove_prefix(std::min<std::size_t>(2, text.size()));
  std::size_t pos = 0;
  bool firstPair = true;
  const auto skip = [&](char delimiter) {
    while (pos < text.size() && text[pos] == delimiter) ++pos;
  };
  const auto cut = [&](char delimiter) {
    const std::size_t end = std::min(text.find(delimiter, pos), text.size());
    std::string_view piece = text.substr(pos, end - pos);
    pos = end < text.size() ? end + 1 : end;
    return piece;
  };
  while (pos < text.size()) {
    // Consecutive delimiters collapse, as they do for a tokenising reader; an
    // empty value written "name=&" stays a value of its own.
    skip('=');
    if (pos >= text.size()) break;
    const std::string_view name = cut('=');
    std::string_view raw;
    if (pos < text.size() && text[pos] == '&') {
      raw = " ";  // "name=&" is read as "name= &"
      ++pos;
    } else {
      skip('&');
      raw = cut('&');
    }
    std::string value;
    if (!firstPair && raw == " ") {
      // From the second pair on, the padded single space means an empty value.
    } else if (name.size() > 1 && name.front() == '@' && raw.size() >= 3) {
      std::string_view cipherText = raw;
      if (cipherText.back() == ' ') cipherText.remove_suffix(1);
      std::string plain = cipher ? cipher->decryptText(base64Decode(cipherText)) : std::string();
      if (const auto zero = plain.find('\0'); zero != std::string::npos) plain.resize(zero);
      params.append(name.substr(1), std::move(plain), true);
      firstPair = false;
      continue;
    } else {
      // "+" becomes a space, then "%" and the two characters behind it one
      // byte read as hexadecimal (reading stops at the first non-hex digit;
      // no digit gives 0). A decoded "%" is never decoded again. The value
      // ends at a decoded zero byte, as it would for any C string consumer.
      percentDecode(raw, PlusSign::kSpace, BadEscape::kScan, value);
    }
    params.append(name, std::move(value));
    firstPair = false;
  }
}

}  // namespace vantrel
