// SPDX-License-Identifier: MIT
#include "core/archive_writer.h"

#include <algorithm>
#include <limits>

#include "core/archive_tags.h"

namespace vantrel {

using namespace archive_tags;

void ArchiveWriter::writeU8(uint8_t value) { m_bytes.push_back(value); }

void ArchiveWriter::writeU16(uint16_t value) {
  const uint8_t le[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  m_bytes.insert(m_bytes.end(), le, le + 2);
}

void ArchiveWriter::writeU32(uint32_t value) {
  const uint8_t le[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                         static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  m_bytes.insert(m_bytes.end(), le, le + 4);
}

void ArchiveWriter::writeBytes(std::span<const uint8_t> bytes) {
  m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

void ArchiveWriter::writeCount(uint32_t count) {
  if (count < kCountEscape) {
    writeU16(static_cast<uint16_t>(count));
  } else {
    writeU16(kCountEscape);
    writeU32(count);
  }
}

void ArchiveWriter::writeString(std::string_view text) {
  // Strings past 4 GiB cannot be expressed; nothing the client keeps comes near.
  const auto length = static_cast<uint32_t>(std::min<std::size_t>(text.size(), std::numeric_limits<uint32_t>::max()));
  if (length < kStringLongMarker) {
    writeU8(static_cast<uint8_t>(length));
  } else if (length < kStringUnicodeMarker) {
    writeU8(kStringLongMarker);
    writeU16(static_cast<uint16_t>(length));
  } else {
    writeU8(kStringLongMarker);
    writeU16(kStringHugeMarker);
    writeU32(length);
  }
  writeBytes({reinterpret_cast<const uint8_t*>(text.data()), length});
}

uint32_t ArchiveWriter::writeNewObjectTag(const ArchiveClass& cls) {
  uint32_t classIndex = 0;
  for (const auto& [name, index] : m_classes) {
    if (name == cls.name) {
      classIndex = index;
      break;
    }
  }
  if (classIndex == 0) {
    writeU16(kNewClassTag);
    writeU16(cls.schema);
    writeU16(static_cast<uint16_t>(cls.name.size()));
    writeBytes({reinterpret_cast<const uint8_t*>(cls.name.data()), cls.name.size()});
    m_classes.emplace_back(std::string(cls.name), m_nextIndex++);
  } else if (classIndex < kBigObjectTag) {
    writeU16(static_cast<uint16_t>(kClassTag | classIndex));
  } else {
    writeU16(kBigObjectTag);
    writeU32(kBigClassTag | classIndex);
  }
  return m_nextIndex++;
}

void ArchiveWriter::writeObjectReference(uint32_t index) {
  if (index < kBigObjectTag) {
    writeU16(static_cast<uint16_t>(index));
  } else {
    writeU16(kBigObjectTag);
    writeU32(index);
  }
}

uint32_t ArchiveWriter::writeObject(const ArchiveObject& object) {
  const uint32_t index = writeNewObjectTag(object.archiveClass());
  object.store(*this);
  return index;
}

}  // namespace vantrel
