// SPDX-License-Identifier: MIT
// The tree-walking evaluator. Recursion follows the tree, whose depth the
// parser bounds, and template calls, which the call depth bounds.
#include "templates/template_interpreter.h"

#include <memory>
#include <string>
#include <vector>

#include "templates/template_operators.h"
#include "templates/template_parser.h"

namespace vantrel::templates {
namespace {

enum class State : uint8_t { Normal, Break, Continue, Return, Exit };

// Wraps the sink in use so that a refusal (a full page) stops the run even
// when a provider did the writing.
class GuardedSink : public OutputSink {
 public:
  GuardedSink(OutputSink& inner, bool& refused) : m_inner(inner), m_refused(refused) {}
  bool Write(std::string_view bytes) override {
    if (m_refused) return false;
    if (!m_inner.Write(bytes)) m_refused = true;
    return !m_refused;
  }

 private:
  OutputSink& m_inner;
  bool& m_refused;
};

class Interpreter {
 public:
  Interpreter(DataProvider* env, OutputSink& out, AlternateOutputs* alternates, const RunLimits& limits)
      : m_env(env),
        m_alternates(alternates),
        m_limits(limits),
        m_topSink(out, m_refused),
        m_out(&m_topSink),
        m_stepsLeft(limits.maxSteps != 0 ? limits.maxSteps : UINT64_MAX) {
    m_stack.reserve(16);
  }

  void run(const Template& t) { callTemplate(t, 0); }

 private:
  struct ExecuteCopy {
    std::unique_ptr<Template> copy;
    int depth;  // the call that made it; dropped when that call ends
  };

  // --- output ---

  void write(std::string_view bytes) {
    if (!m_out->Write(bytes)) m_state = State::Exit;
  }

  [[gnu::noinline]] void writeValue(const TemplateValue& v) {
    switch (v.type()) {
      case TemplateValue::Type::Integer:
      case TemplateValue::Type::Real: {
        std::string text;
        v.appendText(text);
        write(text);
        return;
      }
      case TemplateValue::Type::String:
        write(v.text());
        return;
      case TemplateValue::Type::Reference:
        break;
    }
    write(" unexpected var type ");
  }

  // Stops the run with a message: for the bounds that keep a page from
  // taking the process down with it.
  [[gnu::noinline]] void stop(std::string_view message) {
    write(message);
    m_state = State::Exit;
  }

  // --- variables ---

  uint32_t slotOf(uint32_t variable) {
    const size_t slot = size_t{m_frame} + variable;
    if (slot >= m_stack.size()) resizeStack(slot + 1);  // not reached: frames have their slots
    const TemplateValue& v = m_stack[slot];
    return v.type() == TemplateValue::Type::Reference ? v.slot() : static_cast<uint32_t>(slot);
  }

  // The slot of a variable of the running frame, through its reference.
  TemplateValue& variable(uint32_t index) {
    if (index >= m_frameSlots) return m_void;  // not reached: frames hold their variables
    TemplateValue& v = m_frameBase[index];
    return v.type() == TemplateValue::Type::Reference ? m_stack[v.slot()] : v;
  }

  bool growStack(size_t size) {
    if (size > m_limits.maxStackSlots) {
      stop(kStackLimitReached);
      return false;
    }
    if (size > m_stack.size()) resizeStack(size);
    return true;
  }

  // Every change of the stack's size or of the running frame goes through
  // these two, which keep m_frameBase and m_frameSlots in step: a stale base
  // would point into freed memory once the stack moves.
  void resizeStack(size_t size) {
    m_stack.resize(size);
    m_frameBase = m_stack.data() + m_frame;
    m_frameSlots = m_stack.size() - m_frame;
  }
  void setFrame(uint32_t frame) {
    m_frame = frame;
    m_frameBase = m_stack.data() + m_frame;
    m_frameSlots = m_stack.size() - m_frame;
  }

  // --- statements ---
  // The rare statements and expressions are kept out of line: runList,
  // runStatement, runIf and evalNode recurse with every nesting level, so
  // their frames must stay small (see kRenderStackBytes).

  bool countStep() {
    if (m_stepsLeft == 0) [[unlikely]] {
      stop(kStepLimitReached);
      return false;
    }
    --m_stepsLeft;
    return true;
  }

  void runList(const Node* list) { runStatements(list); }

