// SPDX-License-Identifier: MIT
#pragma once
// RequestParams: the parameters of one request, a map from a case-sensitive
// name to its values in arrival order. Query string, form body and header lines
// all land here: parameters append to the list of their name, a header line
// replaces it. Also the query and form parser that fills it.
//
// Owned by its connection (the share-files window may take it over); not
// thread-safe, one thread at a time.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Decrypts "@" parameters with the session key. Returns "" when the text cannot
// be decrypted (for instance before the first login). Must be thread-safe.
class ParameterCipher {
 public:
  virtual ~ParameterCipher() = default;
  virtual std::string decryptText(std::string_view cipher) const = 0;
};

class RequestParams {
 public:
  // `encrypted`: the value arrived as an "@" parameter, decrypted with the
  // session key; anything else counts as sent in the clear.
  void append(std::string_view name, std::string value, bool encrypted = false);
  void replace(std::string_view name, std::string value);
  // True when some value of the name was sent in the clear.
  bool receivedPlain(std::string_view name) const;

  bool has(std::string_view name) const;
  // The first value, or nullptr when the name is absent.
  const std::string* first(std::string_view name) const;
  // The first value, or `fallback`.
  std::string firstOr(std::string_view name, std::string_view fallback) const;
  // Every value of the name; empty when absent.
  const std::vector<std::string>& all(std::string_view name) const;
  std::size_t size() const { return m_values.size(); }

  const std::map<std::string, std::vector<std::string>, std::less<>>& entries() const { return m_values; }

 private:
  std::map<std::string, std::vector<std::string>, std::less<>> m_values;
  std::map<std::string, bool, std::less<>> m_plain;
};

// Parses a query string or form body into `params`. Empty values ("a=&b=")
// arrive as "" except in the very first pair, where they arrive as one space.
// Names starting with "@" whose value has at least 3 characters are encrypted:
// the value is Base64-decoded and decrypted with `cipher` (when given), and
// the name loses its "@". Everything else is URL-decoded.
void parseQueryString(std::string_view text, RequestParams& params, const ParameterCipher* cipher);

}  // namespace vantrel
