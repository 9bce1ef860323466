// SPDX-License-Identifier: MIT
#pragma once
// The framework archive encoding that the client's data files use: the
// shared-file list, the page archive, the contest file and the group cache.
//
// Little-endian integers; counts as 16 bits, or 0xFFFF and 32 bits; strings as
// a length byte up to 254, or 0xFF and 16 bits, or 0xFF 0xFFFF and 32 bits for
// lengths above 0xFFFD, then the bytes. Objects are written with their class:
// 0xFFFF, schema, name length, name the first time a class appears, then
// 0x8000 | class index; index 0 is "no object", a class takes the next index
// when it is announced and every object the one after; an object written a
// second time is a reference to its index; indexes past 0x7FFE go as 0x7FFF
// followed by 32 bits (with the top bit for classes).
//
// ArchiveWriter appends to a byte buffer it owns. ArchiveReader reads a span
// that must outlive it; it never throws: the first problem is kept as an
// ArchiveError, every read after it returns zero or empty, and callers check
// ok() once their loop ends. Every length and count is checked against the
// bytes that remain before anything is allocated for it.
// Neither class is thread-safe; each belongs to one save or one load.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/archive_object.h"

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

// Classes that may appear in an archive, with the factory that makes an empty
// object of each. Fill it before reading; entries keep their address.
class ClassRegistry {
 public:
  using Factory = std::function<std::unique_ptr<ArchiveObject>()>;
  struct Entry {
    std::string name;
    uint16_t schema;
    Factory factory;
  };

  void add(std::string name, uint16_t schema, Factory factory);
  template <class T>
  void add() {
    add(std::string(T::kArchiveClass.name), T::kArchiveClass.schema, [] { return std::make_unique<T>(); });
  }
  const Entry* find(std::string_view name) const;

 private:
  std::deque<Entry> m_entries;
};

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
  // The object with its class tag and body; one this writer wrote before (the
  // same address) becomes a reference to it.
  void writeObject(const ArchiveObject& object);
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
  std::unordered_map<const ArchiveObject*, uint32_t> m_objects;
};

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
