// SPDX-License-Identifier: MIT
#pragma once
// ParsedPages: the template files of a page archive, each parsed on its first
// use and kept for every rendering after it. The archive is read-only while a
// server runs, so a parse made once gives the same trees as one made for each
// request; the parser's report lines are kept with the trees, so that each
// rendering can hand them on as a fresh parse would have.
//
// The archive must outlive this object and must not change while it is in
// use. Thread-safe: any number of threads may call find at once; a parsed page
// is never changed or freed before this object goes, and running its
// templates only reads it.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "templates/template_archive.h"
#include "templates/template_tree.h"

namespace vantrel::templates {

class ParsedPages {
 public:
  struct Page {
    TemplateSet set;
    std::vector<std::string> reports;  // the parser's report lines, in order
  };

  explicit ParsedPages(const TemplateArchive& archive) : m_archive(archive) {}
  ParsedPages(const ParsedPages&) = delete;
  ParsedPages& operator=(const ParsedPages&) = delete;

  // The parsed template file `name`, or nullptr when the archive has no such
  // entry (names not in the archive are not remembered).
  const Page* find(std::string_view name);

 private:
  const TemplateArchive& m_archive;
  std::mutex m_mutex;
  std::map<std::string, std::unique_ptr<Page>, std::less<>> m_pages;  // guarded by m_mutex
};

}  // namespace vantrel::templates
