// SPDX-License-Identifier: MIT
#include "templates/template_interpreter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "templates/sample_providers.h"
#include "templates/template_test_util.h"

namespace vantrel::templates {
namespace {

using testing::renderText;
using testing::run;

struct Case {
  const char* code;
  const char* page;
};

void expectPages(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(run(c.code), c.page);
  }
}

TEST(TemplateValues, ArithmeticByTheLeftOperandsType) {
  expectPages({
      {"7 / 2;", "3"},
      {"-7 / 2;", "-3"},
      {"-7 % 3;", "-1"},
      {"7 % -3;", "1"},
      {"7.5 - (1.5 - 1);", "7.000000"},  // no literal below one: 0.5 lexes as 0 . 5
      {"1 + 2.9;", "3"},
      {"2.5 + 1;", "3.500000"},
      {"7.9 % 2;", "1"},
      {"'abc' + 1;", "4"},
      {"1 + 'abc';", "4"},
      {"2.5 * 'ab';", "5.000000"},
      {"2147483647 + 1;", "-2147483648"},
      {"65536 * 65536;", "0"},
      {"-2147483647 - 1 - 1;", "2147483647"},
      {"(-2147483647 - 1) / -1;", "-2147483648"},
      {"(-2147483647 - 1) % -1;", "0"},
      {"-'abcd';", "-4"},
      {"+'abcd';", "4"},
      {"-2.5;", "-2.500000"},
      {"1.5 / 0 > 1000000;", "1"},
  });
}

TEST(TemplateValues, DivisionByZeroYieldsZeroWithAMessage) {
  expectPages({
      {"7 / 0;", " division by zero 0"},
      {"7 % 0;", " division by zero 0"},
      {"7 / (1.5 - 1);", " division by zero 0"},
      {"x := 5 % 0; 'after';", " division by zero after"},
  });
}

TEST(TemplateValues, ComparisonsAndLogic) {
  expectPages({
      {"1 < 2 = 1;", "1"},
      {"'abc' = 3;", "1"},
      {"'abc' < 'abd';", "1"},
      {"'Z' < 'a';", "1"},
      {"'ab' = 'ab';", "1"},
      {"'ab' = 'AB';", "0"},
      {"'ab' != 'ab';", "0"},
      {"2 = 2.0;", "1"},
      {"2 <= 2.5;", "1"},
      {"3 >= 2.5;", "1"},
      {"(1.5 - 1) && 1;", "0"},
      {"'' || 0;", "0"},
      {"'x' || 0;", "1"},
      {"!'';", "1"},
      {"!2;", "0"},
  });
  // The second operand of "&&" and "||" is not evaluated once the first decides.
  expectPages({
      {"x := 0; 0 && (x := 1); x;", "00"},
      {"x := 0; 1 || (x := 1); x;", "10"},
      {"x := 0; 1 && (x := 2); x;", "12"},
  });
}

TEST(TemplateValues, ConcatenationAndPrecedence) {
  expectPages({
      {"1 $ 2;", "12"},
      {"1.5 $ '';", "1.500000"},
  });
  // "$" binds tighter than "*": ("ab" $ 3) is a three-letter string, 3 * 2.
  EXPECT_EQ(run("'ab' $ 3 * 2;"), "6");
  EXPECT_EQ(run("2 + 3 * 4;"), "14");
  EXPECT_EQ(run("(2 + 3) * 4;"), "20");
  EXPECT_EQ(run("10 - 4 - 3;"), "3");
  EXPECT_EQ(run("a := b := 4; a $ b;"), "44");
}

TEST(TemplateValues, TheRightOperandIsReadBeforeTheLeftRuns) {
  expectPages({
      {"x := 1; (x := 5) + x;", "6"},
      {"x := 1; (1 + (x := 5)) * x;", "6"},
      {"x := 1; (x++ * 10) + x;", "11"},
      {"x := 1; (--x - 10) - x;", "-11"},
      {"s := 'a'; (s := 'b') $ s;", "ba"},
      {"s := 'a'; substr(s := 'xyz', 0, 2) $ s;", "xya"},
      {"s := 'a'; ('<' $ s) $ s;", "<aa"},
      {"s := 'a'; (('<' $ s) $ (s := 'b')) $ s;", "<bba"},
  });
  // A parameter is the caller's variable.
  EXPECT_EQ(renderText("<# t(p) #><# (p := 'new') $ p; #><# endtmpl #><# start; v := 'old'; tmpl.t(v); v; endtmpl #>").page,
            "newoldnew");
}

TEST(TemplateValues, IncrementAndDecrement) {
  expectPages({
      {"x := 5; x++; x;", "6"},
      {"x := 5; y := x++; y $ x;", "56"},
      {"x := 5; y := ++x; y $ x;", "66"},
      {"x := 5; y := x--; y $ x;", "54"},
      {"x := 1.5; x++; x;", "2.500000"},
      {"x := 'abc'; x++; x;", "4"},
      {"x := 'abc'; --x; x;", "2"},
      {"x := 2147483647; x++; x;", "-2147483648"},
  });
}

TEST(TemplateValues, Substr) {
  expectPages({
      {"substr('abcde', 1, 3);", "bcd"},
      {"substr('abcde', 4, 10);", "e"},
      {"substr('abcde', 5, 1);", " substr index larger than string 0"},
      {"substr('', 0, 1);", " substr index larger than string 0"},
      {"substr('abc', -1, 1);", " negative number for substr index or items 0"},
      {"substr('abc', 0, -1);", " negative number for substr index or items 0"},
      {"substr(12345, 1, 2);", "23"},
      {"substr(2.5, 0, 3);", "2.5"},
      {"substr('abc', 0, 0) $ '|';", "|"},
  });
}

// Conditions, operands of logic and right sides of assignments made only of
// integers run in an integer form of their own; an expression written as a
// statement is worked out on the tree. The two must agree on every operator,
// whatever shape its operands take, zero and -1 divisors included.
TEST(TemplateIntegerForm, AgreesWithTheTreeOnEveryOperator) {
  const std::string init = "a := 7; b := -3; c := 2; z := 0; m := -2147483647 - 1; m1 := -1; ";
  const char* ops[] = {"+", "-", "*", "/", "%", "<", ">", "<=", ">=", "=", "!=", "&&", "||"};
  const char* lefts[] = {"a", "5", "m", "(a * 3)", "-a", "!z"};
  const char* rights[] = {"b", "-3", "(b - c)", "z", "0", "m1", "(c - 3)"};
  const std::string_view zero = kDivisionByZero;
  for (const char* op : ops) {
    for (const char* left : lefts) {
      for (const char* right : rights) {
        const std::string expression = std::string(left) + " " + op + " " + right;
        SCOPED_TRACE(expression);
        const std::string tree = run(init + expression + ";");
        EXPECT_EQ(run(init + "r := " + expression + "; r;"), tree);
        const bool divided = tree.starts_with(zero);
        const std::string truth = (divided ? std::string(zero) : "") + (tree.substr(divided ? zero.size() : 0) != "0" ? "T" : "F");
        EXPECT_EQ(run(init + "if " + expression + "; 'T'; else; 'F'; endif;"), truth);
        EXPECT_EQ(run(init + "i := 0; while " + expression + ", i++; if i = 1; break; endif; endwhile; i;"),
                  (divided ? std::string(zero) : "") + (truth.back() == 'T' ? "1" : "0"));
      }
    }
  }
  expectPages({
      {"m := -2147483647 - 1; r := m / -1; r; ' '; r := m % -1; r;", "-2147483648 0"},
      {"m := 2147483647; s := 65536; r := m + 1; r; ' '; r := s * s; r; ' '; r := -(m + 1); r;",
       "-2147483648 0 -2147483648"},
      {"a := 7; r := -a / 2 * (a - 10) % 4 + !a - -a; r;", "8"},
  });
}

TEST(TemplateIntegerForm, ValuesThatAreNoIntegersAreLeftToTheTree) {
  expectPages({
      {"s := 'abc'; r := s + 1; r;", "4"},
      {"s := 'abc'; r := 1 + s * 2; r;", "7"},
      {"f := 2.5; r := f * 2; r;", "5.000000"},
      {"f := 2.5; r := 2 * f; r;", "4"},
      {"s := 'abc'; if s > 2 && !''; 'yes'; endif;", "yes"},
      {"z := 0; r := 7 / z; r;", " division by zero 0"},
      {"z := 0; if 7 % z = 0; 'zero'; endif;", " division by zero zero"},
      {"z := 0; r := 1 + (8 / z); r;", " division by zero 1"},
      // A variable that changes its type between passes.
      {"i := 0; v := 1; while i < 4, i++; v := v * 3; if i = 1; v := 'ab'; endif; v $ ' '; endwhile;", "3 ab 6 18 "},
      {"i := 'abc'; while i < 6, i++; i; endwhile;", "abc45"},
      {"k := 4; execute('<# n := 5; m := n * n + k; #>'); m; ' '; m := m - 1; m;", "29 28"},
  });
  // Parameters hold references to the caller's variables, whatever they hold;
  // with more arguments than parameters, the last ones are the parameters.
  const std::string lib =
      "<# t(p) #><# r := p * 2; r; ' '; p := p + 1; #><# endtmpl #>"
      "<# two(p, q) #><# if p < q; p; else; q; endif; r := p - q; r; #><# endtmpl #>";
  EXPECT_EQ(renderText(lib + "<# start; n := 5; tmpl.t(n); n; ' '; s := 'xyz'; tmpl.t(s); s; endtmpl #>").page,
            "10 6 6 4");
  EXPECT_EQ(renderText(lib + "<# start; a := 9; tmpl.two(1, a, 4); endtmpl #>").page, "45");
}

TEST(TemplateIntegerForm, DeepestExpressionsKeepTheirValue) {
  // As deep on the right as the parser allows: every operand waits on the
  // integer form's stack.
  int deepest = 0;
  for (int n = kMaxExpressionDepth + 4; n > 0 && deepest == 0; --n) {
    std::string e = "a";
    for (int i = 0; i < n; ++i) e = "a + (" + e + ")";
    const auto r = renderText("<# start; a := 1; r := " + e + "; r; ' '; if " + e + " = " + std::to_string(n + 1) +
                              "; 'same'; endif; endtmpl #>");
    if (!r.parsed) continue;
    deepest = n;
    EXPECT_EQ(r.page, std::to_string(n + 1) + " same");
  }
  EXPECT_GT(deepest, kMaxExpressionDepth / 3);
}

TEST(TemplateStatements, IfElseifElse) {
  const char* chain = "if a = 1; 'one'; elseif a = 2; 'two'; elseif a >= 2; 'many'; else; 'none'; endif;";
  for (const auto& [a, page] : std::map<int, std::string>{{1, "one"}, {2, "two"}, {3, "many"}, {0, "none"}}) {
    EXPECT_EQ(run("a := " + std::to_string(a) + "; " + chain), page) << a;
  }
  const char* noElse = "if a = 1; 'one'; elseif a = 2; 'two'; endif; '.';";
  EXPECT_EQ(run(std::string("a := 2; ") + noElse), "two.");
  EXPECT_EQ(run(std::string("a := 3; ") + noElse), ".");
  EXPECT_EQ(run("if 'text'; 'yes'; endif; if ''; 'no'; endif;"), "yes");
  EXPECT_EQ(run("if 1; endif; if 0; else; endif; 'empty blocks';"), "empty blocks");
}

TEST(TemplateStatements, WhileLoops) {
  expectPages({
      {"i := 0; while i < 3, i++; i; endwhile;", "012"},
      {"i := 0; while i < 5, i++; if i = 1; continue; endif; i; endwhile;", "0234"},
      {"i := 0; while 1, i++; if i = 3; break; endif; i; endwhile; '|' $ i;", "012|3"},
      {"i := 0; while 0; 'never'; endwhile; 'done';", "done"},
      {"i := 0; j := 0; while i < 2, i++; j := 0; while j < 2, j++; i $ j $ ' '; endwhile; endwhile;", "00 01 10 11 "},
  });
  // A loop that never ends by itself runs its body exactly 1000 times.
  const std::string page = run("n := 0; while 1; n++; endwhile; n;");
  EXPECT_EQ(page, " while iteration max reached 1000");
  // "continue" counts a pass too.
  EXPECT_EQ(run("n := 0; while 1; n++; continue; endwhile; n;"), " while iteration max reached 1000");
}

TEST(TemplateStatements, ReturnAndExit) {
  const std::string file =
      "<# inner #>in<# return; #>never<# endtmpl #>"
      "<# start #>a<# tmpl.inner; #>b<# exit; #>c<# endtmpl #>";
  EXPECT_EQ(renderText(file).page, "ainb");
  EXPECT_EQ(run("i := 0; while 1, i++; if i = 2; return; endif; i; endwhile; 'never';"), "01");
}

TEST(TemplateCalls, ArgumentsParametersAndReferences) {
  const std::string lib =
      "<# two(a, b) #>[<# a; #>,<# b; #>]<# endtmpl #>"
      "<# one(a) #>[<# a; #>:<# param[0]; #>:<# param[1]; #>:<# param[3]; #>]<# endtmpl #>"
      "<# set(p) #><# p := 'changed'; #><# endtmpl #>"
      "<# badparam #><# param[-1]; param[1]; #><# endtmpl #>"
      "<# count(n) #><# if n > 0; n; tmpl.count(n - 1); endif; #><# endtmpl #>";
  struct CallCase {
    const char* body;
    const char* page;
  };
  const CallCase cases[] = {
      {"tmpl.two(1, 'x');", "[1,x]"},
      {"tmpl.two(1);", " template two call missing params "},
      {"tmpl.one(1, 2, 3);", "[3:3:1:3]"},
      {"v := 'kept'; tmpl.set(v); v;", "changed"},
      {"v := 'kept'; tmpl.set(v $ ''); v;", "kept"},
      {"tmpl.badparam;", " param out of range 0 param out of range 0"},
      {"tmpl.count(3);", "321"},
      {"tmpl.nothere(1);", " can't find template nothere "},
      {"sys.anything(1);", " sys commands disabled "},
  };
  for (const CallCase& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(renderText(lib + "<# start; " + c.body + " endtmpl #>").page, c.page);
  }
}

TEST(TemplateCalls, RecursionStopsAfter101Calls) {
  const auto r = renderText("<# start; tmpl.deep; 'never'; endtmpl #><# deep; 'x'; tmpl.deep; 'never'; endtmpl #>");
  EXPECT_EQ(r.page, std::string(100, 'x') + " too many nested template calls ");
}

TEST(TemplateCalls, DeepRecursionInsideBlocksStaysWithinTheStack) {
  // Every call level nests blocks as deep as allowed; the run must finish.
  std::string open;
  std::string close;
  for (int i = 0; i < kMaxBlockDepth - 2; ++i) {
    open += "if 1; ";
    close += "endif; ";
  }
  const std::string deep = "<# deep; " + open + "while 1; tmpl.deep; endwhile; " + close + "endtmpl #>";
  const auto r = renderText("<# start; tmpl.deep; endtmpl #>" + deep);
  EXPECT_TRUE(r.parsed);
  EXPECT_EQ(r.page, " too many nested template calls ");
}

TEST(TemplateExecute, RunsCodeInTheCallersFrame) {
  expectPages({
      {"x := 1; execute('<# x := x + 1; #>'); x;", "2"},
      {"execute('ignored<# y := 5; #>after'); y;", "after5"},
      // Variables the code adds stay for a later execute in the same call.
      {"execute('<# z := 7; #>'); execute('<# z; #>');", "7"},
      {"execute('<# return; 1; #>'); 'goes on';", "goes on"},
      {"execute(5);", " execute parameter is not a string "},
      {"execute('<# 1 + ; #>');", " execute: line 1: invalid operand "},
      {"execute('no code');", " execute: line 1: missing or invalid characters "},
      {"execute('<#\n\nbreak; #>');", " execute: line 3: break/continue requires enclosing while "},
      {"execute('<# i := 0; while i < 3, i++; i; endwhile; #>');", "012"},
      {"execute('<# execute(\\'<# 1; #>\\'); #>');", " execute not allowed within execute "},
  });
  // Code run by "execute" may call templates, which may execute in turn.
  const std::string file =
      "<# inner #><# execute('<# \\'inner\\'; #>'); #><# endtmpl #>"
      "<# start; execute('<# tmpl.inner; #>'); endtmpl #>";
  EXPECT_EQ(renderText(file).page, "inner");
}

TEST(TemplateExecute, CopiesBelongToTheCallThatMadeThem) {
  // A recursive call ends without dropping its caller's copy: the caller's
  // variables from "execute" keep their own slots.
  const std::string file =
      "<# rec(n) #><# execute('<# a := n; #>'); if n > 0; tmpl.rec(n - 1); endif; "
      "execute('<# b := 10 * n; #>'); execute('<# a $ \\':\\' $ b $ \\' \\'; #>'); #><# endtmpl #>"
      "<# start; tmpl.rec(2); endtmpl #>";
  EXPECT_EQ(renderText(file).page, "0:0 1:10 2:20 ");
}

class RecordingProvider : public DataProvider {
 public:
  explicit RecordingProvider(std::string name) : m_name(std::move(name)) {}

