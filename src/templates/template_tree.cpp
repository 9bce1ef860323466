// SPDX-License-Identifier: MIT
#include "templates/template_tree.h"

namespace vantrel::templates {

namespace {
constexpr size_t kIndexedVariables = 32;
}

IntegerStep* NodeArena::steps(size_t count) {
  // Programs are short; blocks of many keep the allocations few, and a long
  // program gets a block of its own.
  constexpr size_t kBlock = 256;
  if (count > m_stepsLeft) {
    const size_t size = std::max(count, kBlock);
    m_steps.push_back(std::make_unique_for_overwrite<IntegerStep[]>(size));
    m_stepsNext = m_steps.back().get();
    m_stepsLeft = size;
  }
  IntegerStep* room = m_stepsNext;
  m_stepsNext += count;
  m_stepsLeft -= count;
  return room;
}

uint32_t Template::variable(const std::string& n) {
  if (variables.size() < kIndexedVariables) {
    for (size_t i = 0; i < variables.size(); ++i) {
      if (variables[i] == n) return static_cast<uint32_t>(i);
    }
    variables.push_back(n);
    return static_cast<uint32_t>(variables.size() - 1);
  }
  if (variableIndex.empty()) {
    for (size_t i = variables.size(); i-- > 0;) variableIndex.insert_or_assign(variables[i], static_cast<uint32_t>(i));
  }
  auto [it, added] = variableIndex.try_emplace(n, static_cast<uint32_t>(variables.size()));
  if (added) variables.push_back(n);
  return it->second;
}

void Template::addParameter(const std::string& n) {
  // Each parameter gets its own slot, even a repeated name; a name finds the first.
  if (!variableIndex.empty()) variableIndex.try_emplace(n, static_cast<uint32_t>(variables.size()));
  variables.push_back(n);
  ++parameterCount;
}

bool TemplateSet::add(std::unique_ptr<Template> t) {
  if (m_byName.contains(t->name)) return false;
  t->set = this;
  m_byName.emplace(t->name, t.get());
  m_templates.push_back(std::move(t));
  return true;
}

const Template* TemplateSet::find(std::string_view name) const {
  auto it = m_byName.find(name);
  return it == m_byName.end() ? nullptr : it->second;
}

}  // namespace vantrel::templates
