// SPDX-License-Identifier: MIT
#include "templates/parsed_pages.h"

#include "templates/render_template.h"
#include "templates/template_parser.h"

namespace vantrel::templates {

const ParsedPages::Page* ParsedPages::find(std::string_view name) {
  std::scoped_lock lock(m_mutex);
  if (const auto at = m_pages.find(name); at != m_pages.end()) return at->second.get();
  const std::optional<std::string_view> content = m_archive.FindEntry(name);
  if (!content) return nullptr;
  // Parsed under the lock: it happens once for each page, and a second thread
  // asking for the same page meanwhile must not parse it again.
  auto page = std::make_unique<Page>();
  ParseTemplateFile(templateText(*content), page->set,
                    [&page](std::string_view line) { page->reports.emplace_back(line); });
  const Page* parsed = page.get();
  m_pages.emplace(std::string(name), std::move(page));
  return parsed;
}

}  // namespace vantrel::templates