  // The body of runList, also written out in the loop of runWhile so that a
  // pass makes no call of its own.
  [[gnu::always_inline]] void runStatements(const Node* list) {
    for (const Node* link = list; link != nullptr; link = link->second.node) {
      if (!countStep()) return;
      if (quickStatement(link->first)) continue;
      runStatement(link->first);
      if (m_refused) m_state = State::Exit;  // the page is full, whoever wrote last
      if (m_state != State::Normal) return;
    }
  }

  // Runs s when it is an assignment of an integer or "++"/"--" of a variable
  // holding one: the commonest statements of a loop, which can neither write
  // nor stop the run, so they skip the general dispatch and the checks after
  // it. False, with nothing done, for any other statement.
  bool quickStatement(const Operand& s) {
    if (s.kind != Operand::Kind::Node) return false;
    const Node* n = s.node;
    switch (n->code) {
      case NodeCode::Assign: {
        int32_t value = 0;
        if (!integerOf(n->first, value)) return false;
        variable(n->second.variable).setInteger(value);
        return true;
      }
      case NodeCode::Increment:
      case NodeCode::Decrement: {
        TemplateValue& v = variable(n->first.variable);
        if (v.type() != TemplateValue::Type::Integer) return false;
        const uint32_t delta = n->code == NodeCode::Increment ? 1u : ~0u;
        v.setInteger(static_cast<int32_t>(static_cast<uint32_t>(v.integerValue()) + delta));
        return true;
      }
      default:
        return false;
    }
  }

  void runStatement(const Operand& s) {
    if (s.kind != Operand::Kind::Node) {
      writeValue(eval(s));
      return;
    }
    const Node* n = s.node;
    switch (n->code) {
      case NodeCode::OutputText:
        write(n->first.literal->text());
        return;
      case NodeCode::Branch:
      case NodeCode::Alternatives:
        runIf(n);
        return;
      case NodeCode::While:
        runWhile(n);
        return;
      case NodeCode::Break:
        m_state = State::Break;
        return;
      case NodeCode::Continue:
        m_state = State::Continue;
        return;
      case NodeCode::Return:
        m_state = State::Return;
        return;
      case NodeCode::Exit:
        m_state = State::Exit;
        return;
      case NodeCode::SetOutput:
        runSetOutput(n);
        return;
      case NodeCode::TemplateCall:
        runCall(n->first.node);
        return;
      case NodeCode::SysCall:
        write(" sys commands disabled ");
        return;
      case NodeCode::EnvReference:
        (void)evalEnv(n, n->statementCall);
        return;
      case NodeCode::Execute:
        runExecute(n);
        return;
      case NodeCode::Assign:
        (void)assign(n);
        return;
      case NodeCode::Increment:
      case NodeCode::Decrement:
        (void)step(n);
        return;
      case NodeCode::IteratorStep:
        discard(n->first);
        return;
      default:
        if (n->code == NodeCode::Param || n->code == NodeCode::Substr ||
            (n->code >= NodeCode::LessEqual && n->code <= NodeCode::Concat)) {
          TemplateValue value;
          evalNode(n, value);
          writeValue(value);
          return;
        }
        write(" unexpected branch operator ");
        return;
    }
  }

  void runIf(const Node* n) {
    if (n->code == NodeCode::Branch) {
      if (truth(n->first)) runList(n->second.node);
      return;
    }
    for (const Node* alt = n; alt != nullptr;) {
      const Node* branch = alt->first.node;
      if (truth(branch->first)) {
        runList(branch->second.node);
        return;
      }
      if (m_state != State::Normal) return;
      const Node* next = alt->second.node;
      if (next != nullptr && next->code != NodeCode::Alternatives) {
        runList(next);  // the "else" statements
        return;
      }
      alt = next;
    }
  }

  void runWhile(const Node* n) {
    for (int passes = 0;; ++passes) {
      if (passes >= kLoopBudget) {
        write(" while iteration max reached ");
        return;
      }
      if (!countStep()) return;
      if (!truth(n->first) || m_state != State::Normal) return;
      runStatements(n->second.node);
      if (m_state != State::Normal) {  // "break", "continue", "return" or "exit" in the body
        if (m_state != State::Continue) {
          if (m_state == State::Break) m_state = State::Normal;
          return;
        }
        m_state = State::Normal;
      }
      if (n->step != nullptr && !quickStatement(n->step->first)) {
        discard(n->step->first);
        if (m_state != State::Normal) return;
      }
    }
  }

