// SPDX-License-Identifier: MIT
#include "providers/provider_text.h"

#include <cstdio>
#include <iterator>
#include <ctime>

#include "core/text_codecs.h"

namespace vantrel::providers {
namespace {

char lowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string formatDouble(const char* format, double value) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, format, value);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), format, value);
  big.resize(static_cast<size_t>(n));
  return big;
}

}  // namespace

std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerChar(c);
  return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && compareNoCase(a, b) == 0; }

int compareNoCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(lowerChar(a[i]));
    const auto y = static_cast<unsigned char>(lowerChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string kilo0(double value) { return formatDouble("%.0f", value * 0.001); }
std::string kilo1(double value) { return formatDouble("%.1f", value * 0.001); }

std::string localTime(int64_t seconds, const char* format) {
  const auto t = static_cast<time_t>(seconds);
  struct tm parts {};
  if (localtime_r(&t, &parts) == nullptr) return {};
  char buffer[128];
  const size_t n = std::strftime(buffer, sizeof buffer, format, &parts);
  return std::string(buffer, n);
}

std::string sizeText(int64_t bytes) {
  if (bytes < 0) bytes = 0;
  if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  static constexpr const char* kUnits[] = {"KB", "MB", "GB"};
  double value = static_cast<double>(bytes) / 1000.0;
  size_t unit = 0;
  // 999.96 KB would round to "1000.0 KB": it is 1.0 MB.
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000.0;
    ++unit;
  }
  return formatDouble("%.1f", value) + " " + kUnits[unit];
}

std::string dateText(int64_t seconds) { return localTime(seconds, "%Y-%m-%d %H:%M"); }

std::string linkValue(std::string_view text) {
  return percentEncode(
      text,
      [](unsigned char c) {
        return c == '&' || c == '%' || c == '#' || c == '+' || c == '"' || c == '\'' || c == '<' || c == '>' ||
               c < 0x20 || c == 0x7F;
      },
      PlusSign::kSpace);
}

void writeText(templates::OutputSink& out, std::string_view text, templates::TemplateArgs args) {
  const bool inLink = !args.empty() && args[0].isString() && equalsNoCase(args[0].text(), "url");
  out.Write(inLink ? linkValue(text) : htmlEscape(text));
}

int32_t parseNumber(std::string_view text, int32_t fallback) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return fallback;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) value = int64_t{INT32_MAX} + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace vantrel::providers
