// SPDX-License-Identifier: MIT
#pragma once
// Small text helpers shared by the page providers: case folding, number and
// time formats, and the escaping that keeps outside text (file names, user
// names, descriptions) from turning into mark-up or breaking a link.
//
// Stateless and thread-safe.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/text_codecs.h"
#include "templates/data_provider.h"

namespace vantrel::providers {

std::string lowerCase(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);
// Negative, zero or positive as a compares to b without regard to ASCII case.
int compareNoCase(std::string_view a, std::string_view b);

// "%.0f" of value * 0.001, and "%.1f" of the same.
std::string kilo0(double value);
std::string kilo1(double value);
// Seconds since 1970 in local time, in the given strftime format.
std::string localTime(int64_t seconds, const char* format);
inline constexpr const char* kLongDate = "%a %b %d %H:%M:%S %Y";
inline constexpr const char* kShortDate = "%m/%d/%y %H:%M:%S";

// The one way every page writes a size and a date ("...Text" commands beside
// the providers' fixed formats): whole bytes below 1000 ("1 byte", "512 bytes"),
// else KB, MB or GB of 1000 with one decimal ("4.2 MB"); dates as
// "2024-03-05 14:07" in local time.
std::string sizeText(int64_t bytes);
std::string dateText(int64_t seconds);

// A query value inside a link: spaces as "+", and "&", "%", "#", "+" (when
// not a space), quotes and angle brackets as %XX, so that the server reads
// back exactly the text.
std::string linkValue(std::string_view text);

// Outside text written by a command: as htmlEscape (core/text_codecs.h), or as linkValue when the
// command's first argument is 'url' (for a value inside a link's query).
// Every text command of the providers writes through this, so a page puts any
// name into a link with, say, "?groupname=<# env.directory(d).getGroupName('url'); #>".
void writeText(templates::OutputSink& out, std::string_view text, templates::TemplateArgs args);

// A number given as a request parameter: decimal digits after an optional
// sign, read as far as they go (no digits: fallback).
int32_t parseNumber(std::string_view text, int32_t fallback);

// Writes the text to out.
inline void write(templates::OutputSink& out, std::string_view text) { out.Write(text); }
inline void writeNumber(templates::OutputSink& out, int64_t value) { out.Write(std::to_string(value)); }

}  // namespace vantrel::providers