  [[gnu::noinline]] void runSetOutput(const Node* n) {
    if (m_alternates == nullptr) {
      write(" no alternate outputs specified ");
      return;
    }
    const Node* call = n->first.node;
    const std::vector<TemplateValue> args = evalArgs(call);
    const std::string_view name = call->second.literal->text();
    std::unique_ptr<OutputSink> sink = m_alternates->Open(name, *m_out, args);
    if (!sink) {
      write(std::string(" output \"").append(name).append("\" not known "));
      return;
    }
    GuardedSink guarded(*sink, m_refused);
    OutputSink* previous = m_out;
    m_out = &guarded;
    runList(n->second.node);
    m_out = previous;
  }

  [[gnu::noinline]] void runCall(const Node* call) {
    const size_t top = m_stack.size();
    for (const Node* link = call->first.node; link != nullptr; link = link->second.node) {
      const Operand& arg = link->first;
      // A variable goes by reference, so the called template can change it.
      TemplateValue v = arg.kind == Operand::Kind::Variable ? TemplateValue::reference(slotOf(arg.variable)) : eval(arg);
      if (m_state == State::Exit || !growStack(m_stack.size() + 1)) {
        resizeStack(top);
        return;
      }
      m_stack.back() = std::move(v);
    }
    const std::string_view name = call->second.literal->text();
    const Template* t = m_current->set != nullptr ? m_current->set->find(name) : nullptr;
    if (t != nullptr) {
      callTemplate(*t, static_cast<uint32_t>(top));
    } else {
      write(std::string(" can't find template ").append(name).append(" "));
    }
    resizeStack(top);
  }

  [[gnu::noinline]] void callTemplate(const Template& t, uint32_t base) {
    if (m_depth >= kMaxCallDepth) {
      write(" too many nested template calls ");
      m_state = State::Exit;
      return;
    }
    const uint32_t savedBase = m_base;
    const uint32_t savedArgc = m_argc;
    const uint32_t savedExtra = m_extra;
    const bool savedInExecute = m_inExecute;
    const Template* savedCurrent = m_current;
    m_inExecute = false;
    ++m_depth;
    m_base = base;
    m_argc = static_cast<uint32_t>(m_stack.size()) - base;
    m_extra = m_argc > t.parameterCount ? m_argc - t.parameterCount : 0;
    setFrame(m_base + m_extra);
    m_current = &t;
    if (m_argc < t.parameterCount) {
      write(std::string(" template ").append(t.name).append(" call missing params "));
    } else if (growStack(m_stack.size() + (t.variables.size() - t.parameterCount))) {
      runList(t.body);
      if (m_state == State::Return) m_state = State::Normal;
    }
    if (!m_copies.empty() && m_copies.back().depth == m_depth) m_copies.pop_back();
    m_current = savedCurrent;
    m_inExecute = savedInExecute;
    m_extra = savedExtra;
    m_argc = savedArgc;
    m_base = savedBase;
    setFrame(m_base + m_extra);
    --m_depth;
  }

  [[gnu::noinline]] void runExecute(const Node* n) {
    if (m_inExecute) {
      write(" execute not allowed within execute ");
      return;
    }
    const TemplateValue code = eval(n->first);
    if (m_state != State::Normal) return;
    if (!code.isString()) {
      write(" execute parameter is not a string ");
      return;
    }
    if (!spend(code.text().size())) return;
    if (m_copies.empty() || m_copies.back().depth != m_depth) {
      // A copy of the template's variables, so that names the code adds
      // get indexes of their own and survive until this call ends.
      auto copy = std::make_unique<Template>();
      copy->name = m_current->name;
      copy->variables = m_current->variables;
      copy->variableIndex = m_current->variableIndex;
      copy->parameterCount = m_current->parameterCount;
      copy->set = m_current->set;
      m_copies.push_back(ExecuteCopy{std::move(copy), m_depth});
    }
    Template& copy = *m_copies.back().copy;
    NodeArena arena;  // the parsed code lives only for this statement
    const ExecuteParse parsed = parseExecuteCode(code.text(), copy, arena);
    if (parsed.errorLine != 0) {
      write(" execute: line " + std::to_string(static_cast<unsigned>(parsed.errorLine)) + ": " + parsed.errorMessage + " ");
      return;
    }
    if (!growStack(size_t{m_frame} + copy.variables.size())) return;
    m_inExecute = true;
    runList(parsed.body);
    m_inExecute = false;
    if (m_state == State::Return) m_state = State::Normal;
  }

