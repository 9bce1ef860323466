// SPDX-License-Identifier: MIT
#pragma once
// Contest points: while the server says the user takes part in a contest, the
// client awards itself points for files served to other users, per remote
// address, from milestones of kilobytes and files; the total goes out with
// every UDP ping ("&pt="). The table is kept in "<user>extra.dat" in the
// client's home, in the archive encoding, as a map from address to CContestEntry.
//
// Thread-safe: AwardTransfer runs on file-server connection threads, SaveContest
// on the ping sender, ContestTotal while the ping text is built; one lock guards
// the map and the total.

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "core/archive.h"

namespace vantrel {

// One remote address's progress (archive class "CContestEntry", schema 1).
class CContestEntry : public ArchiveObject {
 public:
  static constexpr ArchiveClass kArchiveClass{"CContestEntry", 1};

  int files = 0;
  int nextFilesMilestone = 1;
  int kilobytes = 0;
  int nextKilobytesMilestone = 500;
  int points = 0;

  ArchiveClass archiveClass() const override { return kArchiveClass; }
  void store(ArchiveWriter& out) const override;
  void load(ArchiveReader& in) override;
};

// Award and next milestone of a milestone value.
struct Milestone {
  int award;
  int next;
};
Milestone kilobytesMilestone(int milestone);
Milestone filesMilestone(int milestone);

class ContestTable {
 public:
  // "<home>/<user>extra.dat".
  static std::filesystem::path contestFile(const std::filesystem::path& home, std::string_view user);

  // Transfers to this address (the machine's own) earn nothing.
  void setLocalAddress(std::string address);

  // Counts one finished or stopped transfer: `files` is 1 for a complete file.
  void AwardTransfer(int kilobytes, int files, std::string_view remoteAddress);

  // Reads the table from `file`; entries of the file replace those of the same
  // address. A missing or malformed file leaves the table as it was. Returns
  // whether the file was read.
  bool LoadContest(const std::filesystem::path& file);
  // Writes the table crash-safely (temporary file, then rename). Returns success.
  bool SaveContest(const std::filesystem::path& file) const;

  int ContestTotal() const;
  // A copy of one address's entry; all zero when unknown.
  CContestEntry entry(std::string_view address) const;

 private:
  mutable std::mutex m_mutex;
  std::map<std::string, CContestEntry, std::less<>> m_entries;  // guarded by m_mutex
  int m_total = 0;                                             // guarded by m_mutex
  std::string m_localAddress;                                  // guarded by m_mutex
};

}  // namespace vantrel
