// SPDX-License-Identifier: MIT
// The lexer: text mode copies page text up to "<#", code mode reads names,
// literals and operators up to "#>".
#include <array>
#include <cstdlib>
#include <vector>

#include "templates/template_token.h"

namespace vantrel::templates {
namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int digitValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// The keyword a lower-case name spells, or None; only keywords of the
// name's length are compared.
Sym keywordFor(std::string_view name) {
  static const auto byLength = [] {
    std::array<std::vector<Sym>, 16> table{};
    for (int i = kFirstKeyword; i <= kLastKeyword; ++i) {
      const std::string_view k = kTokenText[static_cast<size_t>(i)];
      if (!k.empty()) table[k.size()].push_back(static_cast<Sym>(i));
    }
    return table;
  }();
  if (name.size() >= byLength.size()) return Sym::None;
  for (Sym s : byLength[name.size()]) {
    if (kTokenText[static_cast<size_t>(s)] == name) return s;
  }
  return Sym::None;
}

class Lexer {
 public:
  Lexer(std::string_view source, size_t pos, int line, LexRun& run)
      : m_s(source), m_pos(pos), m_line(line), m_startLine(line), m_run(run) {
    m_run.tokens.clear();
    m_run.failed = false;
    m_run.errorLine = 0;
  }

  void run() {
    bool textMode = true;
    bool discard = true;
    while (!m_run.failed) {
      if (textMode) {
        if (!lexText(discard)) break;  // end of the source
        discard = false;
        textMode = false;
        continue;
      }
      skipSpace();
      if (m_pos >= m_s.size()) break;
      const bool afterEndTmpl = !m_run.tokens.empty() && m_run.tokens.back().is(Sym::EndTmpl);
      const size_t before = m_run.tokens.size();
      const Item item = lexItem();
      if (item == Item::Failed) break;
      if (item == Item::Comment) continue;
      if (afterEndTmpl) {
        if (item == Item::CodeEnd) break;  // the template ends right after its "#>"
        if (item == Item::Operator) {
          m_run.tokens.resize(before);
          fail();
        }
        break;  // anything else ends the run too; the parser reports it
      }
      if (item == Item::CodeEnd) textMode = true;
    }
    m_run.end = m_pos;
    m_run.endLine = m_line;
  }

 private:
  enum class Item { Token, Operator, CodeEnd, Comment, Failed };

  void fail() {
    m_run.failed = true;
    m_run.errorLine = m_run.tokens.empty() ? m_startLine : m_run.tokens.back().line;
  }

  Token& emit(TokenKind kind, int line) {
    Token& t = m_run.tokens.emplace_back();
    t.kind = kind;
    t.line = line;
    return t;
  }

  void emitSymbol(Sym sym) {
    if (sym == Sym::Semicolon && !m_run.tokens.empty() && m_run.tokens.back().is(Sym::Semicolon)) return;
    emit(TokenKind::Symbol, m_line).sym = sym;
  }

  // Returns false at the end of the source.
  bool lexText(bool discard) {
    if (m_pos < m_s.size() && m_s[m_pos] == '\n') {
      ++m_pos;
      ++m_line;
    } else if (m_s.substr(m_pos, 2) == "\r\n") {
      m_pos += 2;
      ++m_line;
    }
    while (m_pos < m_s.size() && m_s[m_pos] == '\t') ++m_pos;
    const size_t start = m_pos;
    const int startLine = m_line;
    const size_t open = m_s.find("<#", m_pos);
    const size_t stop = open == std::string_view::npos ? m_s.size() : open;
    for (size_t i = start; i < stop; ++i) {
      if (m_s[i] == '\n') ++m_line;
    }
    size_t end = stop;
    while (end > start && m_s[end - 1] == '\t') --end;
    m_pos = open == std::string_view::npos ? stop : stop + 2;
    if (!discard && end > start) {
      emit(TokenKind::Text, startLine).text.assign(m_s.substr(start, end - start));
      emitSymbol(Sym::Semicolon);
    }
    return open != std::string_view::npos;
  }

  void skipSpace() {
    while (m_pos < m_s.size() && isSpace(m_s[m_pos])) {
      if (m_s[m_pos] == '\n') ++m_line;
      ++m_pos;
    }
  }

  Item lexItem() {
    const char c = m_s[m_pos];
    if (isLetter(c)) return lexName();
    if (c == '"' || c == '\'') return lexString();
    if (isDigit(c)) return lexNumber();
    if (m_s.substr(m_pos, 2) == "//") {
      const size_t close = m_s.find("#>", m_pos + 2);
      if (close == std::string_view::npos) {
        fail();
        return Item::Failed;
      }
      m_pos = close;
      return Item::Comment;
    }
    const Sym sym = matchOperator();
    if (sym != Sym::None) {
      m_pos += kTokenText[static_cast<size_t>(sym)].size();
      if (sym == Sym::CodeEnd) {
        emitSymbol(Sym::Semicolon);
        return Item::CodeEnd;
      }
      emitSymbol(sym);
      return Item::Operator;
    }
    fail();
    return Item::Failed;
  }

