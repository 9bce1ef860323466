// SPDX-License-Identifier: MIT
#include "templates/integer_code.h"

#include <algorithm>
#include <array>
#include <utility>

#include "templates/template_tree.h"

namespace vantrel::templates {
namespace {

// The first op of the three forms of each binary operator by node code; End
// for any other code. A table: the parser asks for every node it makes.
constexpr auto kBinaryOps = [] {
  std::array<IntegerOp, 256> ops{};
  const std::pair<NodeCode, IntegerOp> pairs[] = {
      {NodeCode::Add, IntegerOp::Add},
      {NodeCode::Subtract, IntegerOp::Subtract},
      {NodeCode::Multiply, IntegerOp::Multiply},
      {NodeCode::Divide, IntegerOp::Divide},
      {NodeCode::Modulo, IntegerOp::Modulo},
      {NodeCode::LessEqual, IntegerOp::LessEqual},
      {NodeCode::GreaterEqual, IntegerOp::GreaterEqual},
      {NodeCode::NotEqual, IntegerOp::NotEqual},
      {NodeCode::Less, IntegerOp::Less},
      {NodeCode::Greater, IntegerOp::Greater},
      {NodeCode::Equal, IntegerOp::Equal},
      {NodeCode::And, IntegerOp::And},
      {NodeCode::Or, IntegerOp::Or},
  };
  for (const auto& [code, op] : pairs) ops[static_cast<uint8_t>(code)] = op;
  return ops;
}();

IntegerOp binaryOp(NodeCode code) { return kBinaryOps[static_cast<uint8_t>(code)]; }

IntegerOp form(IntegerOp first, int offset) { return static_cast<IntegerOp>(static_cast<int>(first) + offset); }

bool integerOperand(const Operand& op) {
  switch (op.kind) {
    case Operand::Kind::Variable:
      return true;
    case Operand::Kind::Literal:
      return op.literal->type() == TemplateValue::Type::Integer;
    case Operand::Kind::Node:
      return op.node->integerOnly;
    case Operand::Kind::None:
      break;
  }
  return false;
}

// Writes the steps of a tree into room for capacity of them, and counts them
// (those beyond the room too) and the stack they need.
class Emitter {
 public:
  Emitter(IntegerStep* out, size_t capacity) : m_out(out), m_capacity(capacity) {}

  void node(const Node& n) {
    const IntegerOp binary = binaryOp(n.code);
    if (binary != IntegerOp::End && !n.second.empty()) {
      operand(n.second);  // the left operand
      const Operand& right = n.first;
      switch (right.kind) {
        case Operand::Kind::Variable:
          return step(form(binary, 1), static_cast<int32_t>(right.variable));
        case Operand::Kind::Literal:
          return step(form(binary, 2), right.literal->integerValue());
        case Operand::Kind::Node:
        case Operand::Kind::None:
          operand(right);
          --m_height;
          return step(binary, 0);
      }
    }
    operand(n.first);  // signs and "!"
    if (n.code == NodeCode::Subtract) step(IntegerOp::Negate, 0);
    if (n.code == NodeCode::Not) step(IntegerOp::Not, 0);
  }

  void operand(const Operand& op) {
    switch (op.kind) {
      case Operand::Kind::Variable:
        push(IntegerOp::Variable, static_cast<int32_t>(op.variable));
        return;
      case Operand::Kind::Literal:
        push(IntegerOp::Literal, op.literal->integerValue());
        return;
      case Operand::Kind::Node:
        node(*op.node);
        return;
      case Operand::Kind::None:
        return;  // not reached: only integerOnly trees come here
    }
  }

  void step(IntegerOp op, int32_t operand) {
    if (m_steps < m_capacity) m_out[m_steps] = IntegerStep{op, operand};
    ++m_steps;
  }

  size_t steps() const { return m_steps; }
  size_t depth() const { return m_depth; }

 private:
  void push(IntegerOp op, int32_t operand) {
    step(op, operand);
    m_depth = std::max(m_depth, ++m_height);
  }

