// SPDX-License-Identifier: MIT
#include "core/text_codecs.h"

namespace vantrel {
namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

bool isUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

}  // namespace

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hexDecode(std::string_view hex, std::string& bytes, HexLetters letters) {
  bytes.clear();
  if (hex.size() % 2 != 0) return false;
  bytes.reserve(hex.size() / 2);
  const auto digit = [letters](char c) {
    if (letters == HexLetters::kLowerOnly && c >= 'A' && c <= 'F') return -1;
    return hexDigitValue(c);
  };
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

std::string hexEncode(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const uint8_t b : bytes) {
    text.push_back(kLowerHex[b >> 4]);
    text.push_back(kLowerHex[b & 15]);
  }
  return text;
}

std::string hexEncode(std::string_view bytes) {
  return hexEncode(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

bool percentDecode(std::string_view text, PlusSign plus, BadEscape bad, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+' && plus == PlusSign::kSpace) {
      out += ' ';
      continue;
    }
    if (c != '%') {
      out += c;
      continue;
    }
    const int high = i + 1 < text.size() ? hexDigitValue(text[i + 1]) : -1;
    const int low = high >= 0 && i + 2 < text.size() ? hexDigitValue(text[i + 2]) : -1;
    switch (bad) {
      case BadEscape::kKeep:
        if (low < 0) {
          out += c;
          continue;
        }
        break;
      case BadEscape::kReject:
        if (low < 0) return false;
        break;
      case BadEscape::kScan: {
        const int byte = high < 0 ? 0 : low < 0 ? high : high * 16 + low;
        if (byte == 0) return true;
        out += static_cast<char>(byte);
        i += 2;
        continue;
      }
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string urlDecode(std::string_view text) {
  std::string out;
  percentDecode(text, PlusSign::kSpace, BadEscape::kKeep, out);
  return out;
}

std::string percentEncode(std::string_view text, bool (*escape)(unsigned char byte), PlusSign space) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == ' ' && space == PlusSign::kSpace) {
      out += '+';
    } else if (escape(c)) {
      out += '%';
      out += kUpperHex[c >> 4];
      out += kUpperHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string urlEncode(std::string_view text) {
  return percentEncode(text, [](unsigned char c) { return !isUnreserved(c); });
}

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace vantrel
