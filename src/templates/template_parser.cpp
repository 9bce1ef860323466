// SPDX-License-Identifier: MIT
// Recursive-descent parser over the tokens of one lexing run. Every parse
// message is written here; only the first error of a template is kept, and
// every parse function returns "nothing" once an error is recorded.
#include "templates/template_parser.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "templates/template_limits.h"

namespace vantrel::templates {

void reportToStdout(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

namespace {

constexpr std::string_view kLexError = "missing or invalid characters";

struct Expr {
  Operand op;
  bool plainVariable = false;
};
using MaybeExpr = std::optional<Expr>;

class Parser {
 public:
  Parser(std::vector<Token>& tokens, int startLine, Template& owner, NodeArena& arena)
      : m_t(tokens), m_startLine(startLine), m_owner(owner), m_arena(arena) {}

  bool failed() const { return m_failed; }
  int errorLine() const { return m_errorLine; }
  const std::string& errorMessage() const { return m_errorMessage; }
  bool atEnd() const { return m_i >= m_t.size(); }
  int currentLine() const {
    if (!atEnd()) return m_t[m_i].line;
    return m_t.empty() ? m_startLine : m_t.back().line;
  }

  void parseTemplate() {
    const int start = currentLine();
    if (!atName()) return error(start, "missing or invalid template name");
    m_owner.name = m_t[m_i++].text;
    if (at(Sym::LeftParen)) {
      ++m_i;
      for (;;) {
        if (!atName()) return error(currentLine(), "invalid parameter name");
        m_owner.addParameter(m_t[m_i++].text);
        if (at(Sym::Comma)) {
          ++m_i;
          continue;
        }
        if (at(Sym::RightParen)) {
          ++m_i;
          break;
        }
        return error(start, "expected ) on parameter list");
      }
    }
    if (!at(Sym::Semicolon)) return error(currentLine(), "statement end expected");
    ++m_i;
    const Node* body = parseStatements();
    if (m_failed) return;
    if (atEnd()) return error(start, "missing endtmpl");
    if (!at(Sym::EndTmpl)) return error(currentLine(), "unrecognized statement");
    if (body == nullptr) return error(start, "no statements in template");
    ++m_i;
    if (!at(Sym::Semicolon)) return error(currentLine(), "statement end expected");
    ++m_i;
    m_owner.body = body;
  }

  // Statements up to a token that begins none; nullptr when there are none.
  Node* parseStatements(Node** tail = nullptr) {
    Node* head = nullptr;
    Node* last = nullptr;
    while (!atEnd()) {
      std::optional<Operand> statement = parseStatement();
      if (m_failed || !statement) break;
      if (!at(Sym::Semicolon)) {
        error(currentLine(), "statement end expected");
        break;
      }
      ++m_i;
      Node* link = make(NodeCode::StatementLink);
      link->first = std::move(*statement);
      if (last != nullptr) {
        last->second = nodeOperand(link);
      } else {
        head = link;
      }
      last = link;
    }
    if (tail != nullptr) *tail = last;
    return m_failed ? nullptr : head;
  }

 private:
  bool at(Sym s) const { return !atEnd() && m_t[m_i].is(s); }
  bool atName() const { return !atEnd() && m_t[m_i].kind == TokenKind::Name; }

  void error(int line, std::string_view message) {
    if (m_failed) return;
    m_failed = true;
    m_errorLine = line;
    m_errorMessage = message;
  }

  Node* make(NodeCode code) {
    Node* n = m_arena.make();
    n->code = code;
    return n;
  }

  static Operand nodeOperand(const Node* n) {
    Operand op;
    op.kind = Operand::Kind::Node;
    op.node = n;
    return op;
  }
  static int depthOf(const Operand& op) { return op.kind == Operand::Kind::Node ? op.node->depth : 0; }
  static bool assignsIn(const Operand& op) { return op.kind == Operand::Kind::Node && op.node->assigns; }

  // A node of an expression; fails when the tree would grow deeper than the
  // interpreter's recursion may go.
  [[gnu::always_inline]] Node* makeExpression(NodeCode code, Operand first, Operand second, std::string_view tooDeep) {
    const int depth = 1 + std::max(depthOf(first), depthOf(second));
    if (depth > kMaxExpressionDepth) {
      error(currentLine(), tooDeep);
      return nullptr;
    }
    Node* n = make(code);
    n->depth = static_cast<int16_t>(depth);
    n->first = std::move(first);
    n->second = std::move(second);
    n->assigns = code == NodeCode::Assign || assignsIn(n->first) || assignsIn(n->second);
    // Only arithmetic, comparisons and logic may compute on integers alone.
    n->integerOnly = code >= NodeCode::LessEqual && code <= NodeCode::Modulo && computesOnIntegers(*n);
    if (!n->integerOnly && (code == NodeCode::And || code == NodeCode::Or || code == NodeCode::Not)) {
      readAsInteger(n->first);  // the interpreter takes their truth one by one
      readAsInteger(n->second);
    }
    return n;
  }

  // Gives an expression that the interpreter reads for its integer (a
  // condition, an operand of logic, the right side of an assignment) its
  // integer form, when it has one.
  void readAsInteger(const Operand& op) {
    if (op.kind != Operand::Kind::Node || !op.node->integerOnly || op.node->integerCode != nullptr) return;
    Node* n = const_cast<Node*>(op.node);  // made by this parser, in its arena
    n->integerCode = compileInteger(*n, m_arena);
  }

  std::optional<Operand> parseStatement() {
    const Token& t = m_t[m_i];
    const int start = t.line;
    if (t.kind == TokenKind::Text) {
      ++m_i;
      Node* n = make(NodeCode::OutputText);
      n->first.kind = Operand::Kind::Literal;
      n->first.literal = m_arena.keep(TemplateValue::string(std::move(m_t[m_i - 1].text)));
      return nodeOperand(n);
    }
    if (t.kind == TokenKind::Symbol) {
      switch (t.sym) {
        case Sym::If:
        case Sym::While:
        case Sym::SetOutput:
          if (m_blockDepth >= kMaxBlockDepth) return std::nullopt;
          ++m_blockDepth;
          {
            const Node* n = t.sym == Sym::If ? parseIf() : t.sym == Sym::While ? parseWhile() : parseSetOutput();
            --m_blockDepth;
            if (n == nullptr) return std::nullopt;
            return nodeOperand(n);
          }
        case Sym::Tmpl:
        case Sym::Sys: {
          const bool isTmpl = t.sym == Sym::Tmpl;
          ++m_i;
          if (!at(Sym::Dot)) return fail(start, isTmpl ? "tmpl lacks ." : "sys lacks .");
          ++m_i;
          const Node* call = parseCall();
          if (m_failed) return std::nullopt;
          if (call == nullptr) return fail(start, isTmpl ? "tmpl lacks name" : "sys lacks name");
          Node* n = make(isTmpl ? NodeCode::TemplateCall : NodeCode::SysCall);
          n->first = nodeOperand(call);
          return nodeOperand(n);
        }
        case Sym::Execute: {
          ++m_i;
          if (!at(Sym::LeftParen)) return fail(start, "execute lacks (");
          ++m_i;
          MaybeExpr e = parseExpression();
          if (m_failed) return std::nullopt;
          if (!e) return fail(start, "execute: invalid expression");
          if (!at(Sym::RightParen)) return fail(start, "execute lacks )");
          ++m_i;
          Node* n = make(NodeCode::Execute);
          n->first = std::move(e->op);
          return nodeOperand(n);
        }
        case Sym::Break:
        case Sym::Continue:
          if (m_whileDepth == 0) return fail(start, "break/continue requires enclosing while");
          [[fallthrough]];
        case Sym::Return:
        case Sym::Exit:
          ++m_i;
          return nodeOperand(make(static_cast<NodeCode>(t.sym)));
        default:
          break;
      }
    }
    MaybeExpr e = parseExpression();
    if (m_failed || !e) return std::nullopt;
    if (e->op.kind == Operand::Kind::Node && e->op.node->code == NodeCode::EnvReference) {
      const_cast<Node*>(e->op.node)->statementCall = true;  // made by this parser, in its arena
    }
    return std::move(e->op);
  }

  std::nullopt_t fail(int line, std::string_view message) {
    error(line, message);
    return std::nullopt;
  }
  Node* failNode(int line, std::string_view message) {
    error(line, message);
    return nullptr;
  }

  bool atBlockEnd(std::initializer_list<Sym> closers) const {
    for (Sym s : closers) {
      if (at(s)) return true;
    }
    return false;
  }

  // The statements of a block and the check of what stopped them.
  const Node* parseBlock(std::initializer_list<Sym> closers, int start, std::string_view lacksEnd, Node** tail = nullptr) {
    const Node* body = parseStatements(tail);
    if (m_failed) return nullptr;
    if (atEnd()) {
      error(start, lacksEnd);
    } else if (!atBlockEnd(closers)) {
      error(currentLine(), "unrecognized statement");
    }
    return body;
  }

  const Node* parseIf() {
    const int start = m_t[m_i++].line;
    MaybeExpr cond = parseExpression();
    if (m_failed) return nullptr;
    if (!cond) return failNode(start, "if lacks expression");
    if (!at(Sym::Semicolon)) return failNode(start, "statement end expected");
    ++m_i;
    const std::initializer_list<Sym> closers{Sym::EndIf, Sym::ElseIf, Sym::Else};
    const Node* body = parseBlock(closers, start, "if lacks endif");
    if (m_failed) return nullptr;
    Node* branch = make(NodeCode::Branch);
    readAsInteger(cond->op);
    branch->first = std::move(cond->op);
    if (body != nullptr) branch->second = nodeOperand(body);
    if (at(Sym::EndIf)) {
      ++m_i;
      return branch;
    }
    Node* chain = make(NodeCode::Alternatives);
    chain->first = nodeOperand(branch);
    Node* last = chain;
    while (at(Sym::ElseIf)) {
      const int elseStart = m_t[m_i++].line;
      MaybeExpr c = parseExpression();
      if (m_failed) return nullptr;
      if (!c) return failNode(elseStart, "elseif lacks expression");
      if (!at(Sym::Semicolon)) return failNode(elseStart, "statement end expected");
      ++m_i;
      const Node* b = parseBlock(closers, start, "if lacks endif");
      if (m_failed) return nullptr;
      Node* br = make(NodeCode::Branch);
      readAsInteger(c->op);
      br->first = std::move(c->op);
      if (b != nullptr) br->second = nodeOperand(b);
      Node* alt = make(NodeCode::Alternatives);
      alt->first = nodeOperand(br);
      last->second = nodeOperand(alt);
      last = alt;
    }
    if (at(Sym::Else)) {
      const int elseStart = m_t[m_i++].line;
      if (!at(Sym::Semicolon)) return failNode(elseStart, "statement end expected");
      ++m_i;
      const Node* b = parseBlock({Sym::EndIf}, start, "if lacks endif");
      if (m_failed) return nullptr;
      if (b != nullptr) last->second = nodeOperand(b);
    }
    ++m_i;  // "endif"
    return chain;
  }

  const Node* parseWhile() {
    const int start = m_t[m_i].line;
    if (m_whileDepth >= kMaxWhileNesting) return failNode(start, "nested while statement limit exceded");
    ++m_i;
    MaybeExpr cond = parseExpression();
    if (m_failed) return nullptr;
    if (!cond) return failNode(start, "while lacks expression");
    MaybeExpr step;
    if (at(Sym::Comma)) {
      ++m_i;
      step = parseExpression();
      if (m_failed) return nullptr;
      if (!step) return failNode(currentLine(), "while lacks iterator expression");
    }
    if (!at(Sym::Semicolon)) return failNode(start, "while lacks iterator statement");
    ++m_i;
    ++m_whileDepth;
    const Node* body = parseBlock({Sym::EndWhile}, start, "while lacks endwhile");
    --m_whileDepth;
    if (m_failed) return nullptr;
    ++m_i;  // "endwhile"
    Node* n = make(NodeCode::While);
    readAsInteger(cond->op);
    n->first = std::move(cond->op);
    if (body != nullptr) n->second = nodeOperand(body);
    if (step) {
      Node* s = make(NodeCode::IteratorStep);
      s->first = std::move(step->op);
      n->step = s;
    }
    return n;
  }

  const Node* parseSetOutput() {
    const int start = m_t[m_i++].line;
    const Node* call = parseCall();
    if (m_failed) return nullptr;
    if (call == nullptr) return failNode(start, "setoutput lacks name");
    if (!at(Sym::Semicolon)) return failNode(start, "statement end expected");
    ++m_i;
    const Node* body = parseBlock({Sym::EndSetOutput}, start, "setoutput lacks endsetoutput");
    if (m_failed) return nullptr;
    ++m_i;  // "endsetoutput"
    Node* n = make(NodeCode::SetOutput);
    n->first = nodeOperand(call);
    if (body != nullptr) n->second = nodeOperand(body);
    return n;
  }

  // NAME [ "(" expression { "," expression } ")" ]
  const Node* parseCall() {
    if (!atName()) return nullptr;
    Node* call = make(NodeCode::Call);
    call->second.kind = Operand::Kind::Literal;
    call->second.literal = m_arena.keep(TemplateValue::string(m_t[m_i++].text));
    if (!at(Sym::LeftParen)) return call;
    const int parenLine = m_t[m_i++].line;
    Node* last = nullptr;
    int depth = 0;
    for (;;) {
      MaybeExpr arg = parseExpression();
      if (m_failed) return nullptr;
      if (!arg) return failNode(currentLine(), "invalid parameter");
      depth = std::max(depth, depthOf(arg->op));
      call->assigns = call->assigns || assignsIn(arg->op);
      Node* link = make(NodeCode::ArgumentLink);
      link->first = std::move(arg->op);
      (last != nullptr ? last->second : call->first) = nodeOperand(link);
      last = link;
      if (at(Sym::Comma)) {
        ++m_i;
        continue;
      }
      if (at(Sym::RightParen)) {
        ++m_i;
        break;
      }
      return failNode(parenLine, "expected ) on parameter list");
    }
    call->depth = static_cast<int16_t>(depth + 1);
    return call;
  }

  MaybeExpr parseExpression() {
    if (m_exprDepth >= kMaxExpressionDepth) return std::nullopt;
    ++m_exprDepth;
    MaybeExpr e = parseAssignment();
    --m_exprDepth;
    return e;
  }

  MaybeExpr parseAssignment() {
    const int start = currentLine();
    MaybeExpr left = parseBinary(0);
    if (m_failed || !left || !at(Sym::Assign)) return left;
    if (!left->plainVariable) return fail(start, "variable required for assignment");
    ++m_i;
    MaybeExpr right = parseExpression();
    if (m_failed) return std::nullopt;
    if (!right) return fail(currentLine(), "invalid expression");
    readAsInteger(right->op);
    Node* n = makeExpression(NodeCode::Assign, std::move(right->op), std::move(left->op), "invalid expression");
    if (n == nullptr) return std::nullopt;
    return Expr{nodeOperand(n)};
  }

  // Binding level of a binary operator, loosest 0 to tightest 4; -1 for
  // anything else.
  static int binaryLevel(const Token& t) {
    if (t.kind != TokenKind::Symbol) return -1;
    switch (t.sym) {
      case Sym::And:
      case Sym::Or:
        return 0;
      case Sym::Less:
      case Sym::Greater:
      case Sym::LessEqual:
      case Sym::GreaterEqual:
      case Sym::Equal:
      case Sym::NotEqual:
        return 1;
      case Sym::Plus:
      case Sym::Minus:
        return 2;
      case Sym::Times:
      case Sym::Divide:
      case Sym::Modulo:
        return 3;
      case Sym::Dollar:
        return 4;
      default:
        return -1;
    }
  }

  // Binary operators of level minLevel and tighter, each level left-associative.
  MaybeExpr parseBinary(int minLevel) {
    MaybeExpr left = parsePrefix();
    while (!m_failed && left && !atEnd()) {
      const int level = binaryLevel(m_t[m_i]);
      if (level < minLevel) break;
      const Sym op = m_t[m_i++].sym;
      MaybeExpr right = parseBinary(level + 1);
      if (m_failed) return std::nullopt;
      if (!right) return fail(currentLine(), "invalid operand");
      // The token index of an operator is its node code; the right operand comes first.
      Node* n = makeExpression(static_cast<NodeCode>(op), std::move(right->op), std::move(left->op), "invalid operand");
      if (n == nullptr) return std::nullopt;
      left = Expr{nodeOperand(n)};
    }
    return left;
  }

  MaybeExpr parsePrefix() {
    if (atEnd() || m_t[m_i].kind != TokenKind::Symbol) return parsePostfix();
    const Sym op = m_t[m_i].sym;
    if (op != Sym::Minus && op != Sym::Plus && op != Sym::Not && op != Sym::PlusPlus && op != Sym::MinusMinus) {
      return parsePostfix();
    }
    if (m_exprDepth >= kMaxExpressionDepth) return std::nullopt;
    ++m_i;
    ++m_exprDepth;
    MaybeExpr operand = parsePrefix();
    --m_exprDepth;
    if (m_failed) return std::nullopt;
    if (!operand) return fail(currentLine(), "invalid operand");
    if (op == Sym::PlusPlus || op == Sym::MinusMinus) {
      if (!operand->plainVariable) return fail(currentLine(), "variable required for ++/--");
      Node* n = make(op == Sym::PlusPlus ? NodeCode::Increment : NodeCode::Decrement);
      n->depth = 1;
      n->assigns = true;
      n->first = std::move(operand->op);
      n->prefix = true;
      return Expr{nodeOperand(n)};
    }
    Node* n = makeExpression(static_cast<NodeCode>(op), std::move(operand->op), Operand{}, "invalid operand");
    if (n == nullptr) return std::nullopt;
    return Expr{nodeOperand(n)};
  }

  MaybeExpr parsePostfix() {
    const int start = currentLine();
    MaybeExpr e = parsePrimary();
    while (!m_failed && e && (at(Sym::PlusPlus) || at(Sym::MinusMinus))) {
      if (!e->plainVariable) return fail(start, "variable required for ++/--");
      Node* n = make(at(Sym::PlusPlus) ? NodeCode::Increment : NodeCode::Decrement);
      ++m_i;
      n->depth = 1;
      n->assigns = true;
      n->first = std::move(e->op);
      e = Expr{nodeOperand(n)};
    }
    return e;
  }

  Expr literal(TemplateValue v) {
    Expr e;
    e.op.kind = Operand::Kind::Literal;
    e.op.literal = m_arena.keep(std::move(v));
    return e;
  }

  MaybeExpr parsePrimary() {
    if (atEnd()) return std::nullopt;
    const Token& t = m_t[m_i];
    const int start = t.line;
    switch (t.kind) {
      case TokenKind::String:
        ++m_i;
        return literal(TemplateValue::string(std::move(m_t[m_i - 1].text)));
      case TokenKind::Integer:
        ++m_i;
        return literal(TemplateValue::integer(t.integer));
      case TokenKind::Real:
        ++m_i;
        return literal(TemplateValue::real(t.real));
      case TokenKind::Name: {
        ++m_i;
        Expr e;
        e.op.kind = Operand::Kind::Variable;
        e.op.variable = m_owner.variable(t.text);
        e.plainVariable = true;
        return e;
      }
      case TokenKind::Text:
        return std::nullopt;
      case TokenKind::Symbol:
        break;
    }
    switch (t.sym) {
      case Sym::LeftParen: {
        ++m_i;
        MaybeExpr e = parseExpression();
        if (m_failed) return std::nullopt;
        if (!e) return fail(currentLine(), "invalid expression");
        if (!at(Sym::RightParen)) return fail(start, "expected ) on expression");
        ++m_i;
        e->plainVariable = false;
        return e;
      }
      case Sym::Substr:
        return parseSubstr(start);
      case Sym::Env:
        return parseEnv(start);
      case Sym::Param: {
        ++m_i;
        if (!at(Sym::LeftBracket)) return fail(start, "expected [ after param");
        ++m_i;
        MaybeExpr index = parseExpression();
        if (m_failed) return std::nullopt;
        if (!index) return fail(currentLine(), "invalid param expression");
        if (!at(Sym::RightBracket)) return fail(start, "expected ] on param expression");
        ++m_i;
        Node* n = makeExpression(NodeCode::Param, std::move(index->op), Operand{}, "invalid param expression");
        if (n == nullptr) return std::nullopt;
        return Expr{nodeOperand(n)};
      }
      default:
        return std::nullopt;
    }
  }

  MaybeExpr parseSubstr(int start) {
    ++m_i;
    if (!at(Sym::LeftParen)) return fail(currentLine(), "expected ( after substr");
    ++m_i;
    MaybeExpr text = parseExpression();
    if (m_failed) return std::nullopt;
    if (!text) return fail(currentLine(), "invalid string expression");
    if (!at(Sym::Comma)) return fail(currentLine(), "expected , after string expression");
    ++m_i;
    MaybeExpr index = parseExpression();
    if (m_failed) return std::nullopt;
    if (!index) return fail(currentLine(), "invalid expression");
    if (!at(Sym::Comma)) return fail(currentLine(), "expected , after expression");
    ++m_i;
    MaybeExpr count = parseExpression();
    if (m_failed) return std::nullopt;
    if (!count) return fail(currentLine(), "invalid expression");
    if (!at(Sym::RightParen)) return fail(start, "expected ) after substr");
    ++m_i;
    Node* args = makeExpression(NodeCode::ArgumentLink, std::move(count->op), std::move(index->op), "invalid expression");
    if (args == nullptr) return std::nullopt;
    Node* n = makeExpression(NodeCode::Substr, nodeOperand(args), std::move(text->op), "invalid expression");
    if (n == nullptr) return std::nullopt;
    return Expr{nodeOperand(n)};
  }

  MaybeExpr parseEnv(int start) {
    ++m_i;
    if (!at(Sym::Dot)) return fail(start, "expected . after env");
    Node* ref = make(NodeCode::EnvReference);
    Node* last = nullptr;
    int depth = 0;
    while (at(Sym::Dot)) {
      ++m_i;
      const Node* call = parseCall();
      if (m_failed) return std::nullopt;
      if (call == nullptr) return fail(currentLine(), "missing or invalid env name");
      depth = std::max(depth, static_cast<int>(call->depth));
      ref->assigns = ref->assigns || call->assigns;
      Node* link = make(NodeCode::EnvLink);
      link->first = nodeOperand(call);
      (last != nullptr ? last->second : ref->first) = nodeOperand(link);
      last = link;
    }
    ref->depth = static_cast<int16_t>(depth + 2);
    if (ref->depth > kMaxExpressionDepth) return fail(currentLine(), "missing or invalid env name");
    return Expr{nodeOperand(ref)};
  }

  std::vector<Token>& m_t;  // texts are moved out into literals
  size_t m_i = 0;
  int m_startLine;
  Template& m_owner;
  NodeArena& m_arena;
  int m_whileDepth = 0;
  int m_blockDepth = 0;
  int m_exprDepth = 0;
  bool m_failed = false;
  int m_errorLine = 0;
  std::string m_errorMessage;
};

std::string reportLine(std::string_view name, int line, std::string_view message) {
  std::string text = "template ";
  text += name;
  text += ", line ";
  text += std::to_string(line);
  text += ": ";
  text += message;
  return text;
}

}  // namespace

bool ParseTemplateFile(std::string_view text, TemplateSet& set, const ReportFn& report) {
  size_t pos = 0;
  int line = 1;
  bool ok = true;
  LexRun run;
  for (bool first = true;; first = false) {
    lexRun(text, pos, line, run);
    if (run.tokens.empty() && !run.failed) {
      // Only the first run must find a template; a later empty run is the
      // rest of the file after its last template, whatever its line.
      if (first) {
        report(reportLine("unknown", line, kLexError));
        ok = false;
      }
      break;
    }
    auto t = std::make_unique<Template>();
    if (run.failed) {
      const std::string name = run.tokens.empty() || run.tokens.front().kind != TokenKind::Name
                                   ? std::string("unknown")
                                   : run.tokens.front().text;
      report(reportLine(name, run.errorLine, kLexError));
      ok = false;
      break;
    }
    Parser parser(run.tokens, line, *t, set.arena());
    parser.parseTemplate();
    if (parser.failed()) {
      t->errorLine = parser.errorLine();
      t->errorMessage = parser.errorMessage();
      report(reportLine(t->name, t->errorLine, t->errorMessage));
      ok = false;
      break;
    }
    t->endLine = run.endLine;
    if (set.find(t->name) != nullptr) {
      report("template " + t->name + ", after line " + std::to_string(line) + ": has the same name as a previous template");
      ok = false;
      break;
    }
    set.add(std::move(t));
    pos = run.end;
    line = run.endLine;
  }
  if (set.empty()) {
    report("no templates added");
    ok = false;
  }
  return ok;
}

ExecuteParse parseExecuteCode(std::string_view code, Template& owner, NodeArena& arena) {
  ExecuteParse result;
  LexRun run = lexRun(code, 0, 1);
  if (run.failed || run.tokens.empty()) {
    result.errorLine = run.failed ? run.errorLine : 1;
    result.errorMessage = kLexError;
    return result;
  }
  Parser parser(run.tokens, 1, owner, arena);
  const Node* body = parser.parseStatements();
  if (!parser.failed() && !parser.atEnd()) {
    result.errorLine = parser.currentLine();
    result.errorMessage = "unrecognized statement";
    return result;
  }
  if (parser.failed()) {
    result.errorLine = parser.errorLine();
    result.errorMessage = parser.errorMessage();
    return result;
  }
  result.body = body;
  return result;
}

}  // namespace vantrel::templates