  // --- expressions ---

  bool truth(const Operand& op) {
    int32_t value = 0;
    if (integerOf(op, value)) return value != 0;
    return truthOfValue(op);
  }

  [[gnu::noinline]] bool truthOfValue(const Operand& op) {
    TemplateValue scratch;
    return evalRef(op, scratch).toInteger() != 0;
  }

  // The value of an integer literal, of a variable holding an integer, or of
  // an expression by its integer form (see integer_code.h), computed without
  // a TemplateValue; false when op is something else, or its integer form
  // meets a value that is not an integer. Such an expression has no effects,
  // so a false answer leaves the general path to evaluate it from the start.
  [[gnu::always_inline]] bool integerOf(const Operand& op, int32_t& out) {
    // Tests in the order of how often each kind comes here.
    if (op.kind == Operand::Kind::Node) {
      const IntegerStep* code = op.node->integerCode;
      return code != nullptr && runInteger(code, m_frameBase, m_frameSlots, m_stack.data(), out);
    }
    if (op.kind == Operand::Kind::Variable) {
      const TemplateValue& v = variable(op.variable);
      if (v.type() != TemplateValue::Type::Integer) return false;
      out = v.integerValue();
      return true;
    }
    if (op.kind == Operand::Kind::Literal && op.literal->type() == TemplateValue::Type::Integer) {
      out = op.literal->integerValue();
      return true;
    }
    return false;
  }

  // The value of op: a literal or a variable as it stands, anything else
  // computed into scratch. Valid until the stack next grows, which no
  // expression does.
  const TemplateValue& evalRef(const Operand& op, TemplateValue& scratch) {
    switch (op.kind) {
      case Operand::Kind::Literal:
        return *op.literal;
      case Operand::Kind::Variable:
        return variable(op.variable);
      case Operand::Kind::Node:
        evalNode(op.node, scratch);
        return scratch;
      case Operand::Kind::None:
        break;
    }
    write(" unexpected branch data type ");
    scratch = TemplateValue();
    return scratch;
  }

  TemplateValue eval(const Operand& op) {
    TemplateValue scratch;
    if (op.kind == Operand::Kind::Node) {
      evalNode(op.node, scratch);
      return scratch;
    }
    return evalRef(op, scratch);
  }

  // Runs an expression for its effect only.
  void discard(const Operand& op) {
    if (op.kind != Operand::Kind::Node) return;
    const Node* n = op.node;
    switch (n->code) {
      case NodeCode::Assign:
        (void)assign(n);
        return;
      case NodeCode::Increment:
      case NodeCode::Decrement:
        (void)step(n);
        return;
      case NodeCode::IteratorStep:
        discard(n->first);
        return;
      default: {
        TemplateValue ignored;
        evalNode(n, ignored);
        return;
      }
    }
  }

  TemplateValue& assign(const Node* n) {
    int32_t value = 0;
    if (integerOf(n->first, value)) {
      TemplateValue& target = variable(n->second.variable);
      target.setInteger(value);
      return target;
    }
    TemplateValue scratch;
    const TemplateValue& v = evalRef(n->first, scratch);
    TemplateValue& target = variable(n->second.variable);
    if (&v == &scratch) {
      target = std::move(scratch);
    } else {
      target = v;
    }
    return target;
  }

  // "++" and "--": the variable after the change, and in old its value before.
  TemplateValue& step(const Node* n, TemplateValue* old = nullptr) {
    TemplateValue& v = variable(n->first.variable);
    if (old != nullptr) *old = v;
    const int delta = n->code == NodeCode::Increment ? 1 : -1;
    if (v.type() == TemplateValue::Type::Integer) {
      v.setInteger(static_cast<int32_t>(static_cast<uint32_t>(v.integerValue()) + static_cast<uint32_t>(delta)));
    } else {
      v = stepped(v, delta);
    }
    return v;
  }

  [[gnu::noinline]] std::vector<TemplateValue> evalArgs(const Node* call) {
    std::vector<TemplateValue> args;
    for (const Node* link = call->first.node; link != nullptr; link = link->second.node) {
      args.push_back(eval(link->first));
    }
    return args;
  }

