// SPDX-License-Identifier: MIT
#include "providers/page_renderer.h"

#include "core/error_table.h"
#include "core/log.h"
#include "templates/output_sink.h"
#include "providers/client_env_root.h"
#include "templates/render_template.h"
#include "templates/template_interpreter.h"

namespace vantrel::providers {
namespace {

// The request as the file server's connection holds it.
class ConnectionRequest : public templates::RenderRequest {
 public:
  explicit ConnectionRequest(const PageContext& context) : m_context(context) {}
  std::string peerAddress() const override { return std::string(m_context.requester); }
  void forEachParameter(const std::function<void(std::string_view, std::string_view)>& visit) const override {
    for (const auto& [name, values] : m_context.params.entries()) {
      for (const std::string& value : values) visit(name, value);
    }
  }
  UploadSession* session() const override { return &m_context.session; }

 private:
  const PageContext& m_context;
};

}  // namespace

namespace {

// Runs the "start" template of a parsed page for the request.
int runClientPage(std::string_view name, const templates::TemplateSet& set, const ClientFacts& facts,
                  templates::RenderRequest& request, std::string& page, Log* log) {
  const templates::Template* start = set.find("start");
  if (start == nullptr) {
    if (log != nullptr) {
      log->logActivity("Error finding start/finish tags in " + std::string(name), request.peerAddress(), 2);
    }
    return err::kTemplateParse;
  }
  ClientEnvRoot root(facts, request);
  templates::PageBuffer buffer;
  templates::RunTemplate(*start, &root, buffer, nullptr);
  page = buffer.take();
  return err::kOk;
}

void logMissingPage(std::string_view name, templates::RenderRequest& request, Log* log) {
  if (log != nullptr) {
    log->logActivity("Error loading filereader for template " + std::string(name), request.peerAddress(), 2);
  }
}

}  // namespace

int renderClientPage(std::string_view name, const templates::TemplateArchive& archive, const ClientFacts& facts,
                     templates::RenderRequest& request, std::string& page, Log* log,
                     const templates::ReportFn& reports) {
  page.clear();
  const std::optional<std::string_view> content = archive.FindEntry(name);
  if (!content) {
    logMissingPage(name, request, log);
    return err::kTemplateNotFound;
  }
  templates::TemplateSet set;
  templates::ParseTemplateFile(templates::templateText(*content), set, reports);
  return runClientPage(name, set, facts, request, page, log);
}

int ClientPageRenderer::render(const PageContext& context, std::string& page) {
  ConnectionRequest request(context);
  page.clear();
  const templates::ParsedPages::Page* parsed = m_parsed.find(context.templateName);
  if (parsed == nullptr) {
    logMissingPage(context.templateName, request, m_log);
    return err::kTemplateNotFound;
  }
  // Whoever writes pages reads the parser's report on the client's standard
  // output and in its log, with the page it is about, at every request as
  // when each request parsed its page.
  for (const std::string& line : parsed->reports) {
    templates::reportToStdout(line);
    if (m_log != nullptr) m_log->logText("Template " + std::string(context.templateName) + ": " + line, 1);
  }
  return runClientPage(context.templateName, parsed->set, m_facts, request, page, m_log);
}

std::span<const uint8_t> ClientPageRenderer::image(std::string_view name) {
  const std::optional<std::string_view> content = m_archive.FindEntry(name);
  if (!content) return {};
  return {reinterpret_cast<const uint8_t*>(content->data()), content->size()};
}

}  // namespace vantrel::providers
