// SPDX-License-Identifier: MIT
// Reading any bytes as a page archive never crashes or allocates more than
// the bytes can hold; an archive that reads writes back to bytes that read
// to the same archive.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "templates/template_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::templates::TemplateArchive archive;
  if (archive.read(std::span(data, size)) != vantrel::ArchiveError::None) {
    if (!archive.entries().empty()) std::abort();
    return 0;
  }
  const std::vector<uint8_t> written = archive.write();
  vantrel::templates::TemplateArchive again;
  if (again.read(written) != vantrel::ArchiveError::None) std::abort();
  if (again.write() != written) std::abort();
  return 0;
}
