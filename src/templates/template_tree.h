// SPDX-License-Identifier: MIT
#pragma once
// The parse tree of the template language: Template (one parsed template with
// its variables and statement tree) and TemplateSet (the templates of one
// file). Node codes are the token-table indexes of the construct they stand
// for, plus the few codes of their own below.
//
// Nodes live in a NodeArena that owns them (the set's, for a file); operands
// point at nodes of the same arena. A TemplateSet is built by one thread; once
// parsed, any number of renderings may run its templates at once, since running
// only reads it.

#include <cstdint>
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "templates/integer_code.h"
#include "templates/template_token.h"
#include "templates/template_value.h"

namespace vantrel::templates {

enum class NodeCode : uint8_t {
  OutputText = 1, Branch = 2, Alternatives = 4, While = 6, IteratorStep = 8,
  Break = 9, Continue = 10, Return = 11, Exit = 12, SetOutput = 13, TemplateCall = 15, SysCall = 16,
  EnvReference = 17, Param = 18, Substr = 20, Execute = 21, Call = 22,
  Assign = 23, Increment = 24, Decrement = 25,
  LessEqual = 26, GreaterEqual, NotEqual, Less, Greater, Equal, Or, And, Not, Add, Subtract, Multiply, Divide,
  Modulo, Concat,
  ArgumentLink = 43, EnvLink = 46, StatementLink = 47,
};

struct Node;

// An operand slot: nothing, a sub-node, a literal folded into its parent, or
// a variable (its index in the template's variable list).
struct Operand {
  enum class Kind : uint8_t { None, Node, Literal, Variable };
  Kind kind = Kind::None;
  uint32_t variable = 0;
  union {
    const Node* node = nullptr;
    const TemplateValue* literal;  // kept by the arena
  };

  bool empty() const { return kind == Kind::None; }
};

struct Node {
  NodeCode code{};
  bool statementCall = false;  // an env reference that forms a whole statement
  bool prefix = false;         // "++" and "--": the prefix form
  bool integerOnly = false;    // expression nodes: see computesOnIntegers
  bool assigns = false;        // expression nodes: an assignment, "++" or "--" in the tree
  int16_t depth = 0;           // expression nodes: height of the tree below
  // One pointer for two kinds of node, which keeps a file's many nodes small:
  // a "while" is never an expression, and an expression has no step.
  union {
    const Node* step = nullptr;        // "while": the iterator step, run after each pass
    const IntegerStep* integerCode;  // expressions: the integer form, where the expression
                                     // is read for its integer (see integer_code.h)
  };
  Operand first;
  Operand second;
};

// Owns objects in chunks that double in size, so that a small template makes
// few allocations and a large one few chunks. Objects never move.
template <class T>
class Chunks {
 public:
  T* make() {
    if (m_used == m_chunkSize) {
      m_chunkSize = m_chunks.empty() ? 32 : std::min<size_t>(m_chunkSize * 2, 1024);
      if (m_chunks.empty()) m_chunks.reserve(8);
      m_chunks.push_back(std::make_unique<T[]>(m_chunkSize));
      m_used = 0;
    }
    return &m_chunks.back()[m_used++];
  }

 private:
  std::vector<std::unique_ptr<T[]>> m_chunks;
  size_t m_chunkSize = 0;
  size_t m_used = 0;
};

// The nodes, literals and integer programs of one parse: of a whole file, or
// of the code one "execute" runs.
class NodeArena {
 public:
  Node* make() { return m_nodes.make(); }
  const TemplateValue* keep(TemplateValue v) {
    TemplateValue* slot = m_literals.make();
    *slot = std::move(v);
    return slot;
  }
  // Room for a program of count steps, in one piece.
  IntegerStep* steps(size_t count);

 private:
  Chunks<Node> m_nodes;
  Chunks<TemplateValue> m_literals;
  std::vector<std::unique_ptr<IntegerStep[]>> m_steps;
  IntegerStep* m_stepsNext = nullptr;  // unused room at the end of the last block
  size_t m_stepsLeft = 0;
};

class TemplateSet;

struct Template {
  std::string name = "unknown";
  std::vector<std::string> variables;  // parameters first, then in order of first use
  // Index of the variables by name, made once there are many of them; a few
  // are found faster by looking through the list.
  std::unordered_map<std::string, uint32_t> variableIndex;
  uint32_t parameterCount = 0;
  const Node* body = nullptr;  // statement list
  int errorLine = 0;
  std::string errorMessage;
  int endLine = 0;  // line at which the template's lexing run ended
  const TemplateSet* set = nullptr;

  uint32_t variable(const std::string& n);  // index of n, appended when new
  void addParameter(const std::string& n);
};

class TemplateSet {
 public:
  // Adds t unless a template of its name is there; returns whether it was added.
  bool add(std::unique_ptr<Template> t);
  const Template* find(std::string_view name) const;
  size_t size() const { return m_templates.size(); }
  bool empty() const { return m_templates.empty(); }
  // Holds the trees of every template of the set.
  NodeArena& arena() { return m_arena; }

 private:
  NodeArena m_arena;  // declared first: templates point into it
  std::vector<std::unique_ptr<Template>> m_templates;
  std::unordered_map<std::string_view, const Template*> m_byName;
};

}  // namespace vantrel::templates
