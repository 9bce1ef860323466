// SPDX-License-Identifier: MIT
#pragma once
// The integer form of an expression: for a tree made only of integer
// literals, variables and the operators that compute on integers alone
// (+ - * / % comparisons && || ! and the signs), a postfix program over
// 32-bit integers that the interpreter runs without making a TemplateValue
// or recursing over the tree. The parser makes it once, where an expression
// is read for its integer (conditions, operands of logic, right sides of
// assignments); the tree stays beside it.
//
// Nothing in such an expression has an effect. So when the program cannot
// finish (a variable it reads holds no integer, a division by zero whose
// message the tree writes), the interpreter evaluates the tree from the
// start instead and gets the same result and messages.
//
// A program lives in the NodeArena of its tree and is only read while running,
// so renderings may run it at once. Thread-safe: no shared state.

#include <cstddef>
#include <cstdint>

#include "templates/template_limits.h"

namespace vantrel::templates {

class NodeArena;
struct Node;
class TemplateValue;

// A binary operation comes in three forms: its right operand popped from the
// stack, read from a variable, or the literal in the step. Keep the groups of
// three together: the compiler picks a form by adding 1 or 2 to the first.
enum class IntegerOp : uint8_t {
  End,       // the result is the value on top
  Variable,  // push a variable
  Literal,   // push the operand
  Negate,
  Not,
  Add, AddVariable, AddLiteral,
  Subtract, SubtractVariable, SubtractLiteral,
  Multiply, MultiplyVariable, MultiplyLiteral,
  Divide, DivideVariable, DivideLiteral,
  Modulo, ModuloVariable, ModuloLiteral,
  LessEqual, LessEqualVariable, LessEqualLiteral,
  GreaterEqual, GreaterEqualVariable, GreaterEqualLiteral,
  NotEqual, NotEqualVariable, NotEqualLiteral,
  Less, LessVariable, LessLiteral,
  Greater, GreaterVariable, GreaterLiteral,
  Equal, EqualVariable, EqualLiteral,
  And, AndVariable, AndLiteral,
  Or, OrVariable, OrLiteral,
};

// Trivial, so that the arena's blocks of them need no clearing.
struct IntegerStep {
  IntegerOp op;
  int32_t operand;  // a variable's index, or the literal
};

// Values a program may hold at once; deeper programs are not made (the
// expression depth bound keeps every parsed expression below it).
inline constexpr size_t kIntegerStackDepth = kMaxExpressionDepth + 1;

// Whether an expression node computes on integers alone, given that its
// operands do; the parser records it in each node as it builds the tree.
bool computesOnIntegers(const Node& n);

// The program for n, kept in arena, or nullptr when n is not integerOnly.
const IntegerStep* compileInteger(const Node& n, NodeArena& arena);

// Runs code in the frame whose variable i is frame[i] (i < count), with
// references resolved in stack. Returns false, with out unchanged, when the
// tree must decide.
bool runInteger(const IntegerStep* code, const TemplateValue* frame, size_t count, const TemplateValue* stack,
                int32_t& out);

}  // namespace vantrel::templates