  // Computes the value of n into out, a scratch value of the caller's.
  void evalNode(const Node* n, TemplateValue& out) {
    switch (n->code) {
      case NodeCode::Assign:
        out = assign(n);
        return;
      case NodeCode::Increment:
      case NodeCode::Decrement:
        if (n->prefix) {
          out = step(n);
        } else {
          (void)step(n, &out);
        }
        return;
      case NodeCode::IteratorStep:
        out = eval(n->first);
        return;
      case NodeCode::Param:
        out = evalParam(n);
        return;
      case NodeCode::Substr:
        out = evalSubstr(n);
        return;
      case NodeCode::EnvReference:
        out = evalEnv(n, false);
        return;
      case NodeCode::Or:
      case NodeCode::And: {
        const bool left = truth(n->second);
        out.setInteger(left == (n->code == NodeCode::Or) ? left : truth(n->first));
        return;
      }
      case NodeCode::Not:
        out.setInteger(truth(n->first) ? 0 : 1);
        return;
      case NodeCode::Add:
      case NodeCode::Subtract:
        if (n->second.empty()) {
          TemplateValue scratch;
          out = unarySign(n->code, evalRef(n->first, scratch));
          return;
        }
        [[fallthrough]];
      case NodeCode::Multiply:
      case NodeCode::Divide:
      case NodeCode::Modulo:
      case NodeCode::Concat:
      case NodeCode::LessEqual:
      case NodeCode::GreaterEqual:
      case NodeCode::NotEqual:
      case NodeCode::Less:
      case NodeCode::Greater:
      case NodeCode::Equal:
        evalBinary(n, out);
        return;
      default:
        write(" unexpected branch operator ");
        out.setInteger(0);
        return;
    }
  }

  // The right operand first, then the left; integers on a fast path.
  void evalBinary(const Node* n, TemplateValue& out) {
    TemplateValue rightScratch;
    TemplateValue leftScratch;
    const TemplateValue* right = &evalRef(n->first, rightScratch);
    if (n->second.kind == Operand::Kind::Node && n->second.node->assigns && right != &rightScratch) {
      // The left side may assign to the variable the right side read:
      // keep its value as it was read.
      rightScratch = *right;
      right = &rightScratch;
    }
    const TemplateValue& left = evalRef(n->second, leftScratch);
    if (left.type() == TemplateValue::Type::Integer && right->type() == TemplateValue::Type::Integer) {
      const int32_t a = left.integerValue();
      const int32_t b = right->integerValue();
      const auto ua = static_cast<uint32_t>(a);
      const auto ub = static_cast<uint32_t>(b);
      switch (n->code) {
        case NodeCode::Add:
          return out.setInteger(static_cast<int32_t>(ua + ub));
        case NodeCode::Subtract:
          return out.setInteger(static_cast<int32_t>(ua - ub));
        case NodeCode::Multiply:
          return out.setInteger(static_cast<int32_t>(ua * ub));
        case NodeCode::LessEqual:
          return out.setInteger(a <= b);
        case NodeCode::GreaterEqual:
          return out.setInteger(a >= b);
        case NodeCode::NotEqual:
          return out.setInteger(a != b);
        case NodeCode::Less:
          return out.setInteger(a < b);
        case NodeCode::Greater:
          return out.setInteger(a > b);
        case NodeCode::Equal:
          return out.setInteger(a == b);
        default:
          break;
      }
    }
    out = evalBinarySlow(n->code, left, *right);
  }

  [[gnu::noinline]] TemplateValue evalBinarySlow(NodeCode code, const TemplateValue& left, const TemplateValue& right) {
    switch (code) {
      case NodeCode::Concat:
        return concat(left, right);
      case NodeCode::Add:
      case NodeCode::Subtract:
      case NodeCode::Multiply:
      case NodeCode::Divide:
      case NodeCode::Modulo: {
        bool divisionByZero = false;
        TemplateValue result = arithmetic(code, left, right, divisionByZero);
        if (divisionByZero) write(kDivisionByZero);
        return result;
      }
      default:
        return TemplateValue::integer(comparison(code, left, right));
    }
  }

