// SPDX-License-Identifier: MIT
#include "fileserver/recent_uploads.h"

namespace vantrel {

void RecentUploads::add(RecentUpload entry) {
  std::scoped_lock lock(m_mutex);
  if (m_entries.size() > kKeepBeforeAdd) m_entries.pop_back();
  m_entries.push_front(std::move(entry));
}

std::vector<RecentUpload> RecentUploads::entries() const {
  std::scoped_lock lock(m_mutex);
  return {m_entries.begin(), m_entries.end()};
}

}  // namespace vantrel
