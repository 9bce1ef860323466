// SPDX-License-Identifier: MIT
#pragma once
// RecentUploads: the downloads this file server served lately, newest first, for
// the status pages. At most 21 entries: adding to more than 20 first drops the
// oldest. Thread-safe; readers get copies.

#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel {

struct RecentUpload {
  int32_t fileId = -1;
  std::string groupName;
  std::string fileName;
  std::string userName;
  std::string result;  // "Success" or "Did not finish"
  std::time_t when = 0;
};

class RecentUploads {
 public:
  static constexpr std::size_t kKeepBeforeAdd = 20;

  void add(RecentUpload entry);
  std::vector<RecentUpload> entries() const;

 private:
  mutable std::mutex m_mutex;
  std::deque<RecentUpload> m_entries;  // guarded by m_mutex; newest first
};

}  // namespace vantrel
