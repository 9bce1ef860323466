// SPDX-License-Identifier: MIT
// Every reading of %XX escapes, and the hex decoder, on arbitrary text: none
// may grow the text, and what each encoder writes its decoder reads back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text_codecs.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string out;
  for (const PlusSign plus : {PlusSign::kLiteral, PlusSign::kSpace}) {
    for (const BadEscape bad : {BadEscape::kKeep, BadEscape::kReject, BadEscape::kScan}) {
      if (percentDecode(input, plus, bad, out) && out.size() > input.size()) std::abort();
      if (bad != BadEscape::kReject && !percentDecode(input, plus, bad, out)) std::abort();
    }
  }
  if (urlDecode(urlEncode(input)) != input) std::abort();
  const auto escapePercentAndSpace = [](unsigned char c) { return c == '%' || c == '+' || c < 0x20; };
  if (urlDecode(percentEncode(input, escapePercentAndSpace, PlusSign::kSpace)) != input) std::abort();
  if (!percentDecode(percentEncode(input, escapePercentAndSpace), PlusSign::kLiteral, BadEscape::kReject, out) ||
      out != input) {
    std::abort();
  }
  if (hexDecode(input, out) && out.size() * 2 != input.size()) std::abort();
  if (!hexDecode(hexEncode(input), out, HexLetters::kLowerOnly) || out != input) std::abort();
  const std::string html = htmlEscape(input);
  if (html.find_first_of("<>\"'") != std::string::npos) std::abort();
  return 0;
}
