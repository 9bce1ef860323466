// SPDX-License-Identifier: MIT
#include "templates/output_sink.h"

namespace vantrel::templates {

bool PageBuffer::Write(std::string_view bytes) {
  if (m_full) return false;
  if (bytes.size() > m_limit - m_page.size()) {
    // Checked before growing: a page never takes more than its limit plus
    // the one message that says it was cut.
    m_full = true;
    m_page += kFullMessage;
    return false;
  }
  // std::string grows geometrically, so appends are amortised constant time.
  m_page.append(bytes);
  return true;
}

}  // namespace vantrel::templates
