// SPDX-License-Identifier: MIT
#pragma once
// ArchiveObject: a record that the archive codec writes and reads together with
// its class name and schema number (see core/archive.h). A class names itself
// in a static `kArchiveClass` so that a ClassRegistry can make it by name.
// Objects are plain values: no locking of their own.

#include <cstdint>
#include <string_view>

namespace vantrel {

class ArchiveReader;
class ArchiveWriter;

struct ArchiveClass {
  std::string_view name;
  uint16_t schema;
};

class ArchiveObject {
 public:
  virtual ~ArchiveObject() = default;

  virtual ArchiveClass archiveClass() const = 0;
  // Writes the body that follows the object's tag.
  virtual void store(ArchiveWriter& out) const = 0;
  // Reads the body; problems are reported with `in.fail(...)` or simply by
  // reading past the end, and the caller checks `in.ok()`.
  virtual void load(ArchiveReader& in) = 0;
};

}  // namespace vantrel
