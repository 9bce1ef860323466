// SPDX-License-Identifier: MIT
#include "templates/template_operators.h"

#include <cstdio>
#include <string_view>

namespace vantrel::templates {
namespace {

using Type = TemplateValue::Type;

// Integer results wrap around in 32 bits: compute unsigned, then convert.
int32_t wrap(uint32_t v) { return static_cast<int32_t>(v); }

// A reference never reaches an operator; if one did, say so where a
// developer looks and leave the operand as it was.
bool unusable(const TemplateValue& v, const char* message) {
  if (v.type() != Type::Reference) return false;
  std::fputs(message, stdout);
  std::fputc('\n', stdout);
  return true;
}

const char* messageFor(NodeCode op) {
  switch (op) {
    case NodeCode::Add:
      return " cannot perform add ";
    case NodeCode::Subtract:
      return " cannot perform subtract ";
    case NodeCode::Multiply:
      return " cannot perform multiply ";
    case NodeCode::Divide:
      return " cannot perform divide ";
    case NodeCode::Modulo:
      return " cannot perform modulo ";
    case NodeCode::Equal:
    case NodeCode::NotEqual:
      return " cannot perform equality ";
    default:
      return " cannot perform comparison ";
  }
}

}  // namespace

TemplateValue arithmetic(NodeCode op, const TemplateValue& left, const TemplateValue& right, bool& divisionByZero) {
  if (unusable(left, messageFor(op)) || unusable(right, messageFor(op))) return left;
  if (left.type() == Type::Real && op != NodeCode::Modulo) {
    const double a = left.realValue();
    const double b = right.toReal();
    switch (op) {
      case NodeCode::Add:
        return TemplateValue::real(a + b);
      case NodeCode::Subtract:
        return TemplateValue::real(a - b);
      case NodeCode::Multiply:
        return TemplateValue::real(a * b);
      default:
        return TemplateValue::real(a / b);  // IEEE rules, division by zero included
    }
  }
  const int32_t a = left.toInteger();
  const int32_t b = right.toInteger();
  const auto ua = static_cast<uint32_t>(a);
  const auto ub = static_cast<uint32_t>(b);
  switch (op) {
    case NodeCode::Add:
      return TemplateValue::integer(wrap(ua + ub));
    case NodeCode::Subtract:
      return TemplateValue::integer(wrap(ua - ub));
    case NodeCode::Multiply:
      return TemplateValue::integer(wrap(ua * ub));
    case NodeCode::Divide:
    case NodeCode::Modulo:
      if (b == 0) {
        divisionByZero = true;
        return TemplateValue::integer(0);
      }
      if (b == -1) {  // INT32_MIN / -1 wraps; its remainder is 0
        return TemplateValue::integer(op == NodeCode::Divide ? wrap(0u - ua) : 0);
      }
      return TemplateValue::integer(op == NodeCode::Divide ? a / b : a % b);
    default:
      return left;
  }
}

int32_t comparison(NodeCode op, const TemplateValue& left, const TemplateValue& right) {
  if (unusable(left, messageFor(op)) || unusable(right, messageFor(op))) return 0;
  int order = 0;  // <0, 0, >0; for reals "unordered" makes every test below false
  bool unordered = false;
  if (left.isString() && right.isString()) {
    // char_traits<char> compares bytes as unsigned char.
    const int c = left.text().compare(right.text());
    order = c < 0 ? -1 : c > 0 ? 1 : 0;
  } else {
    const double a = left.toReal();
    const double b = right.toReal();
    if (a < b) {
      order = -1;
    } else if (a > b) {
      order = 1;
    } else if (a != b) {
      unordered = true;
    }
  }
  switch (op) {
    case NodeCode::LessEqual:  // not greater
      return unordered || order <= 0 ? 1 : 0;
    case NodeCode::GreaterEqual:  // not less
      return unordered || order >= 0 ? 1 : 0;
    case NodeCode::NotEqual:
      return unordered || order != 0 ? 1 : 0;
    case NodeCode::Less:
      return !unordered && order < 0 ? 1 : 0;
    case NodeCode::Greater:
      return !unordered && order > 0 ? 1 : 0;
    default:  // Equal
      return !unordered && order == 0 ? 1 : 0;
  }
}

TemplateValue unarySign(NodeCode op, const TemplateValue& v) {
  if (unusable(v, op == NodeCode::Add ? " cannot positivize " : " cannot negitivize ")) return v;
  if (op == NodeCode::Add) {
    return v.isString() ? TemplateValue::integer(v.toInteger()) : v;
  }
  if (v.type() == Type::Real) return TemplateValue::real(-v.realValue());
  return TemplateValue::integer(wrap(0u - static_cast<uint32_t>(v.toInteger())));
}

TemplateValue stepped(const TemplateValue& v, int delta) {
  if (unusable(v, delta > 0 ? " cannot perform increment " : " cannot perform decrement ")) return v;
  if (v.type() == Type::Real) return TemplateValue::real(v.realValue() + delta);
  return TemplateValue::integer(wrap(static_cast<uint32_t>(v.toInteger()) + static_cast<uint32_t>(delta)));
}

}  // namespace vantrel::templates