  void Exec(std::string_view name, OutputSink& out, TemplateArgs args) override {
    out.Write("<exec " + m_name + "." + std::string(name) + describe(args) + ">");
  }
  DataProvider* Select(std::string_view name, OutputSink&, TemplateArgs) override {
    if (name == "none") return nullptr;
    auto& child = m_children[std::string(name)];
    if (!child) child = std::make_unique<RecordingProvider>(m_name + "." + std::string(name));
    return child.get();
  }
  void Eval(TemplateValue& result, std::string_view name, OutputSink&, TemplateArgs args) override {
    result = TemplateValue::string("<eval " + m_name + "." + std::string(name) + describe(args) + ">");
  }

 private:
  static std::string describe(TemplateArgs args) {
    std::string text;
    for (const TemplateValue& a : args) {
      text += ' ';
      a.appendText(text);
    }
    return text;
  }

  std::string m_name;
  std::map<std::string, std::unique_ptr<RecordingProvider>> m_children;
};

TEST(TemplateEnv, StatementsExecAndExpressionsEval) {
  RecordingProvider root("root");
  struct EnvCase {
    const char* code;
    const char* page;
  };
  const EnvCase cases[] = {
      {"env.Cmd;", "<exec root.cmd>"},
      {"env.Client.Name(1, 'a' $ 2);", "<exec root.client.name 1 a2>"},
      {"x := env.client.name; x;", "<eval root.client.name>"},
      {"env.a.b.c(2.5) $ '';", "<eval root.a.b.c 2.500000>"},
      {"env.none.cmd; 'next';", "next"},
      {"x := env.none.cmd; x;", "0"},
      // An assignment among the arguments runs after the right operand is read.
      {"x := 1; env.f(x := 5) $ x;", "<eval root.f 5>1"},
  };
  for (const EnvCase& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(run(c.code, &root), c.page);
  }
  EXPECT_EQ(run("env.x; 'y';"), " no environment commands defined y");
}

class BufferOutputs : public AlternateOutputs {
 public:
  class Sink : public OutputSink {
   public:
    explicit Sink(std::string& target) : m_target(target) {}
    bool Write(std::string_view bytes) override {
      m_target += bytes;
      return true;
    }