  [[gnu::noinline]] TemplateValue evalParam(const Node* n) {
    const int32_t index = eval(n->first).toInteger();
    if (index == 0) return TemplateValue::integer(static_cast<int32_t>(m_argc));
    if (index < 0 || static_cast<uint32_t>(index) > m_argc) {
      write(" param out of range ");
      return {};
    }
    const TemplateValue& arg = m_stack[m_base + static_cast<uint32_t>(index) - 1];
    return arg.type() == TemplateValue::Type::Reference ? m_stack[arg.slot()] : arg;
  }

  // Counts bytes of strings made against the run's budget.
  bool spend(size_t bytes) {
    if (bytes > m_limits.maxStringLength) {
      stop(kStringTooLong);
      return false;
    }
    if (bytes > m_limits.stringWorkBudget - m_stringWork) {
      stop(kStringBudgetSpent);
      return false;
    }
    m_stringWork += bytes;
    return true;
  }

  [[gnu::noinline]] TemplateValue concat(const TemplateValue& left, const TemplateValue& right) {
    std::string leftNumber;
    std::string rightNumber;
    std::string_view a = left.isString() ? left.text() : (left.appendText(leftNumber), std::string_view(leftNumber));
    std::string_view b = right.isString() ? right.text() : (right.appendText(rightNumber), std::string_view(rightNumber));
    // Checked before allocating: a string that doubles in a loop stops the run.
    if (a.size() > m_limits.maxStringLength || !spend(a.size() + b.size())) {
      if (m_state != State::Exit) stop(kStringTooLong);
      return {};
    }
    std::string text;
    text.reserve(a.size() + b.size());
    text.append(a).append(b);
    return TemplateValue::string(std::move(text));
  }

  [[gnu::noinline]] TemplateValue evalSubstr(const Node* n) {
    TemplateValue source = eval(n->second);
    const Node* args = n->first.node;
    const int32_t index = eval(args->second).toInteger();
    const int32_t count = eval(args->first).toInteger();
    std::string number;
    std::string_view text = source.isString() ? source.text() : (source.appendText(number), std::string_view(number));
    if (index < 0 || count < 0) {
      write(" negative number for substr index or items ");
      return {};
    }
    if (static_cast<size_t>(index) >= text.size()) {
      write(" substr index larger than string ");
      return {};
    }
    return TemplateValue::string(text.substr(static_cast<size_t>(index), static_cast<size_t>(count)));
  }

  [[gnu::noinline]] TemplateValue evalEnv(const Node* ref, bool statement) {
    if (m_env == nullptr) {
      write(" no environment commands defined ");
      return {};
    }
    DataProvider* provider = m_env;
    for (const Node* link = ref->first.node; link != nullptr; link = link->second.node) {
      const Node* call = link->first.node;
      const std::vector<TemplateValue> args = evalArgs(call);
      if (m_state == State::Exit) return {};
      const std::string_view name = call->second.literal->text();
      if (link->second.node != nullptr) {
        provider = provider->Select(name, *m_out, args);
        if (provider == nullptr) return {};
      } else if (statement) {
        provider->Exec(name, *m_out, args);
      } else {
        TemplateValue result;
        provider->Eval(result, name, *m_out, args);
        return result;
      }
    }
    return {};
  }

  DataProvider* m_env;
  AlternateOutputs* m_alternates;
  const RunLimits& m_limits;
  bool m_refused = false;
  GuardedSink m_topSink;
  OutputSink* m_out;
  std::vector<TemplateValue> m_stack;
  uint32_t m_base = 0;
  uint32_t m_argc = 0;
  uint32_t m_extra = 0;  // arguments passed beyond the declared parameters
  uint32_t m_frame = 0;  // slot of the running template's variable 0: m_base + m_extra
  TemplateValue* m_frameBase = nullptr;  // &m_stack[m_frame]
  size_t m_frameSlots = 0;               // slots from m_frame to the top of the stack
  int m_depth = 0;
  State m_state = State::Normal;
  const Template* m_current = nullptr;
  std::vector<ExecuteCopy> m_copies;
  bool m_inExecute = false;
  // Steps the run may still take; no bound is one that 2^64 steps would reach.
  uint64_t m_stepsLeft;
  TemplateValue m_void;  // stands in for a slot that is not there
  size_t m_stringWork = 0;
};

}  // namespace

void RunTemplate(const Template& t, DataProvider* env, OutputSink& out, AlternateOutputs* alternates,
                 const RunLimits& limits) {
  Interpreter(env, out, alternates, limits).run(t);
}

}  // namespace vantrel::templates
