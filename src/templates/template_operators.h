// SPDX-License-Identifier: MIT
#pragma once
// The operators of the template language on values: arithmetic with 32-bit
// wrapping integers, comparisons, the unary signs and the "++"/"--" step.
// Concatenation lives in the interpreter, which bounds string sizes.
// Thread-safe: pure functions.

#include <cstdint>

#include "templates/template_tree.h"
#include "templates/template_value.h"

namespace vantrel::templates {

// "+", "-", "*", "/", "%" by the type of the left operand. An integer
// division or remainder by zero yields integer 0 and sets divisionByZero.
TemplateValue arithmetic(NodeCode op, const TemplateValue& left, const TemplateValue& right, bool& divisionByZero);

// "<=", ">=", "!=", "<", ">", "=": 1 or 0.
int32_t comparison(NodeCode op, const TemplateValue& left, const TemplateValue& right);

// Unary "+" (Add) and "-" (Subtract).
TemplateValue unarySign(NodeCode op, const TemplateValue& v);

// v plus or minus one, as "++" and "--" change a variable.
TemplateValue stepped(const TemplateValue& v, int delta);

}  // namespace vantrel::templates
