// SPDX-License-Identifier: MIT
#pragma once
// The marker values of the archive encoding, shared by its reader and writer.

#include <cstdint>

namespace vantrel::archive_tags {

constexpr uint16_t kNullTag = 0x0000;
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigObjectTag = 0x7FFF;
constexpr uint32_t kBigClassTag = 0x80000000u;
// Highest index the framework hands out before its tag space runs out.
constexpr uint32_t kMaxIndex = 0x3FFFFFFEu;
constexpr uint8_t kStringLongMarker = 0xFF;
constexpr uint16_t kStringUnicodeMarker = 0xFFFE;
constexpr uint16_t kStringHugeMarker = 0xFFFF;
constexpr uint16_t kCountEscape = 0xFFFF;

}  // namespace vantrel::archive_tags
