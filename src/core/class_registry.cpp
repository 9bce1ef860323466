// SPDX-License-Identifier: MIT
#include "core/class_registry.h"

#include <utility>

namespace vantrel {

void ClassRegistry::add(std::string name, uint16_t schema, Factory factory) {
  for (Entry& entry : m_entries) {
    if (entry.name == name) {
      entry.schema = schema;
      entry.factory = std::move(factory);
      return;
    }
  }
  m_entries.push_back(Entry{std::move(name), schema, std::move(factory)});
}

const ClassRegistry::Entry* ClassRegistry::find(std::string_view name) const {
  for (const Entry& entry : m_entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace vantrel
