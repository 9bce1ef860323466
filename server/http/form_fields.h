// SPDX-License-Identifier: MIT
#pragma once
// FormFields: the name=value pairs of a query string, a form body or the plain
// text of an encrypted request, in their order. Three readings exist: Base64
// values of the login and the envelope ("s", "verify", "crypted") are read
// raw; the client writes the text values of its encrypted requests with "&",
// "=", "%" and "+" as %XX and everything else as it is, so those are read
// with only %XX decoded (a "+" stays a "+"); browsers' forms are URL-decoded.
//
// Also the small text helpers of replies and pages. Values only; thread-safe.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_codecs.h"

namespace vantrel::server {

struct FormField {
  std::string name;
  std::string value;
};

class FormFields {
 public:
  enum class Decoding { kRaw, kPercent, kUrl };

  FormFields() = default;
  // Pairs are separated by "&"; a name ends at its first "=", the value runs to
  // the next "&" (so it may hold "="). Empty pieces are skipped.
  FormFields(std::string_view text, Decoding decoding);

  // Appends the pairs of another text (a form body after a query string).
  void add(std::string_view text, Decoding decoding);

  const std::vector<FormField>& fields() const { return m_fields; }
  bool has(std::string_view name) const;
  // The first value of the name, or "" / nullopt.
  std::string first(std::string_view name) const;
  std::optional<std::string> find(std::string_view name) const;
  std::vector<std::string> all(std::string_view name) const;
  // The first value as a decimal number; nullopt when missing or not a number.
  std::optional<int64_t> number(std::string_view name) const;

 private:
  std::vector<FormField> m_fields;
};

// A whole decimal number with an optional "-", nothing else; nullopt otherwise.
std::optional<int64_t> parseNumber(std::string_view text);

// The codecs of core/text_codecs.h: urlDecode ("+" to space and "%XX" to its
// byte), urlEncode (everything but letters, digits and "-._~" as %XX) and
// htmlEscape (&, <, >, " and ' as entities).
using vantrel::htmlEscape;
using vantrel::urlDecode;
using vantrel::urlEncode;
// "%XX" to its byte; everything else, "+" included, as it is.
std::string decodePercentEscapes(std::string_view text);
// For values of name=value& replies that the client URL-decodes: only the bytes
// that would break the pair or change under decoding are escaped.
std::string replyValueEncode(std::string_view text);

// Appends "name=value&" to a reply.
void appendField(std::string& reply, std::string_view name, std::string_view value);
void appendField(std::string& reply, std::string_view name, int64_t value);

}  // namespace vantrel::server
