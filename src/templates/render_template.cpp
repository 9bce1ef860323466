// SPDX-License-Identifier: MIT
#include "templates/render_template.h"

#include "core/log.h"
#include "templates/env_root.h"

namespace vantrel::templates {

std::string_view templateText(std::string_view content) { return content.substr(0, content.find('\0')); }

int RenderTemplate(std::string_view name, const TemplateArchive* archive, RenderRequest& request, OutputSink& out,
                   const RenderServices& services) {
  const std::optional<std::string_view> content = archive != nullptr ? archive->FindEntry(name) : std::nullopt;
  if (!content) {
    if (services.log != nullptr) {
      services.log->logActivity("Error loading filereader for template " + std::string(name), request.peerAddress(), 2);
    }
    return err::kTemplateNotFound;
  }
  TemplateSet set;
  ParseTemplateFile(templateText(*content), set, services.reports);
  const Template* start = set.find("start");
  if (start == nullptr) {
    if (services.log != nullptr) {
      services.log->logActivity("Error finding start/finish tags in " + std::string(name), request.peerAddress(), 2);
    }
    return err::kTemplateParse;
  }
  EnvRoot root(request, services.providers);
  RunTemplate(*start, &root, out, nullptr, services.limits);
  return err::kOk;
}

RenderResult RenderTemplate(std::string_view name, const TemplateArchive* archive, RenderRequest& request,
                            const RenderServices& services) {
  RenderResult result;
  PageBuffer page;
  result.error = RenderTemplate(name, archive, request, page, services);
  if (result.error == err::kOk) result.page = page.take();
  return result;
}

}  // namespace vantrel::templates
