// SPDX-License-Identifier: MIT
#include "fileserver/template_page_renderer.h"

#include "core/log.h"

namespace vantrel {
namespace {

class ConnectionRequest : public templates::RenderRequest {
 public:
  explicit ConnectionRequest(const PageContext& context) : m_context(context) {}

  std::string peerAddress() const override { return std::string(m_context.requester); }
  void forEachParameter(const std::function<void(std::string_view, std::string_view)>& visit) const override {
    for (const auto& [name, values] : m_context.params.entries()) {
      for (const auto& value : values) visit(name, value);
    }
  }
  UploadSession* session() const override { return &m_context.session; }

 private:
  const PageContext& m_context;
};

}  // namespace

TemplatePageRenderer::TemplatePageRenderer(const templates::TemplateArchive& archive,
                                           templates::ProviderFactory* providers, Log* log)
    : m_archive(archive) {
  m_services.providers = providers;
  m_services.log = log;
  // A server has no terminal: parser reports go to the log, or nowhere.
  m_services.reports = [log](std::string_view line) {
    if (log != nullptr) log->logText(line, 2);
  };
}

int TemplatePageRenderer::render(const PageContext& context, std::string& page) {
  ConnectionRequest request(context);
  templates::RenderResult result = templates::RenderTemplate(context.templateName, &m_archive, request, m_services);
  page = std::move(result.page);
  return result.error;
}

std::span<const uint8_t> TemplatePageRenderer::image(std::string_view name) {
  const auto entry = m_archive.FindEntry(name);
  if (!entry) return {};
  return {reinterpret_cast<const uint8_t*>(entry->data()), entry->size()};
}

}  // namespace vantrel
