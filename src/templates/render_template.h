// SPDX-License-Identifier: MIT
#pragma once
// RenderTemplate: turns a named template file of the page archive into page
// bytes. The file's text is parsed afresh for every request and its "start"
// template runs against a fresh environment root; nothing of one rendering
// outlives it.
//
// Thread-safe as long as the archive is not changed: each call owns its parse,
// providers and page. The calling thread needs kRenderStackBytes of stack.

#include <string>
#include <string_view>

#include "core/error_table.h"
#include "templates/output_sink.h"
#include "templates/render_request.h"
#include "templates/template_archive.h"
#include "templates/template_interpreter.h"
#include "templates/template_parser.h"

namespace vantrel {
class Log;
}

namespace vantrel::templates {

struct RenderServices {
  ProviderFactory* providers = nullptr;  // sub-providers of the root; none: the root alone
  Log* log = nullptr;                     // for the two failure lines, at level 2
  ReportFn reports = reportToStdout;      // the parser's report lines
  RunLimits limits;
};

struct RenderResult {
  int error = err::kOk;  // kOk, kTemplateNotFound (400) or kTemplateParse (401)
  std::string page;      // empty on error, and when "start" wrote nothing
};

RenderResult RenderTemplate(std::string_view name, const TemplateArchive* archive, RenderRequest& request,
                            const RenderServices& services);

// The same, writing the page to out as it is made; returns the error code.
int RenderTemplate(std::string_view name, const TemplateArchive* archive, RenderRequest& request, OutputSink& out,
                   const RenderServices& services);

// The text of a template file: its bytes up to the first zero byte.
std::string_view templateText(std::string_view content);

}  // namespace vantrel::templates
