// SPDX-License-Identifier: MIT
#include "templates/template_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace vantrel::templates {

TemplateValue TemplateValue::string(std::string_view text) { return string(std::string(text)); }

TemplateValue TemplateValue::string(std::string&& text) {
  TemplateValue value;
  value.m_type = Type::String;
  value.m_real = 0;
  value.m_text = std::make_shared<const std::string>(std::move(text));
  return value;
}

TemplateValue TemplateValue::reference(uint32_t slot) noexcept {
  TemplateValue value;
  value.m_type = Type::Reference;
  value.m_slot = slot;
  return value;
}

std::string_view TemplateValue::text() const noexcept {
  return m_text ? std::string_view(*m_text) : std::string_view();
}

int32_t truncateReal(double v) noexcept {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t TemplateValue::otherToInteger() const noexcept {
  switch (m_type) {
    case Type::Integer:
      return m_integer;
    case Type::Real:
      return truncateReal(m_real);
    case Type::String:
      return static_cast<int32_t>(text().size());
    case Type::Reference:
      break;
  }
  return 0;
}

double TemplateValue::toReal() const noexcept {
  switch (m_type) {
    case Type::Integer:
      return m_integer;
    case Type::Real:
      return m_real;
    case Type::String:
      return static_cast<double>(text().size());
    case Type::Reference:
      break;
  }
  return 0;
}

std::string formatReal(double v) {
  // "%f" of the largest double has 309 digits before the point.
  char buffer[400];
  const int n = std::snprintf(buffer, sizeof buffer, "%f", v);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

void TemplateValue::appendText(std::string& out) const {
  switch (m_type) {
    case Type::Integer: {
      char buffer[16];
      auto end = std::to_chars(buffer, buffer + sizeof buffer, m_integer).ptr;
      out.append(buffer, end);
      return;
    }
    case Type::Real:
      out += formatReal(m_real);
      return;
    case Type::String:
      out += text();
      return;
    case Type::Reference:
      break;
  }
}

}  // namespace vantrel::templates
