// SPDX-License-Identifier: MIT
#pragma once
// MissingFiles: the logic of the "Missing Files.." dialog, where the person
// points shared files that were moved to their new place, lets the client
// search folders for them ("Auto Find"), or stops sharing them. The front end
// draws the rows and forwards the buttons; the search may run on a worker
// thread while the front end's stop button sets the stop flag. One thread at
// a time otherwise. The list and context must outlive the object.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "catalogue/shared_file_list.h"
#include "protocol/protocol_context.h"

namespace vantrel {

class MissingFiles {
 public:
  static constexpr const char* kTitle = "Missing Files..";
  static constexpr const char* kStopSharing = "Stop sharing this file";

  struct Row {
    std::string name;            // lower-cased file name
    int32_t recordedSize = 0;
    std::string replacement;     // a path, or kStopSharing
    int64_t replacementSize = 0;
    std::vector<int32_t> fileIds;  // every invalid record with this name
  };

  // Rows for the invalid records of the list, one per lower-cased name.
  explicit MissingFiles(SharedFileList& list);

  const std::map<std::string, Row>& rows() const { return m_rows; }

  // "Browse For Selected File": the warning to show for this selection, or "".
  static std::string browseProblem(std::size_t selectedRows);
  void setReplacement(const std::string& name, const std::string& path, int64_t size);
  // "Stop Sharing Selected File": the warning for an empty selection, or "".
  std::string stopSharing(const std::vector<std::string>& names);

  // "Auto Find": searches the folders depth first; every match is reported as
  // a "Found match for ..." line and may become the row's replacement. Stops
  // at the next folder once `stop` is set; what was found stays.
  void autoFind(const std::vector<std::string>& roots, const std::atomic<bool>& stop,
                const std::function<void(const std::string&)>& onLine);
  // The closest-size rule for one match.
  void offerMatch(Row& row, const std::string& path, int64_t size, const std::function<void(const std::string&)>& onLine);

  // The names of rows that still say "Stop sharing this file" (for the confirmation).
  std::vector<std::string> stopSharingNames() const;
  // "OK" once confirmed: moved files get their new paths and are shared
  // again under their IDs; the others stop being shared, in the list and in
  // one request on the server.
  void apply(ProtocolContext& ctx);

 private:
  void searchFolder(const std::string& folder, const std::atomic<bool>& stop,
                    const std::function<void(const std::string&)>& onLine);

  SharedFileList& m_list;
  std::map<std::string, Row> m_rows;
};

}  // namespace vantrel
