// SPDX-License-Identifier: MIT
#pragma once
// The interfaces through which a running template reaches beyond itself:
// DataProvider answers "env" references (a path of names, each with
// arguments), AlternateOutputs opens the sinks that "setoutput" names.
//
// Names arrive in lower case. Arguments are passed by value and live only
// for the call. A provider returned by Select stays owned by the provider
// that returned it and lives as long as that one. All calls come from the
// thread that renders the page.

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "templates/output_sink.h"
#include "templates/template_value.h"

namespace vantrel::templates {

using TemplateArgs = std::span<const TemplateValue>;

class DataProvider {
 public:
  virtual ~DataProvider() = default;

  // Runs the command as a statement; it writes its own result.
  virtual void Exec(std::string_view name, OutputSink& out, TemplateArgs args) = 0;
  // The sub-provider of that name, or nullptr.
  virtual DataProvider* Select(std::string_view name, OutputSink& out, TemplateArgs args) = 0;
  // Stores the command's value in result (which starts as integer 0).
  virtual void Eval(TemplateValue& result, std::string_view name, OutputSink& out, TemplateArgs args) = 0;
};

class AlternateOutputs {
 public:
  virtual ~AlternateOutputs() = default;

  // A new sink for the named output, or nullptr when there is none.
  virtual std::unique_ptr<OutputSink> Open(std::string_view name, OutputSink& current, TemplateArgs args) = 0;
};

// The text that providers write for a command they do not know.
inline std::string commandUnknownText(std::string_view name) {
  std::string text(" ");
  text += name;
  text += ": command unknown ";
  return text;
}

}  // namespace vantrel::templates
