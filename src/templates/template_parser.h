// SPDX-License-Identifier: MIT
#pragma once
// The template parser: turns the text of a template file into a TemplateSet,
// and code handed to "execute" into a statement list. Diagnostics of a file
// are report lines handed to a ReportFn, by default written to standard output.
//
// Recursion is bounded by kMaxExpressionDepth and kMaxBlockDepth (see
// template_limits.h): nesting beyond them fails to parse with the message of
// the construct it sits in. Thread-safe: no shared state.

#include <functional>
#include <string>
#include <string_view>

#include "templates/template_tree.h"

namespace vantrel::templates {

// Receives one report line, without its line feed.
using ReportFn = std::function<void(std::string_view line)>;

// Writes report lines to standard output.
void reportToStdout(std::string_view line);

// Parses every template of the file into set, in order, and stops at the
// first one that fails. Templates parsed before a failure stay in set.
// Returns false when a template failed or the set is empty.
bool ParseTemplateFile(std::string_view text, TemplateSet& set, const ReportFn& report = reportToStdout);

struct ExecuteParse {
  const Node* body = nullptr;  // nullptr with no error: nothing to run
  int errorLine = 0;           // 0 when the code parsed
  std::string errorMessage;
};

// Parses code run by "execute" as a statement list. New variable names are
// appended to owner's list; nodes go into arena.
ExecuteParse parseExecuteCode(std::string_view code, Template& owner, NodeArena& arena);

}  // namespace vantrel::templates
