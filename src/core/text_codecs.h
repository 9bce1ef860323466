// SPDX-License-Identifier: MIT
#pragma once
// The text codecs of the client and the server: %XX escapes (URLs, forms,
// request values, saved lists), HTML character references and hex. Readers
// of outside text differ in what their peers have always sent, so a decoder
// takes the reading as options: whether "+" is a space, and what becomes of
// a "%" that is not followed by two hex digits. Stateless and thread-safe.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

// ---- hex

// The value of one hex digit ("0"-"9", "a"-"f", "A"-"F"), -1 for anything else.
int hexDigitValue(char c);

enum class HexLetters {
  kAnyCase,
  kLowerOnly,  // for texts we write ourselves in lower case and read strictly
};

// Pairs of hex digits to bytes; false for an odd length or any other
// character (then `bytes` holds what was read before it).
bool hexDecode(std::string_view hex, std::string& bytes, HexLetters letters = HexLetters::kAnyCase);
// Bytes as lower-case hex, two digits each.
std::string hexEncode(std::span<const uint8_t> bytes);
std::string hexEncode(std::string_view bytes);

// ---- %XX escapes

// What a "+" stands for.
enum class PlusSign {
  kLiteral,  // itself (request values and Base64 keep their "+")
  kSpace,    // a space, as browsers and our own links write one
};

// What becomes of a "%" that is not followed by two hex digits.
enum class BadEscape {
  kKeep,    // it stays as it is, with what follows it
  kReject,  // the whole text is refused (saved lists: a damaged line)
  // Read as the file server has always read requests: the hex digits that are
  // there (none: a byte 0), the escape taking three characters all the same;
  // a byte 0 from any escape ends the text.
  kScan,
};

// Decodes %XX escapes (either case of hex digit) into `out`; false only with
// BadEscape::kReject when the text holds a bad escape.
bool percentDecode(std::string_view text, PlusSign plus, BadEscape bad, std::string& out);
// A query or form value: "+" as a space, %XX as its byte, any other "%" as it is.
std::string urlDecode(std::string_view text);

// Every byte for which `escape` holds as %XX (upper-case digits); with
// PlusSign::kSpace a space becomes "+" first, whatever `escape` says of it.
std::string percentEncode(std::string_view text, bool (*escape)(unsigned char byte),
                          PlusSign space = PlusSign::kLiteral);
// Everything but letters, digits and "-._~" as %XX.
std::string urlEncode(std::string_view text);

// ---- HTML

// "&", "<", ">", '"' and "'" as character references, which a browser shows
// as the characters themselves, in text and in attribute values alike.
std::string htmlEscape(std::string_view text);

}  // namespace vantrel
