// SPDX-License-Identifier: MIT
#pragma once
// TemplateValue: one value of the template language: a 32-bit wrapping
// integer, a 64-bit real, a byte string, or (only inside a call frame) a
// reference to another slot of the value stack.
//
// Strings are immutable once made and shared between the values that hold
// them (std::shared_ptr: many slots, frames and provider arguments may hold
// one string, and the last one frees it), so assigning or passing a long
// string never copies its bytes. A value belongs to the rendering that made it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel::templates {

class TemplateValue {
 public:
  enum class Type : uint8_t { Integer = 0, Real = 1, String = 2, Reference = 4 };

  TemplateValue() = default;  // integer 0

  static TemplateValue integer(int32_t v) noexcept {
    TemplateValue value;
    value.m_integer = v;
    return value;
  }
  static TemplateValue real(double v) noexcept {
    TemplateValue value;
    value.m_type = Type::Real;
    value.m_real = v;
    return value;
  }
  static TemplateValue string(std::string_view text);
  static TemplateValue string(std::string&& text);
  static TemplateValue string(const char* text) { return string(std::string_view(text)); }
  static TemplateValue reference(uint32_t slot) noexcept;

  // Makes this value an integer in place.
  void setInteger(int32_t v) noexcept {
    if (m_text) m_text.reset();
    m_type = Type::Integer;
    m_integer = v;
  }

  Type type() const noexcept { return m_type; }
  bool isString() const noexcept { return m_type == Type::String; }
  bool isNumber() const noexcept { return m_type == Type::Integer || m_type == Type::Real; }

  int32_t integerValue() const noexcept { return m_integer; }  // only for Integer
  double realValue() const noexcept { return m_real; }         // only for Real
  uint32_t slot() const noexcept { return m_slot; }            // only for Reference
  std::string_view text() const noexcept;                      // only for String

  // Conversion to an integer, also the truth value: integers as they are,
  // reals truncated toward zero, strings their length.
  int32_t toInteger() const noexcept { return m_type == Type::Integer ? m_integer : otherToInteger(); }
  // Integers and reals as a real; a string as its length.
  double toReal() const noexcept;
  // Appends the printed form: integer "%ld", real "%f", string as its bytes.
  void appendText(std::string& out) const;

 private:
  int32_t otherToInteger() const noexcept;

  Type m_type = Type::Integer;
  union {
    int32_t m_integer = 0;
    double m_real;
    uint32_t m_slot;
  };
  std::shared_ptr<const std::string> m_text;  // String only
};

// Truncation of a real as the language does it; values outside the 32-bit
// range (and NaN) give INT32_MIN, as the processor's own conversion does.
int32_t truncateReal(double v) noexcept;

// The printed form of a real, "%f".
std::string formatReal(double v);

}  // namespace vantrel::templates
