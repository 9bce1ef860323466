// SPDX-License-Identifier: MIT
#pragma once
// ClassRegistry: the classes an archive reader may meet, by name, with their
// schema number and the factory that makes an empty object of each. Filled
// before reading and then only read, so one registry may serve many readers
// on many threads; entries keep their address.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/archive_object.h"

namespace vantrel {

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

}  // namespace vantrel