  IntegerStep* m_out;
  size_t m_capacity;
  size_t m_steps = 0;
  size_t m_height = 0;
  size_t m_depth = 0;
};

// Division as the tree computes it on integers; false for a zero divisor,
// whose message the tree writes.
bool divide(int32_t& a, int32_t b, bool remainder) {
  if (b == 0) return false;
  if (b == -1) {  // INT32_MIN / -1 wraps; its remainder is 0
    a = remainder ? 0 : static_cast<int32_t>(0u - static_cast<uint32_t>(a));
  } else {
    a = remainder ? a % b : a / b;
  }
  return true;
}

int32_t wrapped(uint32_t v) { return static_cast<int32_t>(v); }

}  // namespace

bool computesOnIntegers(const Node& n) {
  if (binaryOp(n.code) != IntegerOp::End && !n.second.empty()) {
    return integerOperand(n.first) && integerOperand(n.second);
  }
  switch (n.code) {
    case NodeCode::Add:  // the signs
    case NodeCode::Subtract:
    case NodeCode::Not:
      return integerOperand(n.first);
    default:
      return false;
  }
}

const IntegerStep* compileInteger(const Node& n, NodeArena& arena) {
  if (!n.integerOnly) return nullptr;
  // Most programs are short: written here first, then copied into the arena;
  // a longer one is written again into room of its measured size.
  std::array<IntegerStep, 32> local;
  Emitter first(local.data(), local.size());
  first.node(n);
  first.step(IntegerOp::End, 0);
  if (first.depth() > kIntegerStackDepth) return nullptr;
  IntegerStep* code = arena.steps(first.steps());
  if (first.steps() <= local.size()) {
    std::copy_n(local.data(), first.steps(), code);
  } else {
    Emitter again(code, first.steps());
    again.node(n);
    again.step(IntegerOp::End, 0);
  }
  return code;
}

bool runInteger(const IntegerStep* code, const TemplateValue* frame, size_t count, const TemplateValue* stack,
                int32_t& out) {
  // The value on top is kept in acc, the ones below it in values (values[0]
  // is never one), so that most steps touch no memory but their operand.
  std::array<int32_t, kIntegerStackDepth + 1> values;
  int32_t* below = values.data();
  int32_t acc = 0;
  auto read = [&](int32_t index, int32_t& v) {
    const auto i = static_cast<uint32_t>(index);
    if (i >= count) return false;
    const TemplateValue* value = frame + i;
    if (value->type() != TemplateValue::Type::Integer) {
      if (value->type() != TemplateValue::Type::Reference) return false;
      value = stack + value->slot();
      if (value->type() != TemplateValue::Type::Integer) return false;
    }
    v = value->integerValue();
    return true;
  };
  // Each step jumps straight to the code of the next (one indirect jump per
  // op, rather than one shared by all): the labels in the order of IntegerOp.
#define VANTREL_INTEGER_LABELS(name) &&name, &&name##Variable, &&name##Literal
  static constexpr void* kOps[] = {
      &&End, &&Variable, &&Literal, &&Negate, &&Not,
      VANTREL_INTEGER_LABELS(Add), VANTREL_INTEGER_LABELS(Subtract), VANTREL_INTEGER_LABELS(Multiply),
      VANTREL_INTEGER_LABELS(Divide), VANTREL_INTEGER_LABELS(Modulo), VANTREL_INTEGER_LABELS(LessEqual),
      VANTREL_INTEGER_LABELS(GreaterEqual), VANTREL_INTEGER_LABELS(NotEqual), VANTREL_INTEGER_LABELS(Less),
      VANTREL_INTEGER_LABELS(Greater), VANTREL_INTEGER_LABELS(Equal), VANTREL_INTEGER_LABELS(And),
      VANTREL_INTEGER_LABELS(Or),
  };
#undef VANTREL_INTEGER_LABELS
  static_assert(std::size(kOps) == static_cast<size_t>(IntegerOp::OrLiteral) + 1);
  const IntegerStep* s = code;
#define VANTREL_INTEGER_NEXT goto* kOps[static_cast<size_t>((++s)->op)]
  // A binary operator in its three forms: left operand a, right b, result in acc.
#define VANTREL_INTEGER_BINARY(name, ...)   \
  name : {                                  \
    const int32_t b = acc;                  \
    int32_t a = *below--;                   \
    __VA_ARGS__;                            \
    acc = a;                                \
    VANTREL_INTEGER_NEXT;                   \
  }                                         \
  name##Variable : {                        \
    int32_t b = 0;                          \
    if (!read(s->operand, b)) return false; \
    int32_t a = acc;                        \
    __VA_ARGS__;                            \
    acc = a;                                \
    VANTREL_INTEGER_NEXT;                   \
  }                                         \
  name##Literal : {                         \
    const int32_t b = s->operand;           \
    int32_t a = acc;                        \
    __VA_ARGS__;                            \
    acc = a;                                \
    VANTREL_INTEGER_NEXT;                   \
  }
  goto* kOps[static_cast<size_t>(s->op)];
End:
  out = acc;
  return true;
Variable:
  *++below = acc;
  if (!read(s->operand, acc)) return false;
  VANTREL_INTEGER_NEXT;
Literal:
  *++below = acc;
  acc = s->operand;
  VANTREL_INTEGER_NEXT;
Negate:
  acc = wrapped(0u - static_cast<uint32_t>(acc));
  VANTREL_INTEGER_NEXT;
Not:
  acc = acc == 0 ? 1 : 0;
  VANTREL_INTEGER_NEXT;
  VANTREL_INTEGER_BINARY(Add, a = wrapped(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)))
  VANTREL_INTEGER_BINARY(Subtract, a = wrapped(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)))
  VANTREL_INTEGER_BINARY(Multiply, a = wrapped(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)))
  VANTREL_INTEGER_BINARY(Divide, if (!divide(a, b, false)) return false)
  VANTREL_INTEGER_BINARY(Modulo, if (!divide(a, b, true)) return false)
  VANTREL_INTEGER_BINARY(LessEqual, a = a <= b)
  VANTREL_INTEGER_BINARY(GreaterEqual, a = a >= b)
  VANTREL_INTEGER_BINARY(NotEqual, a = a != b)
  VANTREL_INTEGER_BINARY(Less, a = a < b)
  VANTREL_INTEGER_BINARY(Greater, a = a > b)
  VANTREL_INTEGER_BINARY(Equal, a = a == b)
  VANTREL_INTEGER_BINARY(And, a = a != 0 && b != 0)
  VANTREL_INTEGER_BINARY(Or, a = a != 0 || b != 0)
#undef VANTREL_INTEGER_BINARY
#undef VANTREL_INTEGER_NEXT
}

}  // namespace vantrel::templates
