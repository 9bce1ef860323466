// SPDX-License-Identifier: MIT
#pragma once
// Helpers for the template tests: parse a file and run its "start" template,
// collecting the page and the parser's report lines.

#include <string>
#include <string_view>
#include <vector>

#include "templates/data_provider.h"
#include "templates/output_sink.h"
#include "templates/template_interpreter.h"
#include "templates/template_parser.h"

namespace vantrel::templates::testing {

struct Rendered {
  std::string page;
  std::vector<std::string> reports;
  bool parsed = false;
};

inline Rendered renderText(std::string_view file, DataProvider* env = nullptr, AlternateOutputs* alternates = nullptr,
                           const RunLimits& limits = {}) {
  Rendered r;
  TemplateSet set;
  r.parsed = ParseTemplateFile(file, set, [&](std::string_view line) { r.reports.emplace_back(line); });
  if (const Template* start = set.find("start")) {
    PageBuffer page;
    RunTemplate(*start, env, page, alternates, limits);
    r.page = page.take();
  }
  return r;
}

// Runs code as the whole body of a one-line "start" template.
inline std::string run(std::string_view code, DataProvider* env = nullptr) {
  return renderText("<# start; " + std::string(code) + " endtmpl #>", env).page;
}

}  // namespace vantrel::templates::testing
