// SPDX-License-Identifier: MIT
#include "templates/template_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "templates/template_limits.h"
#include "templates/template_test_util.h"
#include "templates/template_token.h"

namespace vantrel::templates {
namespace {

using testing::renderText;
using testing::run;

TEST(TemplateTokenTable, IndexesMatchTheSymbols) {
  EXPECT_EQ(kTokenText[static_cast<size_t>(Sym::If)], "if");
  EXPECT_EQ(kTokenText[static_cast<size_t>(Sym::Execute)], "execute");
  EXPECT_EQ(kTokenText[static_cast<size_t>(Sym::Assign)], ":=");
  EXPECT_EQ(kTokenText[static_cast<size_t>(Sym::Dollar)], "$");
  EXPECT_EQ(kTokenText[static_cast<size_t>(Sym::CodeEnd)], "#>");
  for (size_t empty : {0, 1, 8, 22}) EXPECT_TRUE(kTokenText[empty].empty()) << empty;
  // Operator codes double as node codes.
  EXPECT_EQ(static_cast<int>(NodeCode::Concat), static_cast<int>(Sym::Dollar));
  EXPECT_EQ(static_cast<int>(NodeCode::LessEqual), static_cast<int>(Sym::LessEqual));
}

TEST(TemplateLexer, NumbersAndStrings) {
  struct Case {
    const char* code;
    const char* page;
  };
  const Case cases[] = {
      {"0x1F;", "31"},
      {"0X1f;", "31"},
      {"0b101;", "5"},
      {"017;", "15"},
      {"0;", "0"},
      {"2.5;", "2.500000"},
      {"2.0;", "2"},
      {"1e3;", "1000"},
      {"3000000000;", "3000000000.000000"},
      {"'single\";", "single"},
      {"\"double';", "double"},
      {"'a\\nb\\tc\\\\d\\'e';", "a\nb\tc\\d'e"},
      {"'cut\\0off';", "cut"},
      {"// a comment that ends at the code end #>after<#", "after"},
      {"x := 1;; x;", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(run(c.code), c.page);
  }
}

TEST(TemplateLexer, TextSegments) {
  struct Case {
    const char* file;
    const char* page;
  };
  const Case cases[] = {
      // Commentary before the first "<#" and between templates is ignored.
      {"notes\n<# start #>page<# endtmpl #>\nmore notes", "page"},
      // One line end after "#>" is swallowed, a second one is not.
      {"<# start #>\nA\n\nB<# endtmpl #>", "A\n\nB"},
      {"<# start #>\r\nA<# endtmpl #>", "A"},
      // Tabs at both ends of a segment go, spaces stay.
      {"<# start #>\t\t a \t<# endtmpl #>", " a "},
      {"<# START #>upper<# ENDTMPL #>", "upper"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto r = renderText(c.file);
    EXPECT_TRUE(r.parsed);
    EXPECT_EQ(r.page, c.page);
  }
}

struct ErrorCase {
  const char* name;
  std::string file;
  std::vector<std::string> reports;
};

TEST(TemplateParser, ReportsEveryErrorWithItsLine) {
  const ErrorCase cases[] = {
      {"no code at all", "just text", {"template unknown, line 1: missing or invalid characters", "no templates added"}},
      {"08 is two numbers", "<# start; 08; endtmpl #>", {"template start, line 1: statement end expected", "no templates added"}},
      {"endtmpl then ;", "<# start; 1; endtmpl; #>", {"template start, line 1: missing or invalid characters", "no templates added"}},
      {"endtmpl then a name", "<# start; 1; endtmpl x", {"template start, line 1: statement end expected", "no templates added"}},
      {"bad character", "<# start;\n@ endtmpl #>", {"template start, line 1: missing or invalid characters", "no templates added"}},
      {"open string", "<# start; 'abc endtmpl #>", {"template start, line 1: missing or invalid characters", "no templates added"}},
      {"open comment", "<# start; // forever", {"template start, line 1: missing or invalid characters", "no templates added"}},
      {"no name", "<# 5; endtmpl #>", {"template unknown, line 1: missing or invalid template name", "no templates added"}},
      {"empty parameter list", "<# start(); 1; endtmpl #>", {"template start, line 1: invalid parameter name", "no templates added"}},
      {"open parameter list", "<#\nstart(a\n; 1; endtmpl #>", {"template start, line 2: expected ) on parameter list", "no templates added"}},
      {"head without ;", "<# start 1; endtmpl #>", {"template start, line 1: statement end expected", "no templates added"}},
      {"empty body", "<# start #><# endtmpl #>", {"template start, line 1: no statements in template", "no templates added"}},
      {"missing endtmpl", "<# start\n#>text", {"template start, line 1: missing endtmpl", "no templates added"}},
      {"unrecognized", "<# start; 1;\n) endtmpl #>", {"template start, line 2: unrecognized statement", "no templates added"}},
      {"stray endif", "<# start;\nendif; endtmpl #>", {"template start, line 2: unrecognized statement", "no templates added"}},
      {"break outside while", "<# start;\nbreak; endtmpl #>", {"template start, line 2: break/continue requires enclosing while", "no templates added"}},
      {"tmpl without .", "<# start; tmpl x; endtmpl #>", {"template start, line 1: tmpl lacks .", "no templates added"}},
      {"tmpl without name", "<# start; tmpl.5; endtmpl #>", {"template start, line 1: tmpl lacks name", "no templates added"}},
      {"sys without .", "<# start; sys x; endtmpl #>", {"template start, line 1: sys lacks .", "no templates added"}},
      {"sys without name", "<# start; sys.; endtmpl #>", {"template start, line 1: sys lacks name", "no templates added"}},
      {"execute without (", "<# start; execute 'x'; endtmpl #>", {"template start, line 1: execute lacks (", "no templates added"}},
      {"execute without expression", "<# start; execute(); endtmpl #>", {"template start, line 1: execute: invalid expression", "no templates added"}},
      {"execute without )", "<# start; execute('x'; endtmpl #>", {"template start, line 1: execute lacks )", "no templates added"}},
      {"if without condition", "<# start;\nif; endif; endtmpl #>", {"template start, line 2: if lacks expression", "no templates added"}},
      {"if head without ;", "<# start;\nif 1 2; endif; endtmpl #>", {"template start, line 2: statement end expected", "no templates added"}},
      {"if without endif", "<# start;\nif 1;\n2;", {"template start, line 2: if lacks endif", "no templates added"}},
      {"elseif without condition", "<# start; if 1;\nelseif; endif; endtmpl #>", {"template start, line 2: elseif lacks expression", "no templates added"}},
      {"else head without ;", "<# start; if 1;\nelse 2; endif; endtmpl #>", {"template start, line 2: statement end expected", "no templates added"}},
      {"elseif after else", "<# start; if 1; else;\nelseif 2; endif; endtmpl #>", {"template start, line 2: unrecognized statement", "no templates added"}},
      {"third while", "<# start; while 1; while 1;\n while 1; endwhile; endwhile; endwhile; endtmpl #>",
       {"template start, line 2: nested while statement limit exceded", "no templates added"}},
      {"while without condition", "<# start;\nwhile; endwhile; endtmpl #>", {"template start, line 2: while lacks expression", "no templates added"}},
      {"while without iterator", "<# start; while 1,\n; endwhile; endtmpl #>", {"template start, line 2: while lacks iterator expression", "no templates added"}},
      {"while head not ended", "<# start;\nwhile 1, 2 3; endwhile; endtmpl #>", {"template start, line 2: while lacks iterator statement", "no templates added"}},
      {"while without endwhile", "<# start;\nwhile 1; 2;", {"template start, line 2: while lacks endwhile", "no templates added"}},
      {"setoutput without name", "<# start;\nsetoutput; endsetoutput; endtmpl #>", {"template start, line 2: setoutput lacks name", "no templates added"}},
      {"setoutput head without ;", "<# start;\nsetoutput a 1; endsetoutput; endtmpl #>", {"template start, line 2: statement end expected", "no templates added"}},
      {"setoutput without end", "<# start;\nsetoutput a; 1;", {"template start, line 2: setoutput lacks endsetoutput", "no templates added"}},
      {"assignment to a number", "<# start;\n1 := 2; endtmpl #>", {"template start, line 2: variable required for assignment", "no templates added"}},
      {"assignment to parentheses", "<# start; (x) := 2; endtmpl #>", {"template start, line 1: variable required for assignment", "no templates added"}},
      {"nothing after :=", "<# start; x :=\n; endtmpl #>", {"template start, line 2: invalid expression", "no templates added"}},
      {"nothing after (", "<# start; (\n); endtmpl #>", {"template start, line 2: invalid expression", "no templates added"}},
      {"operator without operand", "<# start; 1 +\n; endtmpl #>", {"template start, line 2: invalid operand", "no templates added"}},
      {"prefix without operand", "<# start; !\n; endtmpl #>", {"template start, line 2: invalid operand", "no templates added"}},
      {"prefix ++ on a number", "<# start; ++5\n; endtmpl #>", {"template start, line 2: variable required for ++/--", "no templates added"}},
      {"postfix ++ on a number", "<# start;\n5\n++; endtmpl #>", {"template start, line 2: variable required for ++/--", "no templates added"}},
      {"open parenthesis", "<# start;\n(1\n; endtmpl #>", {"template start, line 2: expected ) on expression", "no templates added"}},
      {"substr without (", "<# start; substr\n1; endtmpl #>", {"template start, line 2: expected ( after substr", "no templates added"}},
      {"substr without string", "<# start; substr(\n); endtmpl #>", {"template start, line 2: invalid string expression", "no templates added"}},
      {"substr without first ,", "<# start; substr('a'\n); endtmpl #>", {"template start, line 2: expected , after string expression", "no templates added"}},
      {"substr without index", "<# start; substr('a',\n); endtmpl #>", {"template start, line 2: invalid expression", "no templates added"}},
      {"substr without second ,", "<# start; substr('a', 1\n); endtmpl #>", {"template start, line 2: expected , after expression", "no templates added"}},
      {"substr without count", "<# start; substr('a', 1,\n); endtmpl #>", {"template start, line 2: invalid expression", "no templates added"}},
      {"substr not closed", "<# start;\nsubstr('a', 1, 1; endtmpl #>", {"template start, line 2: expected ) after substr", "no templates added"}},
      {"env without .", "<# start;\nenv x; endtmpl #>", {"template start, line 2: expected . after env", "no templates added"}},
      {"env without name", "<# start; env.\n5; endtmpl #>", {"template start, line 2: missing or invalid env name", "no templates added"}},
      {"env path without name", "<# start; env.a.\n5; endtmpl #>", {"template start, line 2: missing or invalid env name", "no templates added"}},
      {"param without [", "<# start;\nparam 1; endtmpl #>", {"template start, line 2: expected [ after param", "no templates added"}},
      {"param without index", "<# start; param[\n]; endtmpl #>", {"template start, line 2: invalid param expression", "no templates added"}},
      {"param not closed", "<# start;\nparam[1; endtmpl #>", {"template start, line 2: expected ] on param expression", "no templates added"}},
      {"empty call arguments", "<# start; env.a(\n); endtmpl #>", {"template start, line 2: invalid parameter", "no templates added"}},
      {"call not closed", "<# start; env.a\n(1\n; endtmpl #>", {"template start, line 2: expected ) on parameter list", "no templates added"}},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = renderText(c.file);
    EXPECT_FALSE(r.parsed);
    EXPECT_EQ(r.reports, c.reports);
  }
}

TEST(TemplateParser, KeepsTemplatesBeforeAFailure) {
  const std::string file =
      "<# start; tmpl.other; endtmpl #>\n"
      "<# other #>other<# endtmpl #>\n"
      "<# other #>again<# endtmpl #>\n"
      "<# never #>never<# endtmpl #>";
  const auto r = renderText(file);
  EXPECT_FALSE(r.parsed);
  EXPECT_EQ(r.reports, std::vector<std::string>{"template other, after line 2: has the same name as a previous template"});
  EXPECT_EQ(r.page, "other");
}

TEST(TemplateParser, OneLineFilesParse) {
  // The end of the last template on line 1 is not an error: only the file's
  // first run must find a template.
  for (const char* file : {"<# start #>one line<# endtmpl #>", "<# start #>one line<# endtmpl #> trailing words",
                           "<# a #>A<# endtmpl #><# start; tmpl.a; endtmpl #>"}) {
    SCOPED_TRACE(file);
    const auto r = renderText(file);
    EXPECT_TRUE(r.parsed);
    EXPECT_TRUE(r.reports.empty());
  }
}

TEST(TemplateParser, DeepNestingFailsWithTheConstructsMessage) {
  struct Case {
    const char* name;
    std::string code;
    std::string report;
  };
  const int deep = 100000;
  std::string ifs;
  for (int i = 0; i < deep / 100; ++i) ifs += "if 1; ";
  std::string chain = "1";
  for (int i = 0; i < deep; ++i) chain += "+1";
  std::string prefix(deep, '-');
  const Case cases[] = {
      {"parentheses", std::string(deep, '(') + "1" + std::string(deep, ')'), "invalid expression"},
      {"prefix operators", prefix + "1", "invalid operand"},
      {"operator chain", chain, "invalid operand"},
      {"string of :=", [] {
         std::string s;
         for (int i = 0; i < 1000; ++i) s += "a := ";
         return s + "1";
       }(), "invalid expression"},
      {"nested if", ifs, "unrecognized statement"},
      {"nested calls", [] {
         std::string s;
         for (int i = 0; i < 1000; ++i) s += "env.a(";
         return s + "1" + std::string(1000, ')');
       }(), "invalid parameter"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = renderText("<# start; " + c.code + "; endtmpl #>");
    ASSERT_EQ(r.reports.size(), 2u);
    EXPECT_EQ(r.reports[0], "template start, line 1: " + c.report);
  }
  // Nesting within the bounds parses.
  std::string fine;
  for (int i = 0; i < kMaxBlockDepth; ++i) fine += "if 1; ";
  fine += "'deep'; ";
  for (int i = 0; i < kMaxBlockDepth; ++i) fine += "endif; ";
  EXPECT_EQ(run(fine + std::string(50, '(') + "1" + std::string(50, ')') + ";"), "deep1");
}

}  // namespace
}  // namespace vantrel::templates