  // The first operator of the table, in index order, that the text here
  // begins with: the two-character operators before their one-character
  // prefixes.
  Sym matchOperator() const {
    const char c = m_s[m_pos];
    const char next = m_pos + 1 < m_s.size() ? m_s[m_pos + 1] : '\0';
    switch (c) {
      case ':':
        return next == '=' ? Sym::Assign : Sym::None;
      case '+':
        return next == '+' ? Sym::PlusPlus : Sym::Plus;
      case '-':
        return next == '-' ? Sym::MinusMinus : Sym::Minus;
      case '<':
        return next == '=' ? Sym::LessEqual : Sym::Less;
      case '>':
        return next == '=' ? Sym::GreaterEqual : Sym::Greater;
      case '!':
        return next == '=' ? Sym::NotEqual : Sym::Not;
      case '=':
        return Sym::Equal;
      case '|':
        return next == '|' ? Sym::Or : Sym::None;
      case '&':
        return next == '&' ? Sym::And : Sym::None;
      case '*':
        return Sym::Times;
      case '/':
        return Sym::Divide;
      case '%':
        return Sym::Modulo;
      case '$':
        return Sym::Dollar;
      case '[':
        return Sym::LeftBracket;
      case ']':
        return Sym::RightBracket;
      case ',':
        return Sym::Comma;
      case '(':
        return Sym::LeftParen;
      case ')':
        return Sym::RightParen;
      case '.':
        return Sym::Dot;
      case ';':
        return Sym::Semicolon;
      case '#':
        return next == '>' ? Sym::CodeEnd : Sym::None;
      default:
        return Sym::None;
    }
  }

  Item lexName() {
    const size_t start = m_pos;
    while (m_pos < m_s.size() && (isLetter(m_s[m_pos]) || isDigit(m_s[m_pos]))) ++m_pos;
    std::string name(m_s.substr(start, m_pos - start));
    for (char& ch : name) {
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    const Sym keyword = keywordFor(name);
    if (keyword != Sym::None) {
      emit(TokenKind::Symbol, m_line).sym = keyword;
      return Item::Token;
    }
    emit(TokenKind::Name, m_line).text = std::move(name);
    return Item::Token;
  }

  Item lexString() {
    const int line = m_line;
    std::string value;
    bool cut = false;  // an escaped zero ends the value; the literal goes on
    ++m_pos;
    while (m_pos < m_s.size()) {
      char ch = m_s[m_pos];
      if (ch == '"' || ch == '\'') {
        ++m_pos;
        emit(TokenKind::String, line).text = std::move(value);
        return Item::Token;
      }
      if (ch == '\\') {
        if (m_pos + 1 >= m_s.size()) break;
        ch = m_s[++m_pos];
        switch (ch) {
          case '0':
            cut = true;
            break;
          case 'n':
            ch = '\n';
            break;
          case 'r':
            ch = '\r';
            break;
          case 't':
            ch = '\t';
            break;
          default:
            break;
        }
      }
      if (ch == '\n') ++m_line;
      if (!cut) value += ch;
      ++m_pos;
    }
    fail();
    return Item::Failed;
  }

  Item lexNumber() {
    const int line = m_line;
    const size_t start = m_pos;
    if (m_s[m_pos] == '0') {
      int base = 8;
      ++m_pos;
      if (m_pos < m_s.size() && (m_s[m_pos] == 'b' || m_s[m_pos] == 'B')) {
        base = 2;
        ++m_pos;
      } else if (m_pos < m_s.size() && (m_s[m_pos] == 'x' || m_s[m_pos] == 'X')) {
        base = 16;
        ++m_pos;
      }
      uint32_t value = 0;  // wraps like the 32-bit value it becomes
      while (m_pos < m_s.size() && digitValue(m_s[m_pos]) < base) {
        value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digitValue(m_s[m_pos]));
        ++m_pos;
      }
      emit(TokenKind::Integer, line).integer = static_cast<int32_t>(value);
      return Item::Token;
    }
    size_t i = m_pos;
    while (i < m_s.size() && isDigit(m_s[i])) ++i;
    if (i < m_s.size() && m_s[i] == '.') {
      ++i;
      while (i < m_s.size() && isDigit(m_s[i])) ++i;
    }
    if (i < m_s.size() && (m_s[i] == 'e' || m_s[i] == 'E')) {
      size_t j = i + 1;
      if (j < m_s.size() && (m_s[j] == '+' || m_s[j] == '-')) ++j;
      if (j < m_s.size() && isDigit(m_s[j])) {
        while (j < m_s.size() && isDigit(m_s[j])) ++j;
        i = j;
      }
    }
    const std::string digits(m_s.substr(start, i - start));
    const double value = std::strtod(digits.c_str(), nullptr);
    m_pos = i;
    if (value >= -2147483648.0 && value <= 2147483647.0 && value == static_cast<double>(static_cast<int32_t>(value))) {
      emit(TokenKind::Integer, line).integer = static_cast<int32_t>(value);
    } else {
      emit(TokenKind::Real, line).real = value;
    }
    return Item::Token;
  }

  std::string_view m_s;
  size_t m_pos;
  int m_line;
  int m_startLine;
  LexRun& m_run;
};

}  // namespace

void lexRun(std::string_view source, size_t pos, int line, LexRun& run) { Lexer(source, pos, line, run).run(); }

LexRun lexRun(std::string_view source, size_t pos, int line) {
  LexRun run;
  lexRun(source, pos, line, run);
  return run;
}

}  // namespace vantrel::templates
