// SPDX-License-Identifier: MIT
#pragma once
// ArchiveWriter: builds an archive in a byte buffer it owns — integers,
// counts, strings and class-tagged objects, as core/archive.h describes.
// One writer per save; not thread-safe.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/archive_object.h"

namespace vantrel {

class ArchiveWriter {
 public:
  void writeU8(uint8_t value);
  void writeU16(uint16_t value);
  void writeU32(uint32_t value);
  void writeI32(int32_t value) { writeU32(static_cast<uint32_t>(value)); }
  void writeBytes(std::span<const uint8_t> bytes);
  void writeCount(uint32_t count);
  void writeString(std::string_view text);

  // The "no object" reference.
  void writeNullObject() { writeU16(0); }
  // The object as a new one, with its class tag and body; returns its index.
  // Writing the same object again writes it again: objects are not matched
  // by address, which a reused temporary would fool. To refer back to one,
  // keep its index and use writeObjectReference.
  uint32_t writeObject(const ArchiveObject& object);
  // For callers that write a body themselves: the tag of a new object of `cls`.
  // Returns the object's index.
  uint32_t writeNewObjectTag(const ArchiveClass& cls);
  // A reference to the object written under `index`.
  void writeObjectReference(uint32_t index);

  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  std::vector<uint8_t> release() { return std::move(m_bytes); }
  void reserve(std::size_t bytes) { m_bytes.reserve(bytes); }

 private:
  std::vector<uint8_t> m_bytes;
  uint32_t m_nextIndex = 1;
  std::vector<std::pair<std::string, uint32_t>> m_classes;  // name -> index; few classes
};

}  // namespace vantrel
