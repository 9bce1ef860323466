// SPDX-License-Identifier: MIT
#pragma once
// Tokens of the template language and the lexer that makes them. The token
// table below is the language's: its indexes are also the node codes of the
// parse tree, so the enum and kTokenText must stay in step (a test checks it).
//
// The lexer reads one "run": from a position in the source up to the end, or
// up to the "#>" that follows "endtmpl". Thread-safe: no state.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::templates {

enum class TokenKind : uint8_t { Text = 0, String = 1, Name = 2, Integer = 3, Real = 4, Symbol = 5 };

// Keywords (2 to 21) and operators (23 to 48); 0, 1, 8 and 22 match nothing.
enum class Sym : uint8_t {
  None = 0,
  If = 2, ElseIf, Else, EndIf, While, EndWhile,
  Break = 9, Continue, Return, Exit, SetOutput, EndSetOutput, Tmpl, Sys, Env, Param, EndTmpl, Substr, Execute,
  Assign = 23, PlusPlus, MinusMinus, LessEqual, GreaterEqual, NotEqual, Less, Greater, Equal, Or, And, Not,
  Plus, Minus, Times, Divide, Modulo, Dollar, LeftBracket, RightBracket, Comma, LeftParen, RightParen, Dot,
  Semicolon, CodeEnd,
};

inline constexpr int kFirstKeyword = 2;
inline constexpr int kLastKeyword = 21;
inline constexpr int kFirstOperator = 23;
inline constexpr int kLastOperator = 48;

inline constexpr std::array<std::string_view, 49> kTokenText = {
    "",       "",        "if",    "elseif",       "else", "endif", "while", "endwhile", "",
    "break",  "continue", "return", "exit", "setoutput", "endsetoutput", "tmpl", "sys", "env",
    "param",  "endtmpl", "substr", "execute", "",
    ":=", "++", "--", "<=", ">=", "!=", "<", ">", "=", "||", "&&", "!", "+", "-", "*", "/", "%", "$",
    "[",  "]",  ",",  "(",  ")",  ".",  ";", "#>",
};

struct Token {
  TokenKind kind = TokenKind::Symbol;
  Sym sym = Sym::None;  // Symbol only
  int line = 0;
  int32_t integer = 0;  // Integer only
  double real = 0;      // Real only
  std::string text;     // Text, String (up to an escaped zero), Name (lower case)

  bool is(Sym s) const { return kind == TokenKind::Symbol && sym == s; }
};

struct LexRun {
  std::vector<Token> tokens;
  size_t end = 0;     // where the next run starts
  int endLine = 0;    // line at that position
  bool failed = false;
  int errorLine = 0;  // line of the last token read, or the starting line
};

// Lexes one run from pos, counting lines from line. A run that produces no
// token is not an error here; the caller decides what an empty run means.
LexRun lexRun(std::string_view source, size_t pos, int line);
// The same into run, reusing the room its token list already has.
void lexRun(std::string_view source, size_t pos, int line, LexRun& run);

}  // namespace vantrel::templates
