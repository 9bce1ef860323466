// SPDX-License-Identifier: MIT
#pragma once
// ArchiveReader: reads an archive (see core/archive.h) from a span that must
// outlive it. It never throws: the first problem is kept as an ArchiveError,
// every read after it returns zero or empty, and callers check ok() once their
// loop ends. Every length and count is checked against the bytes that remain
// before anything is allocated for it. One reader per load; not thread-safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive_object.h"
#include "core/class_registry.h"

namespace vantrel {

// What was wrong with an archive; everything but None means it is malformed.
enum class ArchiveError {
  None = 0,
  Truncated,     // the data ended inside a value
  BadLength,     // a length or count larger than the bytes that remain
  BadTag,        // an object tag where none may stand, or an unsupported marker
  UnknownClass,  // a class name the reader does not know
  BadSchema,     // a known class with another schema number
  WrongClass,    // an object of a class the caller did not ask for
  BadIndex,      // a reference to an index that was never assigned, or to the wrong kind
  TooDeep,       // objects nested past kMaxObjectNesting
};

// A short English description, for "Archive Exception: ... : %s" texts.
std::string_view archiveErrorText(ArchiveError error);

class ArchiveReader {
 public:
  static constexpr int kMaxObjectNesting = 64;

  // How an object reference was written.
  struct ObjectTag {
    enum class Kind { Null, New, Reference } kind = Kind::Null;
    const ClassRegistry::Entry* cls = nullptr;  // class of a new object
    uint32_t index = 0;                         // object index (new or referred to)
  };

  // `classes` (optional) must outlive the reader; without it every class is unknown.
  explicit ArchiveReader(std::span<const uint8_t> data, const ClassRegistry* classes = nullptr);

  uint8_t readU8();
  uint16_t readU16();
  uint32_t readU32();
  int32_t readI32() { return static_cast<int32_t>(readU32()); }
  // `n` bytes as a view into the data (empty on failure).
  std::span<const uint8_t> readBytes(std::size_t n);
  // A count whose elements take at least `minElementBytes` each.
  uint32_t readCount(std::size_t minElementBytes = 1);
  std::string readString();
  // Fails with BadLength unless `count` elements of `minElementBytes` can still follow.
  bool requireElements(uint64_t count, std::size_t minElementBytes);

  // The tag of an object reference: assigns the indexes a new class and a new
  // object take, and checks classes, schemas and references.
  ObjectTag readObjectTag();
  // A whole object: a new one is made by its class's factory and loaded; the
  // null reference and references to earlier objects give nullptr (see `tag`).
  // The reader keeps no pointer to what it hands out.
  std::unique_ptr<ArchiveObject> readObject(ObjectTag* tag = nullptr);
  // A new object of class T; anything else fails.
  template <class T>
  std::unique_ptr<T> readNew() {
    ObjectTag tag;
    std::unique_ptr<ArchiveObject> object = readObject(&tag);
    if (!ok()) return nullptr;
    if (tag.kind != ObjectTag::Kind::New) {
      fail(tag.kind == ObjectTag::Kind::Null ? ArchiveError::BadTag : ArchiveError::BadIndex);
      return nullptr;
    }
    T* typed = dynamic_cast<T*>(object.get());
    if (typed == nullptr) {
      fail(ArchiveError::WrongClass);
      return nullptr;
    }
    object.release();
    return std::unique_ptr<T>(typed);
  }

  bool ok() const { return m_error == ArchiveError::None; }
  ArchiveError error() const { return m_error; }
  // Keeps the first error; object bodies use it to reject their own content.
  void fail(ArchiveError error);
  std::size_t position() const { return m_pos; }
  std::size_t remaining() const { return m_data.size() - m_pos; }
  bool atEnd() const { return m_pos == m_data.size(); }

 private:
  struct Slot {
    const ClassRegistry::Entry* cls;
    bool isClass;
  };

  bool need(std::size_t n);
  const ClassRegistry::Entry* readClassHeader();
  uint32_t addSlot(const ClassRegistry::Entry* cls, bool isClass);

  std::span<const uint8_t> m_data;
  std::size_t m_pos = 0;
  ArchiveError m_error = ArchiveError::None;
  const ClassRegistry* m_classes;
  std::vector<Slot> m_slots;  // index -> what it names; slot 0 is "no object"
  int m_depth = 0;
};

}  // namespace vantrel