   private:
    std::string& m_target;
  };
  std::unique_ptr<OutputSink> Open(std::string_view name, OutputSink&, TemplateArgs args) override {
    if (name != "side") return nullptr;
    opened += args.size();
    return std::make_unique<Sink>(side);
  }
  std::string side;
  size_t opened = 0;
};

TEST(TemplateOutputs, SetOutputRedirectsAndRestores) {
  BufferOutputs outputs;
  const auto r = renderText("<# start #>a<# setoutput side(1, 2); #>b<# endsetoutput; #>c<# setoutput other; 'x'; endsetoutput; endtmpl #>",
                            nullptr, &outputs);
  EXPECT_EQ(r.page, "ac output \"other\" not known ");
  EXPECT_EQ(outputs.side, "b");
  EXPECT_EQ(outputs.opened, 2u);
  EXPECT_EQ(run("setoutput side; 'x'; endsetoutput;"), " no alternate outputs specified ");
}

TEST(TemplateLimits, DoublingAStringStopsTheRunQuickly) {
  const auto r = renderText(
      "<# start; s := 'x'; i := 0; while i < 1000, i++; j := 0; while j < 1000, j++; s := s $ s; endwhile; endwhile; "
      "'never'; endtmpl #>");
  EXPECT_EQ(r.page, kStringTooLong);
}

TEST(TemplateLimits, StringWorkIsBudgeted) {
  RunLimits limits;
  limits.stringWorkBudget = 1000;
  const auto r = renderText("<# start; s := ''; while 1; s := s $ 'abcdefghij'; endwhile; endtmpl #>", nullptr, nullptr, limits);
  EXPECT_EQ(r.page, kStringBudgetSpent);
}

TEST(TemplateLimits, StepBudgetStopsTheRun) {
  RunLimits limits;
  limits.maxSteps = 50;
  const auto r = renderText("<# start; while 1; while 1; 'x'; endwhile; endwhile; endtmpl #>", nullptr, nullptr, limits);
  EXPECT_EQ(r.page.substr(r.page.size() - std::string_view(kStepLimitReached).size()), kStepLimitReached);
}

TEST(TemplateLimits, EveryStatementAndPassIsAStep) {
  // One step for the first statement, then three a pass: the pass, the
  // assignment and the output; the 57th step stops the run.
  RunLimits limits;
  limits.maxSteps = 56;
  const auto r = renderText("<# start; i := 0; while 1, i++; x := i * 2; x $ ','; endwhile; endtmpl #>", nullptr, nullptr,
                            limits);
  EXPECT_EQ(r.page, "0,2,4,6,8,10,12,14,16,18,20,22,24,26,28,30,32,34," + std::string(kStepLimitReached));
}

TEST(TemplateLimits, PageStopsAtItsLimit) {
  TemplateSet set;
  ASSERT_TRUE(ParseTemplateFile("<# start; while 1; while 1; '0123456789'; endwhile; endwhile; 'never'; endtmpl #>", set));
  PageBuffer page(95);
  RunTemplate(*set.find("start"), nullptr, page, nullptr);
  std::string expected;
  for (int i = 0; i < 9; ++i) expected += "0123456789";
  EXPECT_EQ(page.page(), expected + std::string(PageBuffer::kFullMessage));
  EXPECT_TRUE(page.full());
}

TEST(TemplateLimits, AProviderFillingThePageStopsTheRun) {
  TableProvider env;
  env.set("big", TemplateValue::string(std::string(60, 'b')));
  TemplateSet set;
  ASSERT_TRUE(ParseTemplateFile("<# start; env.big; env.big; 'never'; endtmpl #>", set));
  PageBuffer page(100);
  RunTemplate(*set.find("start"), &env, page, nullptr);
  EXPECT_EQ(page.page(), std::string(60, 'b') + std::string(PageBuffer::kFullMessage));
}

TEST(PageBuffer, ManySmallWritesKeepEveryByte) {
  PageBuffer page;
  std::string expected;
  for (int i = 0; i < 10000; ++i) {
    const std::string piece = std::to_string(i) + ",";
    EXPECT_TRUE(page.Write(piece));
    expected += piece;
  }
  EXPECT_EQ(page.page(), expected);
}

}  // namespace
}  // namespace vantrel::templates

