// SPDX-License-Identifier: MIT
#pragma once
// ClientPageRenderer: the file server's page renderer over the page archive.
// Each page is parsed on its first request and kept (the archive does not
// change while the client runs); its "start" template runs against a fresh
// ClientEnvRoot for each request, so the directory browsers and every other
// provider of the client's pages are there. The parser's report goes to
// standard output and, naming the page, to the log, at every request.
//
// Thread-safe: renderings share only the archive, which must not change
// while the renderer is in use, and the facts. Both outlive the renderer.

#include <cstdint>
#include <span>
#include <string>

#include "fileserver/file_server_host.h"
#include "providers/client_facts.h"
#include "templates/parsed_pages.h"
#include "templates/render_request.h"
#include "templates/template_archive.h"
#include "templates/template_parser.h"

namespace vantrel {
class Log;
}

namespace vantrel::providers {

// Renders the template file `name` from the archive for the request into
// page: 0, 400 (no such entry) or 401 (no "start" template).
int renderClientPage(std::string_view name, const templates::TemplateArchive& archive, const ClientFacts& facts,
                     templates::RenderRequest& request, std::string& page, Log* log = nullptr,
                     const templates::ReportFn& reports = templates::reportToStdout);

class ClientPageRenderer : public PageRenderer {
 public:
  ClientPageRenderer(const templates::TemplateArchive& archive, const ClientFacts& facts, Log* log = nullptr)
      : m_archive(archive), m_parsed(archive), m_facts(facts), m_log(log) {}

  int render(const PageContext& context, std::string& page) override;
  std::span<const uint8_t> image(std::string_view name) override;

 private:
  const templates::TemplateArchive& m_archive;
  templates::ParsedPages m_parsed;
  const ClientFacts& m_facts;
  Log* m_log;
};

}  // namespace vantrel::providers
