// SPDX-License-Identifier: MIT
#pragma once
// TemplatePageRenderer: the file server's pages and images from the packed
// template archive, rendered by the template system with the request's
// parameters and its upload session. The archive and the provider factory
// (optional) must outlive it and must not change while the server runs.
// Thread-safe: each rendering owns its parse and its page.

#include "fileserver/file_server_host.h"
#include "templates/render_template.h"

namespace vantrel {

class TemplatePageRenderer : public PageRenderer {
 public:
  TemplatePageRenderer(const templates::TemplateArchive& archive, templates::ProviderFactory* providers, Log* log);

  int render(const PageContext& context, std::string& page) override;
  std::span<const uint8_t> image(std::string_view name) override;

 private:
  const templates::TemplateArchive& m_archive;
  templates::RenderServices m_services;
};

}  // namespace vantrel