namespace vantrel::templates {
namespace {

// Records the lowest stack address that a provider call sees.
class StackProbe : public DataProvider {
 public:
  void Exec(std::string_view, OutputSink&, TemplateArgs) override { mark(); }
  DataProvider* Select(std::string_view, OutputSink&, TemplateArgs) override { return nullptr; }
  void Eval(TemplateValue& result, std::string_view, OutputSink&, TemplateArgs) override {
    mark();
    result = TemplateValue::integer(1);
  }
  uintptr_t lowest = UINTPTR_MAX;
  int calls = 0;

 private:
  void mark() {
    volatile char marker = 0;
    lowest = std::min(lowest, reinterpret_cast<uintptr_t>(&marker));
    ++calls;
  }
};

TEST(TemplateLimits, WorstCaseNestingFitsTheStatedStack) {
  // Every call level nests as many blocks as a template and its executed code
  // may, and the deepest level evaluates an expression as deep as allowed.
  auto blocks = [](int n, std::string_view inner) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "if 1; ";
    s += inner;
    for (int i = 0; i < n; ++i) s += "endif; ";
    return s;
  };
  std::string expression = "env.probe";
  for (int i = 0; i < 85; ++i) expression = "1 + (" + expression + ")";
  const std::string executed =
      blocks(kMaxBlockDepth - 1, "if n < 100; tmpl.deep(n + 1); else; x := " + expression + "; endif; ");
  std::string quoted;
  for (char c : executed) {
    if (c == '\'') quoted += '\\';
    quoted += c;
  }
  const std::string file = "<# deep(n); " + blocks(kMaxBlockDepth - 1, "execute('<# " + quoted + " #>'); ") +
                           "endtmpl #><# start; tmpl.deep(1); endtmpl #>";
  StackProbe probe;
  volatile char top = 0;
  const auto r = renderText(file, &probe);
  ASSERT_TRUE(r.parsed) << (r.reports.empty() ? "" : r.reports[0]);
  EXPECT_EQ(r.page, "");
  ASSERT_EQ(probe.calls, 1);
  const uintptr_t used = reinterpret_cast<uintptr_t>(&top) - probe.lowest;
  std::printf("stack used at the deepest point: %zu bytes\n", static_cast<size_t>(used));
  EXPECT_LT(used, kRenderStackBytes);
}

}  // namespace
}  // namespace vantrel::templates
