// SPDX-License-Identifier: MIT
#include "core/archive_reader.h"

#include "core/archive_tags.h"

namespace vantrel {

using namespace archive_tags;

std::string_view archiveErrorText(ArchiveError error) {
  switch (error) {
    case ArchiveError::None:
      return "no error";
    case ArchiveError::Truncated:
      return "unexpected end of archive";
    case ArchiveError::BadLength:
      return "length or count larger than the archive";
    case ArchiveError::BadTag:
      return "invalid object tag";
    case ArchiveError::UnknownClass:
      return "unknown class in archive";
    case ArchiveError::BadSchema:
      return "unexpected schema number";
    case ArchiveError::WrongClass:
      return "object of an unexpected class";
    case ArchiveError::BadIndex:
      return "object index out of range";
    case ArchiveError::TooDeep:
      return "objects nested too deeply";
  }
  return "unknown archive error";
}

ArchiveReader::ArchiveReader(std::span<const uint8_t> data, const ClassRegistry* classes)
    : m_data(data), m_classes(classes) {
  m_slots.push_back(Slot{nullptr, false});
}

void ArchiveReader::fail(ArchiveError error) {
  if (m_error == ArchiveError::None) m_error = error;
}

bool ArchiveReader::need(std::size_t n) {
  if (!ok()) return false;
  if (n > remaining()) {
    fail(ArchiveError::Truncated);
    return false;
  }
  return true;
}

uint8_t ArchiveReader::readU8() {
  if (!need(1)) return 0;
  return m_data[m_pos++];
}

uint16_t ArchiveReader::readU16() {
  if (!need(2)) return 0;
  const uint16_t v = static_cast<uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
  m_pos += 2;
  return v;
}

uint32_t ArchiveReader::readU32() {
  if (!need(4)) return 0;
  const uint32_t v = static_cast<uint32_t>(m_data[m_pos]) | (static_cast<uint32_t>(m_data[m_pos + 1]) << 8) |
                     (static_cast<uint32_t>(m_data[m_pos + 2]) << 16) |
                     (static_cast<uint32_t>(m_data[m_pos + 3]) << 24);
  m_pos += 4;
  return v;
}

std::span<const uint8_t> ArchiveReader::readBytes(std::size_t n) {
  if (!need(n)) return {};
  const auto bytes = m_data.subspan(m_pos, n);
  m_pos += n;
  return bytes;
}

bool ArchiveReader::requireElements(uint64_t count, std::size_t minElementBytes) {
  if (!ok()) return false;
  const uint64_t perElement = minElementBytes == 0 ? 1 : minElementBytes;
  if (count > remaining() / perElement) {
    fail(ArchiveError::BadLength);
    return false;
  }
  return true;
}

uint32_t ArchiveReader::readCount(std::size_t minElementBytes) {
  uint32_t count = readU16();
  if (count == kCountEscape) count = readU32();
  if (!requireElements(count, minElementBytes)) return 0;
  return count;
}

std::string ArchiveReader::readString() {
  uint32_t length = readU8();
  if (length == kStringLongMarker) {
    const uint16_t wide = readU16();
    if (wide == kStringUnicodeMarker) {
      // Strings of the framework's wide-character builds; the client never wrote them.
      fail(ArchiveError::BadTag);
      return {};
    }
    length = wide == kStringHugeMarker ? readU32() : wide;
  }
  if (!requireElements(length, 1)) return {};
  const auto bytes = readBytes(length);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

uint32_t ArchiveReader::addSlot(const ClassRegistry::Entry* cls, bool isClass) {
  if (m_slots.size() > kMaxIndex) {
    fail(ArchiveError::BadIndex);
    return 0;
  }
  m_slots.push_back(Slot{cls, isClass});
  return static_cast<uint32_t>(m_slots.size() - 1);
}

const ClassRegistry::Entry* ArchiveReader::readClassHeader() {
  const uint16_t schema = readU16();
  const uint16_t nameLength = readU16();
  if (!requireElements(nameLength, 1)) return nullptr;
  const auto nameBytes = readBytes(nameLength);
  if (!ok()) return nullptr;
  const std::string_view name(reinterpret_cast<const char*>(nameBytes.data()), nameBytes.size());
  const ClassRegistry::Entry* cls = m_classes != nullptr ? m_classes->find(name) : nullptr;
  if (cls == nullptr) {
    fail(ArchiveError::UnknownClass);
    return nullptr;
  }
  if (cls->schema != schema) {
    fail(ArchiveError::BadSchema);
    return nullptr;
  }
  return cls;
}

ArchiveReader::ObjectTag ArchiveReader::readObjectTag() {
  ObjectTag tag;
  const uint16_t word = readU16();
  if (!ok()) return tag;

  const ClassRegistry::Entry* cls = nullptr;
  if (word == kNewClassTag) {
    cls = readClassHeader();
    if (!ok()) return tag;
    addSlot(cls, true);
  } else {
    uint32_t full = word;
    if (word == kBigObjectTag) {
      full = readU32();
    } else if ((word & kClassTag) != 0) {
      full = kBigClassTag | (word & ~kClassTag);
    }
    if (!ok()) return tag;
    const bool isClassReference = (full & kBigClassTag) != 0;
    const uint32_t index = full & ~kBigClassTag;
    if (!isClassReference && index == kNullTag) return tag;  // the null object
    if (index >= m_slots.size() || m_slots[index].isClass != isClassReference || index == 0) {
      fail(ArchiveError::BadIndex);
      return tag;
    }
    if (!isClassReference) {
      tag.kind = ObjectTag::Kind::Reference;
      tag.cls = m_slots[index].cls;
      tag.index = index;
      return tag;
    }
    cls = m_slots[index].cls;
  }
  tag.kind = ObjectTag::Kind::New;
  tag.cls = cls;
  tag.index = addSlot(cls, false);
  return tag;
}

std::unique_ptr<ArchiveObject> ArchiveReader::readObject(ObjectTag* tagOut) {
  ObjectTag tag = readObjectTag();
  if (tagOut != nullptr) *tagOut = tag;
  if (!ok() || tag.kind != ObjectTag::Kind::New) return nullptr;
  if (m_depth >= kMaxObjectNesting) {
    fail(ArchiveError::TooDeep);
    return nullptr;
  }
  std::unique_ptr<ArchiveObject> object = tag.cls->factory ? tag.cls->factory() : nullptr;
  if (object == nullptr) {
    fail(ArchiveError::UnknownClass);
    return nullptr;
  }
  ++m_depth;
  object->load(*this);
  --m_depth;
  if (!ok()) return nullptr;
  return object;
}

}  // namespace vantrel
